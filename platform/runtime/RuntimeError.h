#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace zr::rt {

// Error numbers follow the conventions the suite's log readers already know.
namespace err {
inline constexpr int32_t InvalidProcedureCall = 5;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t Internal = 51;
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t DiskFull = 61;
inline constexpr int32_t DeviceUnavailable = 68;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathFileAccess = 75;
inline constexpr int32_t PathNotFound = 76;
inline constexpr int32_t InvalidUseOfNull = 94;
inline constexpr int32_t BadFileFormat = 321;
inline constexpr int32_t CannotCreateComponent = 429;
inline constexpr int32_t JetFileNotFound = 3024;
inline constexpr int32_t JetNotValidPassword = 3031;
inline constexpr int32_t JetFileInUse = 3045;
inline constexpr int32_t JetSyntaxError = 3075;
inline constexpr int32_t JetUnrecognizedFormat = 3343;
}  // namespace err

// A run-time error: a number and a description, as every trapping procedure
// hands them on to the error trap.
class RuntimeError : public std::exception {
 public:
  RuntimeError(int32_t number, std::string description);

  int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int32_t number_;
  std::string description_;
};

// Turns whatever is in flight into a RuntimeError. Call only inside a catch
// block; exceptions that are not run-time errors get numbers of our own.
RuntimeError CurrentError();

// Maps an errno value from a file operation to a run-time error whose
// description names what was being done (ErrnoTable.cpp).
RuntimeError ErrorFromErrno(int errnum, const std::string& what);

}  // namespace zr::rt

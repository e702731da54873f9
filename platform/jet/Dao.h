#pragma once

#include <memory>
#include <optional>
#include <string>

// A small data-access layer over Jet 4 files, shaped like the engine objects
// the version check uses: engine -> workspace -> database -> recordset ->
// field. Failures are rt::RuntimeError with the engine's numbers.
namespace zr::jet {

// A field value: text, or Null.
using Value = std::optional<std::string>;

// Text of a value; Null is run-time error 94.
std::string ToText(const Value& value);

inline constexpr int dbOpenSnapshot = 4;

class Field {
 public:
  virtual ~Field() = default;
  virtual Value GetValue() const = 0;
};

class Recordset {
 public:
  virtual ~Recordset() = default;
  virtual bool IsEOF() const = 0;
  // Field of the current row by position.
  virtual const Field& Fields(int index) const = 0;
  virtual void Close() = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& query, int type) = 0;
  virtual void Close() = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // Releasing the returned object closes the database.
  virtual std::unique_ptr<Database> OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                 const std::string& connect) = 0;
  // The same on a file already open for reading, which the database reads
  // and locks through a copy of `fd` of its own; `shown` names it in
  // messages. What the file is called, or whether it still has a name, does
  // not matter.
  virtual std::unique_ptr<Database> OpenDatabase(int fd, const std::string& shown, bool exclusive, bool readOnly,
                                                 const std::string& connect) = 0;
};

class DBEngine {
 public:
  virtual ~DBEngine() = default;
  // Item 0 is the default workspace.
  virtual Workspace& Workspaces(int index) = 0;
};

// The engine, created at first use and kept for the rest of the run.
DBEngine& Engine();

}  // namespace zr::jet

#include "RuntimeError.h"

#include <new>
#include <system_error>
#include <utility>

namespace zr::rt {

RuntimeError::RuntimeError(int32_t number, std::string description)
    : number_(number), description_(std::move(description)) {}

RuntimeError CurrentError() {
  try {
    throw;
  } catch (const RuntimeError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return RuntimeError(err::OutOfMemory, "メモリが不足しています。");
  } catch (const std::system_error& e) {
    return ErrorFromErrno(e.code().value(), e.what());
  } catch (const std::exception& e) {
    return RuntimeError(err::Internal, std::string("内部エラーが発生しました。(") + e.what() + ")");
  } catch (...) {
    return RuntimeError(err::Internal, "内部エラーが発生しました。");
  }
}

}  // namespace zr::rt

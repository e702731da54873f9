#include "RuntimeError.h"

#include <cerrno>
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

RuntimeError ErrorFromErrno(int errnum, const std::string& what) {
  switch (errnum) {
    case ENOENT:
      return RuntimeError(err::FileNotFound, "ファイルが見つかりません。(" + what + ")");
    case ENOTDIR:
      return RuntimeError(err::PathNotFound, "パスが見つかりません。(" + what + ")");
    case EACCES:
    case EPERM:
    case EROFS:
      return RuntimeError(err::PermissionDenied, "アクセスが拒否されました。(" + what + ")");
    case ENOSPC:
    case EDQUOT:
      return RuntimeError(err::DiskFull, "ディスクの空き容量が不足しています。(" + what + ")");
    case ENOMEM:
      return RuntimeError(err::OutOfMemory, "メモリが不足しています。(" + what + ")");
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return RuntimeError(err::DeviceUnavailable, "デバイスが準備されていません。(" + what + ")");
    default:
      return RuntimeError(err::PathFileAccess, "パスまたはファイルへのアクセスでエラーが発生しました。(" + what + ")");
  }
}

}  // namespace zr::rt

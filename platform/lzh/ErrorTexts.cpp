// The run-time errors the archive layer raises, worded once for every file of it.
#include "platform/lzh/ErrorTexts.h"

#include <sys/stat.h>

#include <cerrno>

namespace zr::lzh {

std::string FaultText(HeaderFault fault) {
  switch (fault) {
    case HeaderFault::NotLzh:
      return "LZH形式のヘッダーがありません";
    case HeaderFault::Truncated:
      return "ファイルが途中で切れています";
    case HeaderFault::BadChecksum:
      return "ヘッダーのチェックサムが一致しません";
    case HeaderFault::BadHeaderCrc:
      return "ヘッダーのCRCが一致しません";
    case HeaderFault::BadExtension:
      return "拡張ヘッダーが正しくありません";
    case HeaderFault::TooLarge:
      return "ヘッダーが大きすぎます";
    case HeaderFault::BadSize:
      return "格納サイズが正しくありません";
    case HeaderFault::BadLayout:
    case HeaderFault::None:
      break;
  }
  return "ヘッダーの内容が正しくありません";
}

rt::RuntimeError ArchiveDamaged(const std::string& archive, const std::string& reason) {
  return rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイルが壊れているか、LZH形式ではありません。(" +
                                                      reason + ": " + archive + ")");
}

rt::RuntimeError MemberDamaged(const std::string& archive, const std::string& member, const std::string& reason) {
  return rt::RuntimeError(rt::err::BadFileFormat, "バックアップファイル内の「" + member + "」が壊れています。(" +
                                                      reason + ": " + archive + ")");
}

rt::RuntimeError MemberDamaged(const std::string& archive, const std::string& member, DataFault fault) {
  switch (fault) {
    case DataFault::Crc:
      return MemberDamaged(archive, member, "データのCRCが一致しません");
    case DataFault::Length:
      return MemberDamaged(archive, member, "データの長さが格納サイズと一致しません");
    case DataFault::TooLong:
      return MemberDamaged(archive, member, "展開したデータが格納サイズを超えています");
    case DataFault::Truncated:
      return MemberDamaged(archive, member, "データが途中で切れています");
    case DataFault::BadStream:
      return MemberDamaged(archive, member, "圧縮データが正しくありません");
    case DataFault::OutOfOrder:
      break;
  }
  return MemberDamaged(archive, member, "データの並びが正しくありません");
}

rt::RuntimeError ArchiveOpenError(int errnum, const std::string& archive) {
  if (errnum == ENOENT) {
    return rt::RuntimeError(rt::err::FileNotFound, "バックアップファイルが見つかりません。(" + archive + ")");
  }
  if (errnum == ENOTDIR) {
    return rt::RuntimeError(rt::err::PathNotFound,
                            "バックアップファイルのフォルダーが見つかりません。(" + archive + ")");
  }
  if (errnum == EISDIR || errnum == EINVAL) {
    return rt::RuntimeError(rt::err::PathFileAccess, "バックアップファイルではありません。(" + archive + ")");
  }
  return rt::ErrorFromErrno(errnum, "バックアップファイルを開けません: " + archive);
}

rt::RuntimeError ArchiveReadError(int errnum, const std::string& archive) {
  return rt::ErrorFromErrno(errnum, "バックアップファイルを読み込めません: " + archive);
}

}  // namespace zr::lzh

namespace zr::lzh {

rt::RuntimeError NotRegularFile(unsigned mode, const std::string& archive) {
  const char* kind = S_ISDIR(mode)    ? "フォルダ"
                     : S_ISFIFO(mode) ? "名前付きパイプ（FIFO）"
                     : S_ISCHR(mode)  ? "キャラクタデバイス"
                     : S_ISBLK(mode)  ? "ブロックデバイス"
                     : S_ISSOCK(mode) ? "ソケット"
                                      : "通常のファイル以外";
  return rt::RuntimeError(rt::err::PathFileAccess,
                          std::string("バックアップファイルではありません（") + kind + "です）。(" + archive + ")");
}

}  // namespace zr::lzh

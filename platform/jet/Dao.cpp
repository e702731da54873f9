#include "platform/jet/Dao.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/jet/Protocol.h"
#include "platform/jet/Query.h"
#include "platform/jet/ReadHelper.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/UniqueFd.h"

namespace zr::jet {
namespace {

using rt::RuntimeError;
namespace err = rt::err;

// Engine errors beyond the common set.
constexpr int32_t kInvalidArgument = 3001;
constexpr int32_t kNoCurrentRecord = 3021;
constexpr int32_t kCannotOpen = 3051;
constexpr int32_t kTooFewParameters = 3061;
constexpr int32_t kNoInputTable = 3078;
constexpr int32_t kItemNotFound = 3265;
constexpr int32_t kObjectClosed = 3420;

RuntimeError ObjectClosed() { return RuntimeError(kObjectClosed, "オブジェクトが無効か、既に閉じられています。"); }

RuntimeError NotADatabase(const std::string& path) {
  return RuntimeError(err::JetUnrecognizedFormat, "データベース '" + path + "' は認識できない形式か、壊れています。");
}

// The open file, held (and locked) until the database is closed, and the
// helper that reads it: one for the database's whole life.
struct DatabaseState {
  std::string path;
  std::unique_ptr<rt::UniqueFd> file;
  std::unique_ptr<detail::ReadHelper> helper;
  bool open() const { return file != nullptr; }
  void Close() {
    helper.reset();
    file.reset();
  }
};

int OpenFile(const std::string& path) {
  if (path.empty()) throw RuntimeError(err::JetFileNotFound, "データベースのファイル名が指定されていません。");
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR || e == ENAMETOOLONG || e == ELOOP) {
      throw RuntimeError(err::JetFileNotFound, "ファイル '" + path + "' が見つかりませんでした。");
    }
    if (e == EBUSY || e == ETXTBSY) throw RuntimeError(err::JetFileInUse, "ファイル '" + path + "' は使用中です。");
    throw RuntimeError(kCannotOpen,
                       "ファイル '" + path + "' を開けませんでした。(" + std::string(std::strerror(e)) + ")");
  }
  return fd;
}

// Exclusive use: our own flock and an open-file-description lock, and no
// lock of anyone else's on the file, whether flock or POSIX record lock.
void Lock(int fd, bool exclusive, const std::string& path) {
  RuntimeError inUse(err::JetFileInUse,
                     "ファイル '" + path + "' は他のユーザーまたはプログラムが使用中のため、開けませんでした。");
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK || errno == EINTR) throw inUse;
    throw RuntimeError(kCannotOpen, "ファイル '" + path + "' をロックできませんでした。");
  }
  struct flock mine {};
  mine.l_type = F_RDLCK;
  mine.l_whence = SEEK_SET;
  if (fcntl(fd, F_OFD_SETLK, &mine) != 0) {
    if (errno == EAGAIN || errno == EACCES) throw inUse;
    throw RuntimeError(kCannotOpen, "ファイル '" + path + "' をロックできませんでした。");
  }
  if (exclusive) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) throw inUse;
  }
}

class FieldImpl;

class RecordsetImpl : public Recordset {
 public:
  RecordsetImpl(std::shared_ptr<DatabaseState> db, std::vector<Value> rows);
  ~RecordsetImpl() override { Close(); }

  bool IsEOF() const override {
    Check();
    return rows_.empty();
  }

  const Field& Fields(int index) const override;

  void Close() override { open_ = false; }

  Value CurrentValue() const {
    Check();
    if (rows_.empty()) throw RuntimeError(kNoCurrentRecord, "カレント レコードがありません。");
    return rows_.front();
  }

 private:
  void Check() const {
    if (!open_ || !db_->open()) throw ObjectClosed();
  }

  std::shared_ptr<DatabaseState> db_;
  std::vector<Value> rows_;
  bool open_ = true;
  std::unique_ptr<FieldImpl> field_;
};

class FieldImpl : public Field {
 public:
  explicit FieldImpl(const RecordsetImpl& owner) : owner_(owner) {}
  Value GetValue() const override { return owner_.CurrentValue(); }

 private:
  const RecordsetImpl& owner_;
};

RecordsetImpl::RecordsetImpl(std::shared_ptr<DatabaseState> db, std::vector<Value> rows)
    : db_(std::move(db)), rows_(std::move(rows)), field_(std::make_unique<FieldImpl>(*this)) {}

const Field& RecordsetImpl::Fields(int index) const {
  Check();
  if (index != 0) {
    throw RuntimeError(kItemNotFound, "このコレクションには項目 " + std::to_string(index) + " がありません。");
  }
  return *field_;
}

class DatabaseImpl : public Database {
 public:
  explicit DatabaseImpl(std::shared_ptr<DatabaseState> state) : state_(std::move(state)) {}
  ~DatabaseImpl() override { Close(); }

  std::unique_ptr<Recordset> OpenRecordset(const std::string& query, int type) override {
    if (!state_->open()) throw ObjectClosed();
    if (type != dbOpenSnapshot) {
      throw RuntimeError(kInvalidArgument, "引数が無効です。(レコードセットの種類 " + std::to_string(type) + ")");
    }
    auto select = detail::ParseSelect(query);
    if (!select) throw RuntimeError(err::JetSyntaxError, "クエリ式 '" + query + "' の構文が正しくありません。");
    const auto answer = state_->helper->Ask(detail::EncodeSelect(*select));
    auto decoded = answer ? detail::DecodeOutcome(*answer) : std::nullopt;
    if (!decoded) throw NotADatabase(state_->path);
    detail::ReadOutcome& outcome = *decoded;
    switch (outcome.status) {
      case detail::ReadStatus::Ok:
        break;
      case detail::ReadStatus::NoTable:
        throw RuntimeError(kNoInputTable,
                           "入力テーブル '" + outcome.missing + "' が見つかりません。(" + state_->path + ")");
      case detail::ReadStatus::NoColumn:
        throw RuntimeError(kTooFewParameters, "パラメータが少なすぎます。列 '" + outcome.missing + "' がテーブル '" +
                                                  select->table + "' にありません。");
      case detail::ReadStatus::Unreadable:
        throw NotADatabase(state_->path);
    }
    return std::make_unique<RecordsetImpl>(state_, std::move(outcome.values));
  }

  void Close() override { state_->Close(); }

 private:
  std::shared_ptr<DatabaseState> state_;
};

class WorkspaceImpl : public Workspace {
 public:
  std::unique_ptr<Database> OpenDatabase(const std::string& path, bool exclusive, bool /*readOnly*/,
                                         const std::string& connect) override {
    // Only reading is offered, so every open is a read-only one.
    return Open(std::make_unique<rt::UniqueFd>(OpenFile(path)), path, exclusive, connect);
  }

  std::unique_ptr<Database> OpenDatabase(int fd, const std::string& shown, bool exclusive, bool /*readOnly*/,
                                         const std::string& connect) override {
    // An opening of its own of exactly that file, so that its locks are the
    // database's and go when it is closed, whatever the caller keeps open.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    struct stat given {};
    const int own =
        fd < 0 || fstat(fd, &given) != 0 ? -1 : open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (own < 0) {
      throw RuntimeError(kCannotOpen, "ファイル '" + shown + "' を開けませんでした。(" +
                                          std::string(std::strerror(fd < 0 ? EBADF : errno)) + ")");
    }
    struct stat opened {};
    if (fstat(own, &opened) != 0 || opened.st_dev != given.st_dev || opened.st_ino != given.st_ino) {
      close(own);
      throw RuntimeError(kCannotOpen, "ファイル '" + shown + "' を開けませんでした。");
    }
    return Open(std::make_unique<rt::UniqueFd>(own), shown, exclusive, connect);
  }

 private:
  static std::unique_ptr<Database> Open(std::unique_ptr<rt::UniqueFd> file, const std::string& path, bool exclusive,
                                        const std::string& connect) {
    const int fd = file->get();
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      throw RuntimeError(err::JetFileNotFound, "'" + path + "' はファイルではありません。");
    }
    Lock(fd, exclusive, path);

    // The helper reads through an opening of its own, so the locks are
    // ours alone: closing the database releases them at once, however long
    // the helper takes to leave.
    const rt::UniqueFd forHelper(
        open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat reopened {};
    if (!forHelper.valid() || fstat(forHelper.get(), &reopened) != 0 || reopened.st_dev != st.st_dev ||
        reopened.st_ino != st.st_ino) {
      throw RuntimeError(kCannotOpen, "ファイル '" + path + "' を開けませんでした。");
    }
    auto helper = std::make_unique<detail::ReadHelper>(forHelper.get());
    const auto answer = helper->Ask(detail::EncodeOpen(connect));
    const auto verdict = answer ? detail::DecodeVerdict(*answer) : std::nullopt;
    if (verdict == detail::OpenVerdict::WrongPassword) {
      throw RuntimeError(err::JetNotValidPassword, "パスワードが正しくありません。(" + path + ")");
    }
    if (verdict != detail::OpenVerdict::Ok) throw NotADatabase(path);
    auto state = std::make_shared<DatabaseState>();
    state->path = path;
    state->file = std::move(file);
    state->helper = std::move(helper);
    return std::make_unique<DatabaseImpl>(std::move(state));
  }
};

class EngineImpl : public DBEngine {
 public:
  Workspace& Workspaces(int index) override {
    if (index != 0) {
      throw RuntimeError(kItemNotFound, "このコレクションには項目 " + std::to_string(index) + " がありません。");
    }
    return workspace_;
  }

 private:
  WorkspaceImpl workspace_;
};

}  // namespace

std::string ToText(const Value& value) {
  if (!value) throw RuntimeError(err::InvalidUseOfNull, "Null の使い方が不正です。");
  return *value;
}

DBEngine& Engine() {
  static EngineImpl engine;
  return engine;
}

}  // namespace zr::jet

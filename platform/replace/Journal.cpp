// Where the way back of a replacement is kept, outside the folder it replaces in.
#include "platform/replace/Journal.h"

#include <mutex>
#include <utility>

namespace zr::replace {
namespace {

std::mutex installedMutex;
std::shared_ptr<Journal> installedJournal;
std::function<void(const std::string&)> noteSink;
thread_local JournalScope* currentScope = nullptr;

}  // namespace

void InstallJournal(std::shared_ptr<Journal> journal) {
  std::lock_guard lock(installedMutex);
  installedJournal = std::move(journal);
}

std::shared_ptr<Journal> InstalledJournal() {
  std::lock_guard lock(installedMutex);
  return installedJournal;
}

JournalScope::JournalScope(Journal& journal, std::string token)
    : journal_(journal), token_(std::move(token)), previous_(currentScope) {
  currentScope = this;
}

JournalScope::~JournalScope() { currentScope = previous_; }

JournalScope* JournalScope::Current() { return currentScope; }

void InstallRecoveryNotes(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(installedMutex);
  noteSink = std::move(sink);
}

void RecoveryNote(const std::string& text) noexcept {
  try {
    std::function<void(const std::string&)> sink;
    {
      std::lock_guard lock(installedMutex);
      sink = noteSink;
    }
    if (sink) sink(text);
  } catch (...) {
  }
}

}  // namespace zr::replace

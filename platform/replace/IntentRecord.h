#pragma once

// The intent record a replacement flushes before its first rename, so an interrupted one can be undone.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replace/Identity.h"
#include "platform/replace/PathParts.h"
#include "platform/replace/RecordKey.h"

namespace zr::replace {

struct Intent {
  struct Entry {
    PathParts target;                    // under the folder, file name last
    std::string staged;                  // the new copy's name in the folder; empty when the target goes
    std::string backup;                  // the old file's name there while it is replaced; empty when none
    std::optional<FileIdentity> old;     // the file the target held before
    std::optional<FileIdentity> placed;  // the staged copy, as it will stand at the target
    // The old file is moved to the backup's name when its turn comes (no
    // hard links here) rather than linked there ahead.
    bool movedAside = false;
  };
  std::string token;  // the journal entry this replacement commits; empty for none
  std::vector<Entry> entries;
  std::vector<PathParts> createdFolders;  // in the order they were made
};

// The bytes of the record named `recordName`; the last line seals them with
// an authenticator under the user's key, so neither a record cut short nor
// one written by anyone without the key (another user of a shared folder,
// on a file system whose owners and modes prove nothing) passes for ours.
std::string EncodeIntent(const Intent& intent, const RecordKey& key, std::string_view recordName);

// The intent of a whole record sealed under `key` with `recordName`, whose
// every name is a single name of our own form; nothing for anything else.
std::optional<Intent> DecodeIntent(std::string_view bytes, const RecordKey& key, std::string_view recordName);

}  // namespace zr::replace

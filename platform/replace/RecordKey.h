#pragma once

// The secret that makes an intent record provably this user's program's own, on any file system.
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zr::replace {

inline constexpr std::size_t kRecordKeyBytes = 32;
using RecordKey = std::array<unsigned char, kRecordKeyBytes>;

// Where the key is kept: a file of exactly kRecordKeyBytes random bytes,
// made there (owner-only) the first time a record is sealed. Without a file
// installed, a key of this process alone is used, which no other process
// can check: enough for throwaway replacements, not for anything a later
// start must recover.
void InstallRecordKeyFile(std::function<std::filesystem::path()> file);

// The key new records are sealed with. A run-time error naming the file
// when it is there but not usable (a link, not a regular file, unreadable,
// of another size) or cannot be made: the change must not begin then.
RecordKey SealingKey();

// The key records are checked with; nothing when there is no usable key
// file (a missing one is not made here): every record then stays unproven,
// so an unfinished change is never forgotten because the key was lost.
std::optional<RecordKey> CheckingKey() noexcept;

// HMAC-SHA-256 of `bytes` under `key`, as 64 lowercase hexadecimal digits.
std::string Authenticator(const RecordKey& key, std::string_view bytes);

// Whether `mac` is that authenticator, compared in constant time.
bool Authentic(const RecordKey& key, std::string_view bytes, std::string_view mac);

}  // namespace zr::replace

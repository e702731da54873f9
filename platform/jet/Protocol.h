#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/jet/MdbRead.h"
#include "platform/jet/Query.h"

// What the program and its reader helper (zr-jet-read) say to each other on
// their socket. Each message is a frame: its length (32 bits, little-endian)
// and then its bytes. The program asks; the helper answers each question
// with exactly one frame, or ends without answering.
namespace zr::jet::detail {

// No honest answer comes near this; a frame that claims more is refused.
inline constexpr std::size_t kMaxFrame = 64u << 20;

std::string Frame(std::string_view payload);
// The length a frame header declares; `header` holds its first 4 bytes.
uint32_t FrameLength(const char* header);

enum class OpenVerdict : uint8_t { Ok = 0, Unreadable = 1, WrongPassword = 2 };

// A question: open the database with the password in `connect`, or answer
// `query` from it.
struct Request {
  enum class Kind : char { Open = 'O', Select = 'S' } kind;
  std::string connect;
  SelectQuery query;
};

std::string EncodeOpen(std::string_view connect);
std::string EncodeSelect(const SelectQuery& query);
std::optional<Request> DecodeRequest(std::string_view bytes);

std::string EncodeVerdict(OpenVerdict verdict);
std::optional<OpenVerdict> DecodeVerdict(std::string_view bytes);

std::string EncodeOutcome(const ReadOutcome& outcome);
std::optional<ReadOutcome> DecodeOutcome(std::string_view bytes);

}  // namespace zr::jet::detail

#include "platform/jet/Protocol.h"

namespace zr::jet::detail {
namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool GetU32(std::string_view& in, uint32_t& v) {
  if (in.size() < 4) return false;
  v = FrameLength(in.data());
  in.remove_prefix(4);
  return true;
}

void PutBytes(std::string& out, std::string_view bytes) {
  PutU32(out, static_cast<uint32_t>(bytes.size()));
  out += bytes;
}

bool GetBytes(std::string_view& in, std::string& out) {
  uint32_t size;
  if (!GetU32(in, size) || in.size() < size) return false;
  out.assign(in.substr(0, size));
  in.remove_prefix(size);
  return true;
}

}  // namespace

std::string Frame(std::string_view payload) {
  std::string out;
  PutBytes(out, payload);
  return out;
}

uint32_t FrameLength(const char* header) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(header[i])) << (8 * i);
  return v;
}

std::string EncodeOpen(std::string_view connect) {
  std::string out(1, static_cast<char>(Request::Kind::Open));
  PutBytes(out, connect);
  return out;
}

std::string EncodeSelect(const SelectQuery& query) {
  std::string out(1, static_cast<char>(Request::Kind::Select));
  PutBytes(out, query.column);
  PutBytes(out, query.table);
  out += static_cast<char>(query.whereColumn ? 1 : 0);
  if (query.whereColumn) {
    PutBytes(out, *query.whereColumn);
    PutBytes(out, query.literal);
  }
  return out;
}

std::optional<Request> DecodeRequest(std::string_view in) {
  if (in.empty()) return std::nullopt;
  Request request{};
  const char kind = in[0];
  in.remove_prefix(1);
  if (kind == static_cast<char>(Request::Kind::Open)) {
    request.kind = Request::Kind::Open;
    if (!GetBytes(in, request.connect)) return std::nullopt;
  } else if (kind == static_cast<char>(Request::Kind::Select)) {
    request.kind = Request::Kind::Select;
    if (!GetBytes(in, request.query.column) || !GetBytes(in, request.query.table) || in.empty()) return std::nullopt;
    const char hasWhere = in[0];
    in.remove_prefix(1);
    if (hasWhere == 1) {
      std::string where;
      if (!GetBytes(in, where) || !GetBytes(in, request.query.literal)) return std::nullopt;
      request.query.whereColumn = std::move(where);
    } else if (hasWhere != 0) {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  if (!in.empty()) return std::nullopt;
  return request;
}

std::string EncodeVerdict(OpenVerdict verdict) { return std::string(1, static_cast<char>(verdict)); }

std::optional<OpenVerdict> DecodeVerdict(std::string_view bytes) {
  if (bytes.size() != 1 ||
      static_cast<unsigned char>(bytes[0]) > static_cast<unsigned char>(OpenVerdict::WrongPassword)) {
    return std::nullopt;
  }
  return static_cast<OpenVerdict>(bytes[0]);
}

std::string EncodeOutcome(const ReadOutcome& outcome) {
  std::string out;
  out += static_cast<char>(outcome.status);
  PutU32(out, static_cast<uint32_t>(outcome.pagesRead));
  PutBytes(out, outcome.missing);
  PutU32(out, static_cast<uint32_t>(outcome.values.size()));
  for (const auto& v : outcome.values) {
    out += static_cast<char>(v ? 1 : 0);
    if (v) PutBytes(out, *v);
  }
  return out;
}

std::optional<ReadOutcome> DecodeOutcome(std::string_view in) {
  ReadOutcome outcome;
  if (in.empty() || static_cast<unsigned char>(in[0]) > static_cast<unsigned char>(ReadStatus::NoColumn)) {
    return std::nullopt;
  }
  outcome.status = static_cast<ReadStatus>(in[0]);
  in.remove_prefix(1);
  uint32_t pages, count;
  if (!GetU32(in, pages) || !GetBytes(in, outcome.missing) || !GetU32(in, count)) return std::nullopt;
  outcome.pagesRead = pages;
  // Each value takes at least one byte, which bounds the count.
  if (count > in.size()) return std::nullopt;
  for (uint32_t i = 0; i < count; ++i) {
    if (in.empty()) return std::nullopt;
    const bool present = in[0] == 1;
    if (in[0] != 0 && !present) return std::nullopt;
    in.remove_prefix(1);
    if (!present) {
      outcome.values.emplace_back();
      continue;
    }
    std::string value;
    if (!GetBytes(in, value)) return std::nullopt;
    outcome.values.emplace_back(std::move(value));
  }
  if (!in.empty()) return std::nullopt;
  return outcome;
}

}  // namespace zr::jet::detail

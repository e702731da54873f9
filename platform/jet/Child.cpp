#include "platform/jet/Child.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define ZR_JET_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZR_JET_ASAN 1
#endif
#endif

namespace zr::jet::detail {
namespace {

constexpr std::size_t kMaxReport = 64u << 20;
std::atomic<long long> deadlineMs{20000};

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool GetU32(std::string_view& in, uint32_t& v) {
  if (in.size() < 4) return false;
  v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
  in.remove_prefix(4);
  return true;
}

bool GetBytes(std::string_view& in, std::string& out) {
  uint32_t size;
  if (!GetU32(in, size) || in.size() < size) return false;
  out.assign(in.substr(0, size));
  in.remove_prefix(size);
  return true;
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

[[noreturn]] void ChildMain(int out, const std::function<ReadOutcome()>& body) {
  // libmdb reports damage on stderr; the caller gets it as an error instead.
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) dup2(null, STDERR_FILENO);
  const long long seconds = deadlineMs.load() / 1000 + 2;
  rlimit cpu{static_cast<rlim_t>(seconds), static_cast<rlim_t>(seconds)};
  setrlimit(RLIMIT_CPU, &cpu);
#ifndef ZR_JET_ASAN
  rlimit memory{rlim_t{2} << 30, rlim_t{2} << 30};
  setrlimit(RLIMIT_AS, &memory);
#endif
  std::string report;
  try {
    report = EncodeOutcome(body());
  } catch (...) {
    _exit(3);
  }
  WriteAll(out, report);
  _exit(0);
}

}  // namespace

void SetChildDeadline(std::chrono::milliseconds deadline) { deadlineMs = deadline.count(); }

std::chrono::milliseconds ChildDeadline() { return std::chrono::milliseconds(deadlineMs.load()); }

std::string EncodeOutcome(const ReadOutcome& outcome) {
  std::string out;
  out += static_cast<char>(outcome.status);
  PutU32(out, static_cast<uint32_t>(outcome.pagesRead));
  PutU32(out, static_cast<uint32_t>(outcome.missing.size()));
  out += outcome.missing;
  PutU32(out, static_cast<uint32_t>(outcome.values.size()));
  for (const auto& v : outcome.values) {
    out += static_cast<char>(v ? 1 : 0);
    if (v) {
      PutU32(out, static_cast<uint32_t>(v->size()));
      out += *v;
    }
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

ReadOutcome RunInChild(const std::function<ReadOutcome()>& body) {
  ReadOutcome failed;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return failed;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return failed;
  }
  if (pid == 0) {
    close(fds[0]);
    ChildMain(fds[1], body);
  }
  close(fds[1]);

  std::string report;
  bool complete = false;
  const auto until = std::chrono::steady_clock::now() + ChildDeadline();
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[65536];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      complete = n == 0;
      break;
    }
    report.append(buffer, static_cast<std::size_t>(n));
    if (report.size() > kMaxReport) break;
  }
  close(fds[0]);
  if (!complete) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return failed;
  auto outcome = DecodeOutcome(report);
  return outcome ? *outcome : failed;
}

}  // namespace zr::jet::detail

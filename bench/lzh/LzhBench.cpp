// Benchmark of the member extraction on a realistic backup: 2,000+ members,
// 300+ MB uncompressed, -lh5- like a real backup, the wanted members last.
// Reports time, MB/s and peak memory for our extraction beside bsdtar
// (plus flushing the files it wrote) and lhasa, and how the time to pass
// over unwanted members scales with their number and their size.
//
//   zr_lzh_bench [work-folder]        (default /tmp/zr-lzh-bench)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/lzh/Extract.h"
#include "platform/runtime/RuntimeError.h"
#include "tools/lzhwriter/LzhWriter.h"

namespace {

namespace fs = std::filesystem;
namespace w = zr::lzh::writer;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 7;

struct Wanted {
  const char* name;
  std::size_t size;
};
const Wanted kCommon{"Data\\ZrXXComn.wf6", 6u << 20};
const Wanted kTemplates[] = {{"Work\\ZrBunsyo.wf6", 12u << 20}, {"Work\\ZrTuBun.wf6", 6u << 20}};

// Database-like pages: records of words and numbers with zero padding,
// mixed with pages of noise (already compressed or binary fields), so the
// whole compresses about 2:1 as real backups do.
std::string Content(std::mt19937_64& rng, std::size_t size) {
  static const char* const kWords[] = {"利用者", "ケアプラン", "サービス",   "訪問介護", "通所",
                                       "alpha",  "ZrXX",       "2024/01/02", "東京都",   "様",
                                       "記録",   "0001",       "評価",       "備考",     "計画"};
  std::string s;
  s.reserve(size + 4096);
  while (s.size() < size) {
    const std::size_t page = 4096;
    if (rng() % 100 < 42) {
      for (std::size_t i = 0; i < page; i += 8) {
        const uint64_t v = rng();
        s.append(reinterpret_cast<const char*>(&v), 8);
      }
    } else {
      std::string p;
      while (p.size() < page - 600) {
        p += kWords[rng() % 15];
        p += std::to_string(rng() % 100000);
        p += '\0';
      }
      p.resize(page, '\0');
      s += p;
    }
  }
  s.resize(size);
  return s;
}

void Append(std::ofstream& out, const w::Member& m) {
  const std::string bytes = w::EncodeMember(m);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Built {
  std::size_t members = 0;
  uint64_t original = 0;
};

// The realistic backup, made once and kept in the work folder.
Built BuildBackup(const fs::path& path) {
  Built b;
  std::mt19937_64 rng(20240102);
  const bool exists = fs::exists(path);
  std::ofstream out;
  if (!exists) out.open(path.string() + ".part", std::ios::binary | std::ios::trunc);
  const int kOthers = 2000;
  for (int i = 0; i < kOthers; ++i) {
    // Mostly small files, a few large ones.
    const uint64_t r = rng() % 1000;
    const std::size_t size = r < 900 ? 20000 + rng() % 150000 : (r < 990 ? 500000 + rng() % 1000000 : 8u << 20);
    b.original += size;
    ++b.members;
    if (exists) continue;
    const std::string name = (i % 3 == 0 ? "Data\\Sub" : "Work\\Sub") + std::to_string(i % 40) + "\\File" +
                             std::to_string(i) + (i % 5 == 0 ? ".wf6" : ".dat");
    Append(out, w::MakeMember(name, Content(rng, size), 2, w::Method::Lh5));
  }
  for (const Wanted& wanted : {kCommon, kTemplates[0], kTemplates[1]}) {
    b.original += wanted.size;
    ++b.members;
    if (!exists) Append(out, w::MakeMember(wanted.name, Content(rng, wanted.size), 2, w::Method::Lh5));
  }
  if (!exists) {
    out.put('\0');
    out.close();
    fs::rename(path.string() + ".part", path);
  }
  return b;
}

// Stored members of a given size and number: only the walk over headers
// differs between them.
void BuildWalk(const fs::path& path, int members, std::size_t size) {
  if (fs::exists(path)) return;
  std::ofstream out(path.string() + ".part", std::ios::binary | std::ios::trunc);
  const std::string data(size, 'x');
  for (int i = 0; i < members; ++i) Append(out, w::MakeMember("Data\\F" + std::to_string(i) + ".dat", data, 2));
  out.put('\0');
  out.close();
  fs::rename(path.string() + ".part", path);
}

struct Measure {
  double seconds = 0;
  long peakKiB = 0;
  bool ok = false;
};

// Runs a program and returns its wall time and peak resident memory.
Measure Run(const std::vector<std::string>& argv) {
  Measure m;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.peakKiB = usage.ru_maxrss;
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return m;
}

Measure Median(std::vector<Measure> runs) {
  std::sort(runs.begin(), runs.end(), [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
  Measure m = runs[runs.size() / 2];
  for (const Measure& r : runs) {
    m.peakKiB = std::max(m.peakKiB, r.peakKiB);
    m.ok = m.ok && r.ok;
  }
  return m;
}

void Fresh(const fs::path& dir) {
  fs::remove_all(dir);
  fs::create_directories(dir);
}

std::string Slashed(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

// The extraction in a process of its own, so its memory is measured alone.
int ExtractCommand(int argc, char** argv) {
  const zr::lzh::Mode mode = std::string(argv[4]) == "1" ? zr::lzh::Mode::BareName : zr::lzh::Mode::KeepFolders;
  std::vector<std::string> members(argv + 5, argv + argc);
  try {
    const auto start = Clock::now();
    const int missing = zr::lzh::ExtractMembersWaiting(argv[2], argv[3], mode, members);
    std::fprintf(stderr, "%.4f\n", std::chrono::duration<double>(Clock::now() - start).count());
    return missing == 0 ? 0 : 2;
  } catch (const zr::rt::RuntimeError& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
    return 1;
  }
}

void Row(const char* what, const Measure& m, double megabytes) {
  std::printf("  %-44s %8.3f s %8.1f MB/s %8.1f MiB peak%s\n", what, m.seconds, megabytes / m.seconds,
              static_cast<double>(m.peakKiB) / 1024.0, m.ok ? "" : "  (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "extract") return ExtractCommand(argc, argv);
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/zr-lzh-bench");
  fs::create_directories(work);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const fs::path backup = work / "backup.lzh";

  const auto buildStart = Clock::now();
  const Built built = BuildBackup(backup);
  const double buildSeconds = std::chrono::duration<double>(Clock::now() - buildStart).count();
  const double packedMB = static_cast<double>(fs::file_size(backup)) / 1e6;
  std::printf("backup: %zu members, %.1f MB uncompressed, %.1f MB packed (-lh5-), made in %.1f s\n", built.members,
              static_cast<double>(built.original) / 1e6, packedMB, buildSeconds);

  const fs::path out = work / "out";
  const double oneMB = static_cast<double>(kCommon.size) / 1e6;
  const double twoMB = static_cast<double>(kTemplates[0].size + kTemplates[1].size) / 1e6;
  auto repeat = [&](const std::function<Measure()>& once) {
    once();  // warm the page cache
    std::vector<Measure> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(once());
    return Median(runs);
  };

  const Measure ours1 = repeat([&] {
    Fresh(out);
    return Run({self, "extract", backup.string(), out.string(), "1", kCommon.name});
  });
  const Measure ours0 = repeat([&] {
    Fresh(out);
    return Run({self, "extract", backup.string(), out.string(), "0", kTemplates[0].name, kTemplates[1].name});
  });
  auto bsdtarFlush = [&](std::vector<std::string> members) {
    Fresh(out);
    std::vector<std::string> x = {"bsdtar", "-xf", backup.string(), "-C", out.string()};
    std::vector<std::string> sync = {"sync"};
    for (const std::string& m : members) {
      x.push_back(m);
      sync.push_back((out / m).string());
    }
    Measure a = Run(x);
    const Measure b = Run(sync);
    a.seconds += b.seconds;
    a.peakKiB = std::max(a.peakKiB, b.peakKiB);
    a.ok = a.ok && b.ok;
    return a;
  };
  const Measure bsd1 = repeat([&] { return bsdtarFlush({Slashed(kCommon.name)}); });
  const Measure bsd0 = repeat([&] { return bsdtarFlush({Slashed(kTemplates[0].name), Slashed(kTemplates[1].name)}); });
  auto lhasa = [&](std::vector<std::string> members) {
    Fresh(out);
    std::vector<std::string> x = {"lhasa", "xqfw=" + out.string(), backup.string()};
    for (const std::string& m : members) x.push_back(m);
    return Run(x);
  };
  const Measure lha1 = repeat([&] { return lhasa({Slashed(kCommon.name)}); });
  const Measure lha0 = repeat([&] { return lhasa({Slashed(kTemplates[0].name), Slashed(kTemplates[1].name)}); });

  std::printf("\nmode 1, one member (%.1f MB), median of %d warm runs:\n", oneMB, kRuns);
  Row("ours (temp file, CRC, fsync file + folder)", ours1, oneMB);
  Row("bsdtar -x, then sync FILE", bsd1, oneMB);
  Row("lhasa x", lha1, oneMB);
  std::printf("mode 0, two members (%.1f MB):\n", twoMB);
  Row("ours (temp files, CRC, fsync files + folder)", ours0, twoMB);
  Row("bsdtar -x, then sync FILE...", bsd0, twoMB);
  Row("lhasa x", lha0, twoMB);
  std::printf("ratios: ours/(bsdtar+sync) %.2f (mode 1), %.2f (mode 0); lhasa/ours %.2f, %.2f\n",
              ours1.seconds / bsd1.seconds, ours0.seconds / bsd0.seconds, lha1.seconds / ours1.seconds,
              lha0.seconds / ours0.seconds);

  // Passing over members: a member nobody has is looked for, so the whole
  // archive is walked and nothing decoded.
  std::printf("\nwalking past unwanted members (a missing member requested):\n");
  const std::pair<int, std::size_t> shapes[] = {{2000, 150000}, {2000, 1500}, {8000, 1500}};
  for (const auto& [members, size] : shapes) {
    const fs::path archive = work / ("walk-" + std::to_string(members) + "x" + std::to_string(size) + ".lzh");
    BuildWalk(archive, members, size);
    const Measure m = repeat([&] {
      Fresh(out);
      const auto start = Clock::now();
      const int missing = zr::lzh::ExtractMembers(archive, out, zr::lzh::Mode::BareName, {"Data\\Nothing.dat"});
      Measure r;
      r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      r.ok = missing == 1;
      return r;
    });
    std::printf("  %5d members x %7zu bytes (%6.1f MB): %7.2f ms%s\n", members, size,
                static_cast<double>(members) * static_cast<double>(size) / 1e6, m.seconds * 1000,
                m.ok ? "" : "  (FAILED)");
  }
  fs::remove_all(out);
  return 0;
}

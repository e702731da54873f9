// Benchmark of the member extraction on a realistic backup: 2,000+ members,
// 300+ MB uncompressed, -lh5- like a real backup, the wanted members last.
// Reports time, MB/s and peak memory for our extraction beside bsdtar
// (plus flushing the files it wrote) and lhasa, and how the time to pass
// over unwanted members scales with their number and their size.
//
//   zr_lzh_bench [work-folder]        (default /tmp/zr-lzh-bench)
//   zr_lzh_bench extract ARCHIVE OUT MODE NAME... [-- OUT MODE NAME...]
//                                     (one process, one extraction per group)
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
#include <thread>
#include <vector>

#include "platform/lzh/ArchiveIndex.h"
#include "platform/lzh/Extract.h"
#include "platform/runtime/Interaction.h"
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
    if (rng() % 100 < 30) {
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

// The realistic backup, made once and kept in the work folder with a note
// of its member count and uncompressed size.
void BuildBackup(const fs::path& path) {
  if (fs::exists(path)) return;
  std::mt19937_64 rng(20240102);
  std::ofstream out(path.string() + ".part", std::ios::binary | std::ios::trunc);
  std::size_t members = 0;
  uint64_t original = 0;
  auto add = [&](const std::string& name, std::size_t size) {
    Append(out, w::MakeMember(name, Content(rng, size), 2, w::Method::Lh5));
    ++members;
    original += size;
  };
  for (int i = 0; i < 2000; ++i) {
    // Mostly small files, a few large ones.
    const uint64_t r = rng() % 1000;
    const std::size_t size = r < 900 ? 20000 + rng() % 130000 : (r < 995 ? 300000 + rng() % 900000 : 6u << 20);
    add((i % 3 == 0 ? "Data\\Sub" : "Work\\Sub") + std::to_string(i % 40) + "\\File" + std::to_string(i) +
            (i % 5 == 0 ? ".wf6" : ".dat"),
        size);
  }
  for (const Wanted& wanted : {kCommon, kTemplates[0], kTemplates[1]}) add(wanted.name, wanted.size);
  out.put('\0');
  out.close();
  std::ofstream(path.string() + ".info") << members << " " << original << "\n";
  fs::rename(path.string() + ".part", path);
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

// Extractions in a process of their own, so their memory is measured alone;
// several groups in one process are the version check and the restore.
int ExtractCommand(int argc, char** argv) {
  // The window waits in an event loop that looks at `done` every 5 ms; a
  // sleeping poll at the same pace stands in for it.
  zr::rt::InteractionHooks hooks;
  hooks.waitUntil = [](const std::function<bool()>& done) {
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  zr::rt::InstallInteraction(hooks);
  const std::string archive = argv[2];
  try {
    const auto start = Clock::now();
    for (int at = 3; at + 2 < argc;) {
      const std::string out = argv[at];
      const zr::lzh::Mode mode =
          std::string(argv[at + 1]) == "1" ? zr::lzh::Mode::BareName : zr::lzh::Mode::KeepFolders;
      std::vector<std::string> members;
      for (at += 2; at < argc && std::string(argv[at]) != "--"; ++at) members.push_back(argv[at]);
      ++at;
      if (zr::lzh::ExtractMembersWaiting(archive, out, mode, members) != 0) return 2;
    }
    std::fprintf(stderr, "%.4f\n", std::chrono::duration<double>(Clock::now() - start).count());
    return 0;
  } catch (const zr::rt::RuntimeError& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), e.description().c_str());
    return 1;
  }
}

void Row(const char* what, const Measure& m, double megabytes) {
  std::printf("  %-44s %8.3f s %8.1f MB/s %8.1f MiB peak%s\n", what, m.seconds, megabytes / m.seconds,
              static_cast<double>(m.peakKiB) / 1024.0, m.ok ? "" : "  (FAILED)");
}

// Runs `make` in a child, so that the memory it takes never counts in the
// peaks measured for the programs this process starts later.
void InChild(const std::function<void()>& make) {
  const pid_t pid = fork();
  if (pid == 0) {
    make();
    _exit(0);
  }
  waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::string(argv[1]) == "extract") return ExtractCommand(argc, argv);
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/tmp/zr-lzh-bench");
  fs::create_directories(work);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const fs::path backup = work / "backup.lzh";

  const auto buildStart = Clock::now();
  InChild([&] { BuildBackup(backup); });
  const double buildSeconds = std::chrono::duration<double>(Clock::now() - buildStart).count();
  std::size_t members = 0;
  double original = 0;
  std::ifstream(backup.string() + ".info") >> members >> original;
  std::printf("backup: %zu members, %.1f MB uncompressed, %.1f MB packed (-lh5-), ready in %.1f s\n", members,
              original / 1e6, static_cast<double>(fs::file_size(backup)) / 1e6, buildSeconds);

  const fs::path out = work / "out";
  const double oneMB = static_cast<double>(kCommon.size) / 1e6;
  const double twoMB = static_cast<double>(kTemplates[0].size + kTemplates[1].size) / 1e6;
  const std::vector<std::string> one = {kCommon.name};
  const std::vector<std::string> two = {kTemplates[0].name, kTemplates[1].name};

  auto ours = [&](const char* mode, const std::vector<std::string>& names) {
    Fresh(out);
    std::vector<std::string> x = {self, "extract", backup.string(), out.string(), mode};
    x.insert(x.end(), names.begin(), names.end());
    return Run(x);
  };
  auto bsdtarFlush = [&](const std::vector<std::string>& names) {
    Fresh(out);
    std::vector<std::string> x = {"bsdtar", "-xf", backup.string(), "-C", out.string()};
    std::vector<std::string> sync = {"sync"};
    for (const std::string& m : names) {
      x.push_back(Slashed(m));
      sync.push_back((out / Slashed(m)).string());
    }
    Measure a = Run(x);
    const Measure b = Run(sync);
    a.seconds += b.seconds;
    a.peakKiB = std::max(a.peakKiB, b.peakKiB);
    a.ok = a.ok && b.ok;
    return a;
  };
  auto lhasa = [&](const std::vector<std::string>& names) {
    Fresh(out);
    std::vector<std::string> x = {"lhasa", "xqfw=" + out.string(), backup.string()};
    for (const std::string& m : names) x.push_back(Slashed(m));
    return Run(x);
  };
  // Rounds take the three programs in turn, so a busy moment of the machine
  // falls on all of them alike; the first round only warms the page cache.
  // The version check and the restore: the common database into one
  // folder, then the two templates into another, in one process.
  const fs::path temporary = work / "tmp";
  auto checkAndRestore = [&] {
    Fresh(out);
    Fresh(temporary);
    std::vector<std::string> x = {self,         "extract", backup.string(), temporary.string(), "1", kCommon.name, "--",
                                  out.string(), "0"};
    x.insert(x.end(), two.begin(), two.end());
    return Run(x);
  };
  std::vector<std::string> three = two;
  three.insert(three.begin(), kCommon.name);
  std::vector<Measure> ours1, ours0, bsd1, bsd0, lha1, lha0, both, bsdBoth;
  for (int round = 0; round <= kRuns; ++round) {
    const Measure m[] = {ours("1", one),   bsdtarFlush(one), lhasa(one),        ours("0", two),
                         bsdtarFlush(two), lhasa(two),       checkAndRestore(), bsdtarFlush(three)};
    if (round == 0) continue;
    ours1.push_back(m[0]);
    bsd1.push_back(m[1]);
    lha1.push_back(m[2]);
    ours0.push_back(m[3]);
    bsd0.push_back(m[4]);
    lha0.push_back(m[5]);
    both.push_back(m[6]);
    bsdBoth.push_back(m[7]);
  }
  const Measure baseline = Run({"true"});
  std::printf("\nmode 1, one member (%.1f MB), median of %d warm runs:\n", oneMB, kRuns);
  Row("ours (temp file, CRC, fsync file + folder)", Median(ours1), oneMB);
  Row("bsdtar -x, then sync FILE", Median(bsd1), oneMB);
  Row("lhasa x", Median(lha1), oneMB);
  std::printf("mode 0, two members (%.1f MB):\n", twoMB);
  Row("ours (temp files, CRC, fsync files + folders)", Median(ours0), twoMB);
  Row("bsdtar -x, then sync FILE...", Median(bsd0), twoMB);
  Row("lhasa x", Median(lha0), twoMB);
  std::printf("check then restore in one process (%.1f MB):\n", oneMB + twoMB);
  Row("ours (the walk remembered, templates side by side)", Median(both), oneMB + twoMB);
  Row("bsdtar -x of the three, then sync FILE...", Median(bsdBoth), oneMB + twoMB);
  std::printf("(peaks are whole processes; starting /bin/true the same way peaks at %.1f MiB)\n",
              static_cast<double>(baseline.peakKiB) / 1024.0);
  std::printf(
      "ratios: ours/(bsdtar+sync) %.2f (mode 1), %.2f (mode 0), %.2f (check then restore); lhasa/ours %.2f, "
      "%.2f\n",
      Median(ours1).seconds / Median(bsd1).seconds, Median(ours0).seconds / Median(bsd0).seconds,
      Median(both).seconds / Median(bsdBoth).seconds, Median(lha1).seconds / Median(ours1).seconds,
      Median(lha0).seconds / Median(ours0).seconds);

  // Passing over members: a member nobody has is looked for, so the whole
  // archive is walked and nothing decoded.
  std::printf("\nwalking past unwanted members (a missing member requested):\n");
  const std::pair<int, std::size_t> shapes[] = {{2000, 150000}, {2000, 1500}, {8000, 1500}};
  for (const auto& [count, size] : shapes) {
    const fs::path archive = work / ("walk-" + std::to_string(count) + "x" + std::to_string(size) + ".lzh");
    InChild([&] { BuildWalk(archive, count, size); });
    std::vector<Measure> runs;
    for (int round = 0; round <= kRuns; ++round) {
      Fresh(out);
      zr::lzh::ForgetIndex();  // the walk itself is measured, not its memory
      const auto start = Clock::now();
      const int missing = zr::lzh::ExtractMembers(archive, out, zr::lzh::Mode::BareName, {"Data\\Nothing.dat"});
      Measure r;
      r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      r.ok = missing == 1;
      if (round > 0) runs.push_back(r);
    }
    const Measure m = Median(runs);
    std::printf("  %5d members x %7zu bytes (%6.1f MB): %7.2f ms%s\n", count, size,
                static_cast<double>(count) * static_cast<double>(size) / 1e6, m.seconds * 1000,
                m.ok ? "" : "  (FAILED)");
  }
  fs::remove_all(out);
  return 0;
}

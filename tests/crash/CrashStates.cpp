#include "tests/crash/CrashStates.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>

namespace zr::crash {
namespace {

constexpr off_t kBlock = 4096;
constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

// The block boundaries strictly inside a write.
int BoundariesInside(const Step& step) {
  const off_t end = step.offset + static_cast<off_t>(step.bytes.size());
  const off_t first = (step.offset / kBlock + 1) * kBlock;
  return first < end ? static_cast<int>((end - 1 - first) / kBlock + 1) : 0;
}

void Apply(const Step& step, int outcome, std::map<Slot, NodeId>& slots, std::map<NodeId, Node>& nodes) {
  switch (step.kind) {
    case Kind::Create:
    case Kind::Mkdir:
    case Kind::Link:
      if (outcome != 0) slots[step.slot] = step.node;
      break;
    case Kind::Unlink:
      if (outcome != 0) slots.erase(step.slot);
      break;
    case Kind::Rename:
      if (outcome != 0) {
        // Outcome 2: the new name written, the old one not yet removed.
        if (outcome == 1) slots.erase(step.slot);
        slots[step.to] = step.node;
      }
      break;
    case Kind::Write: {
      if (outcome == 0) break;
      Node& node = nodes[step.node];
      std::size_t length = step.bytes.size();
      // Outcome 2 + k: written up to the k-th block boundary inside the write.
      if (outcome >= 2) length = static_cast<std::size_t>((step.offset / kBlock + outcome - 1) * kBlock - step.offset);
      const auto end = static_cast<std::size_t>(step.offset) + length;
      if (node.content.size() < end) node.content.resize(end, '\0');
      std::copy_n(step.bytes.begin(), length, node.content.begin() + step.offset);
      node.mtime = step.mtime;
      break;
    }
    case Kind::Chmod:
      nodes[step.node].mode = step.mode;
      break;
    case Kind::FsyncFile:
    case Kind::FsyncFolder:
    case Kind::Close:
      break;
  }
}

void Describe(std::string& out, const std::map<Slot, NodeId>& slots, const std::map<NodeId, Node>& nodes, NodeId folder,
              int depth) {
  if (depth > 8) return;
  for (auto it = slots.lower_bound({folder, ""}); it != slots.end() && it->first.folder == folder; ++it) {
    const auto node = nodes.find(it->second);
    out += it->first.name;
    if (node != nodes.end() && node->second.folder) {
      out += "{";
      Describe(out, slots, nodes, it->second, depth + 1);
      out += "}";
    } else if (node != nodes.end()) {
      out += "=" + std::to_string(it->second) + ":" + std::to_string(std::hash<std::string>()(node->second.content)) +
             ":" + std::to_string(node->second.content.size()) + ":" + std::to_string(node->second.mtime.tv_sec) + "." +
             std::to_string(node->second.mtime.tv_nsec);
    }
    out += ";";
  }
}

}  // namespace

CrashModel::CrashModel(const Recording& recording) : rec_(recording) {
  const auto& steps = rec_.steps;
  durableAt_.assign(steps.size(), kNever);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (!Changes(steps[i])) continue;
    // The first flush after the step of each folder or file it needs.
    auto flushedAfter = [&](Kind kind, NodeId node) {
      for (std::size_t j = i + 1; j < steps.size(); ++j) {
        if (steps[j].kind == kind && steps[j].node == node) return j + 1;
      }
      return kNever;
    };
    const Step& s = steps[i];
    if (s.kind == Kind::Write) {
      durableAt_[i] = flushedAfter(Kind::FsyncFile, s.node);
    } else if (s.kind == Kind::Rename) {
      durableAt_[i] =
          std::max(flushedAfter(Kind::FsyncFolder, s.slot.folder), flushedAfter(Kind::FsyncFolder, s.to.folder));
    } else {
      durableAt_[i] = flushedAfter(Kind::FsyncFolder, s.slot.folder);
    }
  }
}

bool CrashModel::Changes(const Step& step) {
  switch (step.kind) {
    case Kind::Create:
    case Kind::Mkdir:
    case Kind::Link:
    case Kind::Rename:
    case Kind::Unlink:
    case Kind::Write:
      return true;
    default:
      return false;
  }
}

std::vector<std::size_t> CrashModel::Pending(std::size_t point) const {
  std::vector<std::size_t> pending;
  for (std::size_t i = 0; i < point && i < rec_.steps.size(); ++i) {
    if (Changes(rec_.steps[i]) && durableAt_[i] > point) pending.push_back(i);
  }
  return pending;
}

int CrashModel::Outcomes(std::size_t step) const {
  const Step& s = rec_.steps[step];
  if (s.kind == Kind::Rename && !rec_.initialNodes.at(s.node).folder) return 3;
  return 2 + (s.kind == Kind::Write ? BoundariesInside(s) : 0);
}

CrashState CrashModel::Build(std::size_t point, const std::map<std::size_t, int>& outcome) const {
  CrashState state;
  state.slots = rec_.initialSlots;
  state.nodes = rec_.initialNodes;
  for (const Step& s : rec_.steps) {
    if (s.kind == Kind::Create) state.nodes[s.node].content.clear();
  }
  state.how = "cut after " + std::to_string(point) + " of " + std::to_string(rec_.steps.size()) + " steps";
  for (std::size_t i = 0; i < point; ++i) {
    const auto it = outcome.find(i);
    const int o = it == outcome.end() ? 1 : it->second;
    if (o != 1) state.how += std::string(o == 0 ? ", lost " : ", in part ") + std::to_string(i);
    Apply(rec_.steps[i], o, state.slots, state.nodes);
  }
  return state;
}

void CrashModel::ForEach(std::size_t enumerateUpTo, int sample, uint32_t start,
                         const std::function<void(const CrashState&)>& visit) const {
  std::mt19937 random(start);
  for (std::size_t point = 0; point < Points(); ++point) {
    const std::vector<std::size_t> pending = Pending(point);
    std::size_t total = 1;
    for (std::size_t i : pending) {
      total *= static_cast<std::size_t>(Outcomes(i));
      if (total > enumerateUpTo) break;
    }
    if (total <= enumerateUpTo) {
      std::vector<int> digits(pending.size(), 0);
      for (std::size_t n = 0; n < total; ++n) {
        std::map<std::size_t, int> outcome;
        for (std::size_t k = 0; k < pending.size(); ++k) outcome[pending[k]] = digits[k];
        visit(Build(point, outcome));
        for (std::size_t k = 0; k < pending.size(); ++k) {
          if (++digits[k] < Outcomes(pending[k])) break;
          digits[k] = 0;
        }
      }
      continue;
    }
    std::map<std::size_t, int> all;
    std::map<std::size_t, int> none;
    for (std::size_t i : pending) none[i] = 0;
    visit(Build(point, all));
    visit(Build(point, none));
    for (std::size_t i : pending) {
      for (int o = 0; o < Outcomes(i); ++o) {
        if (o != 1) {
          std::map<std::size_t, int> one{{i, o}};
          visit(Build(point, one));
        }
        std::map<std::size_t, int> only = none;
        only[i] = o;
        if (o != 0) visit(Build(point, only));
      }
    }
    for (int n = 0; n < sample; ++n) {
      std::map<std::size_t, int> outcome;
      for (std::size_t i : pending) outcome[i] = static_cast<int>(random() % static_cast<uint32_t>(Outcomes(i)));
      visit(Build(point, outcome));
    }
  }
}

std::string Signature(const CrashState& state, const Recording& recording) {
  std::string out;
  for (const std::string& root : recording.roots) {
    const auto it = state.slots.find({recording.anchor, root});
    out += root + (it == state.slots.end() ? "-" : "{");
    if (it != state.slots.end()) {
      Describe(out, state.slots, state.nodes, it->second, 0);
      out += "}";
    }
    out += "|";
  }
  return out;
}

namespace {

void Build(const CrashState& state, NodeId node, const std::filesystem::path& path, const std::filesystem::path& pool,
           std::set<NodeId>& written, int depth) {
  const auto found = state.nodes.find(node);
  if (found == state.nodes.end() || depth > 8) throw std::runtime_error("unknown node at " + path.string());
  const Node& n = found->second;
  if (n.folder) {
    if (::mkdir(path.c_str(), 0700) != 0) throw std::runtime_error("cannot make " + path.string());
    for (auto it = state.slots.lower_bound({node, ""}); it != state.slots.end() && it->first.folder == node; ++it) {
      Build(state, it->second, path / it->first.name, pool, written, depth + 1);
    }
    return;
  }
  const std::filesystem::path kept = pool / std::to_string(node);
  if (written.insert(node).second) {
    const int fd = ::open(kept.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("not in the pool: " + kept.string());
    std::size_t done = 0;
    while (done < n.content.size()) {
      const ssize_t w = ::write(fd, n.content.data() + done, n.content.size() - done);
      if (w <= 0) break;
      done += static_cast<std::size_t>(w);
    }
    const timespec times[2] = {{0, UTIME_OMIT}, n.mtime};
    const bool ok = done == n.content.size() && ::fchmod(fd, n.mode) == 0 && ::futimens(fd, times) == 0;
    ::close(fd);
    if (!ok) throw std::runtime_error("cannot rebuild " + path.string());
  }
  if (::link(kept.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot link " + path.string());
}

}  // namespace

void Materialize(const CrashState& state, const Recording& recording, const std::filesystem::path& anchor,
                 const std::filesystem::path& pool) {
  std::set<NodeId> written;
  for (const std::string& root : recording.roots) {
    std::filesystem::remove_all(anchor / root);
    const auto it = state.slots.find({recording.anchor, root});
    if (it != state.slots.end()) Build(state, it->second, anchor / root, pool, written, 0);
  }
}

std::string Listing(const Recording& recording) {
  std::string out;
  for (std::size_t i = 0; i < recording.steps.size(); ++i) {
    const Step& s = recording.steps[i];
    out += std::to_string(i) + " " + KindName(s.kind) + " " + s.shown;
    if (s.kind == Kind::Write) out += " @" + std::to_string(s.offset) + "+" + std::to_string(s.bytes.size());
    out += "\n";
  }
  return out;
}

}  // namespace zr::crash

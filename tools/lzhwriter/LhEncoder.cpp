// -lh5-, -lh6- and -lh7- compression: LZSS over an 8, 32 or 64 KiB window,
// then static Huffman codes per block, as LHa 2.x writes them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <queue>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/lzhwriter/LzhWriter.h"

namespace zr::lzh::writer {
namespace {

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
constexpr int kLiteralCodes = 256 + kMaxMatch - kMinMatch + 1;  // 510
constexpr int kLengthCodes = 19;                                // code-length alphabet
constexpr int kMaxBits = 16;
constexpr std::size_t kBlockCodes = 32768;
constexpr int kChainLimit = 24;

class BitWriter {
 public:
  void Put(int count, uint32_t value) {
    for (int i = count - 1; i >= 0; --i) {
      acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1));
      if (++bits_ == 8) {
        out_ += static_cast<char>(acc_);
        acc_ = 0;
        bits_ = 0;
      }
    }
  }
  std::string Finish() {
    if (bits_ > 0) out_ += static_cast<char>(acc_ << (8 - bits_));
    bits_ = 0;
    acc_ = 0;
    return std::move(out_);
  }

 private:
  std::string out_;
  uint8_t acc_ = 0;
  int bits_ = 0;
};

// Code lengths (at most 16 bits, a complete code) for the given frequencies.
// Fewer than two used symbols get no lengths; the caller writes those as a
// single implied symbol.
std::vector<int> CodeLengths(const std::vector<uint32_t>& freq) {
  const int n = static_cast<int>(freq.size());
  std::vector<int> lengths(n, 0);
  std::vector<int> used;
  for (int i = 0; i < n; ++i) {
    if (freq[i] > 0) used.push_back(i);
  }
  if (used.size() < 2) return lengths;

  struct Node {
    uint64_t weight;
    int left, right;
  };
  std::vector<Node> nodes;
  using Item = std::pair<uint64_t, int>;
  std::priority_queue<Item, std::vector<Item>, std::greater<>> heap;
  for (int s : used) {
    nodes.push_back({freq[s], -1 - s, -1});
    heap.emplace(freq[s], static_cast<int>(nodes.size()) - 1);
  }
  while (heap.size() > 1) {
    auto [wa, a] = heap.top();
    heap.pop();
    auto [wb, b] = heap.top();
    heap.pop();
    nodes.push_back({wa + wb, a, b});
    heap.emplace(wa + wb, static_cast<int>(nodes.size()) - 1);
  }
  std::array<int, 64> countAtDepth{};
  std::vector<std::pair<int, int>> stack{{heap.top().second, 0}};
  while (!stack.empty()) {
    auto [index, depth] = stack.back();
    stack.pop_back();
    const Node& node = nodes[index];
    if (node.left < 0 && node.right == -1) {
      ++countAtDepth[std::min(depth, kMaxBits)];
    } else {
      stack.emplace_back(node.left, depth + 1);
      stack.emplace_back(node.right, depth + 1);
    }
  }
  // Clamp to 16 bits, then move leaves until the code is complete again.
  uint32_t kraft = 0;
  for (int d = 1; d <= kMaxBits; ++d) kraft += static_cast<uint32_t>(countAtDepth[d]) << (kMaxBits - d);
  while (kraft != (1u << kMaxBits)) {
    --countAtDepth[kMaxBits];
    for (int d = kMaxBits - 1; d > 0; --d) {
      if (countAtDepth[d] > 0) {
        --countAtDepth[d];
        countAtDepth[d + 1] += 2;
        break;
      }
    }
    --kraft;
  }
  // Shortest codes to the most frequent symbols.
  std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return freq[a] > freq[b]; });
  std::size_t next = 0;
  for (int d = 1; d <= kMaxBits; ++d) {
    for (int k = 0; k < countAtDepth[d]; ++k) lengths[used[next++]] = d;
  }
  return lengths;
}

// Canonical codes: shorter first, then by symbol, as readers rebuild them.
std::vector<uint32_t> Codes(const std::vector<int>& lengths) {
  std::array<uint32_t, kMaxBits + 2> start{};
  std::array<int, kMaxBits + 1> count{};
  for (int l : lengths) {
    if (l > 0) ++count[l];
  }
  for (int l = 1; l <= kMaxBits; ++l) start[l + 1] = (start[l] + count[l]) << 1;
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] > 0) codes[i] = start[lengths[i]]++;
  }
  return codes;
}

int SingleSymbol(const std::vector<uint32_t>& freq) {
  for (std::size_t i = 0; i < freq.size(); ++i) {
    if (freq[i] > 0) return static_cast<int>(i);
  }
  return 0;
}

int BitLength(uint32_t v) {
  int n = 0;
  while (v > 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

struct Code {
  uint16_t symbol;    // literal byte, or 256 + length - 3
  uint16_t distance;  // for matches: distance - 1
};

class Encoder {
 public:
  explicit Encoder(int windowBits)
      : windowBits_(windowBits),
        positionCodes_(windowBits + 1),
        positionFieldBits_(windowBits == 13 ? 4 : 5),
        window_(1u << windowBits) {}

  std::string Run(const std::string& data) {
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    const std::size_t n = data.size();
    constexpr std::size_t kHashSize = 1 << 15;
    std::vector<int64_t> head(kHashSize, -1);
    std::vector<int64_t> prev(window_, -1);
    auto hashAt = [&](std::size_t i) { return ((p[i] << 10) ^ (p[i + 1] << 5) ^ p[i + 2]) & (kHashSize - 1); };
    auto insert = [&](std::size_t i) {
      if (i + kMinMatch > n) return;
      const std::size_t h = hashAt(i);
      prev[i & (window_ - 1)] = head[h];
      head[h] = static_cast<int64_t>(i);
    };
    std::size_t i = 0;
    while (i < n) {
      int bestLength = 0;
      std::size_t bestDistance = 0;
      if (i + kMinMatch <= n) {
        const std::size_t limit = std::min<std::size_t>(kMaxMatch, n - i);
        int64_t candidate = head[hashAt(i)];
        for (int chain = 0; candidate >= 0 && chain < kChainLimit; ++chain) {
          const std::size_t distance = i - static_cast<std::size_t>(candidate);
          if (distance >= window_) break;
          const uint8_t* a = p + candidate;
          const uint8_t* b = p + i;
          if (a[bestLength] == b[bestLength]) {
            std::size_t len = 0;
            while (len < limit && a[len] == b[len]) ++len;
            if (static_cast<int>(len) > bestLength) {
              bestLength = static_cast<int>(len);
              bestDistance = distance;
              if (len == limit) break;
            }
          }
          candidate = prev[static_cast<std::size_t>(candidate) & (window_ - 1)];
        }
      }
      if (bestLength >= kMinMatch) {
        Emit({static_cast<uint16_t>(256 + bestLength - kMinMatch), static_cast<uint16_t>(bestDistance - 1)});
        for (int k = 0; k < bestLength; ++k) insert(i + static_cast<std::size_t>(k));
        i += static_cast<std::size_t>(bestLength);
      } else {
        Emit({p[i], 0});
        insert(i);
        ++i;
      }
    }
    FlushBlock();
    return bits_.Finish();
  }

 private:
  void Emit(Code code) {
    block_.push_back(code);
    if (block_.size() == kBlockCodes) FlushBlock();
  }

  static int PositionCode(uint32_t distance) { return distance < 2 ? static_cast<int>(distance) : BitLength(distance); }

  // A table of code lengths for the code-length or position alphabets: a
  // count, then each length in 3 bits (7 and up as a run of ones ended by a
  // zero); after the third entry of the code-length table, 2 bits saying
  // how many zero lengths follow.
  void WriteSmallTable(const std::vector<int>& lengths, int countBits, bool skipAfterThird) {
    int count = static_cast<int>(lengths.size());
    while (count > 0 && lengths[count - 1] == 0) --count;
    bits_.Put(countBits, static_cast<uint32_t>(count));
    int i = 0;
    while (i < count) {
      const int k = lengths[i++];
      if (k <= 6) {
        bits_.Put(3, static_cast<uint32_t>(k));
      } else {
        bits_.Put(k - 3, (1u << (k - 3)) - 2);
      }
      if (skipAfterThird && i == 3) {
        while (i < 6 && lengths[i] == 0) ++i;
        bits_.Put(2, static_cast<uint32_t>(i - 3));
      }
    }
  }

  void FlushBlock() {
    if (block_.empty()) return;
    std::vector<uint32_t> literalFreq(kLiteralCodes, 0);
    std::vector<uint32_t> positionFreq(positionCodes_, 0);
    for (const Code& c : block_) {
      ++literalFreq[c.symbol];
      if (c.symbol >= 256) ++positionFreq[PositionCode(c.distance)];
    }
    bits_.Put(16, static_cast<uint32_t>(block_.size()));

    // A block of one repeated literal could be sent as a single implied
    // symbol, but libarchive 3.6 rejects that form ("Bad lzh data") where
    // LHa and lhasa accept it; a second, unused symbol keeps a real table.
    std::vector<uint32_t> tableFreq = literalFreq;
    if (std::count_if(tableFreq.begin(), tableFreq.end(), [](uint32_t f) { return f > 0; }) == 1) {
      ++tableFreq[tableFreq[0] == 0 ? 0 : 1];
    }
    const std::vector<int> literalLengths = CodeLengths(tableFreq);
    {
      // Run-length form of the literal lengths, itself Huffman coded.
      int count = kLiteralCodes;
      while (count > 0 && literalLengths[count - 1] == 0) --count;
      struct Item {
        int symbol;
        int extraBits;
        uint32_t extra;
      };
      std::vector<Item> items;
      for (int i = 0; i < count;) {
        if (literalLengths[i] != 0) {
          items.push_back({literalLengths[i] + 2, 0, 0});
          ++i;
          continue;
        }
        int run = 0;
        while (i < count && literalLengths[i] == 0) {
          ++run;
          ++i;
        }
        if (run <= 2) {
          for (int k = 0; k < run; ++k) items.push_back({0, 0, 0});
        } else if (run <= 18) {
          items.push_back({1, 4, static_cast<uint32_t>(run - 3)});
        } else if (run == 19) {
          items.push_back({0, 0, 0});
          items.push_back({1, 4, 15});
        } else {
          items.push_back({2, 9, static_cast<uint32_t>(run - 20)});
        }
      }
      std::vector<uint32_t> lengthFreq(kLengthCodes, 0);
      for (const Item& it : items) ++lengthFreq[it.symbol];
      const std::vector<int> lengthLengths = CodeLengths(lengthFreq);
      const bool singleLength = std::all_of(lengthLengths.begin(), lengthLengths.end(), [](int l) { return l == 0; });
      std::vector<uint32_t> lengthCodes;
      if (singleLength) {
        bits_.Put(5, 0);
        bits_.Put(5, static_cast<uint32_t>(SingleSymbol(lengthFreq)));
      } else {
        WriteSmallTable(lengthLengths, 5, true);
        lengthCodes = Codes(lengthLengths);
      }
      bits_.Put(9, static_cast<uint32_t>(count));
      for (const Item& it : items) {
        if (!singleLength) bits_.Put(lengthLengths[it.symbol], lengthCodes[it.symbol]);
        if (it.extraBits > 0) bits_.Put(it.extraBits, it.extra);
      }
    }

    const std::vector<int> positionLengths = CodeLengths(positionFreq);
    const bool singlePosition =
        std::all_of(positionLengths.begin(), positionLengths.end(), [](int l) { return l == 0; });
    std::vector<uint32_t> positionCodes;
    if (singlePosition) {
      bits_.Put(positionFieldBits_, 0);
      bits_.Put(positionFieldBits_, static_cast<uint32_t>(SingleSymbol(positionFreq)));
    } else {
      WriteSmallTable(positionLengths, positionFieldBits_, false);
      positionCodes = Codes(positionLengths);
    }

    const std::vector<uint32_t> literalCodes = Codes(literalLengths);
    for (const Code& c : block_) {
      bits_.Put(literalLengths[c.symbol], literalCodes[c.symbol]);
      if (c.symbol < 256) continue;
      const int pc = PositionCode(c.distance);
      if (!singlePosition) bits_.Put(positionLengths[pc], positionCodes[pc]);
      if (pc > 1) bits_.Put(pc - 1, c.distance & ((1u << (pc - 1)) - 1));
    }
    block_.clear();
  }

  int windowBits_;
  int positionCodes_;
  int positionFieldBits_;
  std::size_t window_;
  std::vector<Code> block_;
  BitWriter bits_;
};

}  // namespace

std::string Compress(const std::string& data, Method method) {
  switch (method) {
    case Method::Lh0:
      return data;
    case Method::Lh5:
      return Encoder(13).Run(data);
    case Method::Lh6:
      return Encoder(15).Run(data);
    case Method::Lh7:
      return Encoder(16).Run(data);
  }
  throw std::invalid_argument("unknown LZH method");
}

}  // namespace zr::lzh::writer

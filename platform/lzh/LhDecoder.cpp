#include "platform/lzh/LhDecoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace zr::lzh {
namespace {

constexpr int kLiteralSymbols = 510;  // 256 bytes and match lengths 3 to 256
constexpr int kLengthSymbols = 19;    // the code that packs the literal code's lengths
constexpr int kMaxCodeBits = 16;
constexpr int kRootBits = 12;
constexpr std::size_t kMaxMatch = 256;

// A table entry: the symbol, its code length, and a flag sending longer codes to the second table.
constexpr uint16_t kLong = 0x8000;
constexpr uint16_t Entry(unsigned symbol, unsigned bits) { return static_cast<uint16_t>(symbol | bits << 9); }
constexpr unsigned SymbolOf(uint16_t e) { return e & 0x1FF; }
constexpr unsigned BitsOf(uint16_t e) { return (e >> 9) & 0x1F; }

// A canonical Huffman code looked up by its first `maxBits` bits: codes up
// to kRootBits long straight from `root`, longer ones from `rest`, which
// holds the stretch of a full maxBits-bit table those codes cover.
struct Code {
  int maxBits = 0;
  int shift = 0;  // maxBits - kRootBits, when positive
  uint32_t restBase = 0;
  std::array<uint16_t, 1u << kRootBits> root{};
  std::array<uint16_t, 1u << kRootBits> rest{};

  uint16_t Look(uint32_t first) const {
    const uint16_t e = root[first >> shift];
    return (e & kLong) ? rest[first - restBase] : e;
  }

  // A table of no bits: every lookup gives `symbol` and takes no bits.
  void Single(unsigned symbol) {
    maxBits = 0;
    shift = 0;
    restBase = 0;
    root[0] = Entry(symbol, 0);
  }

  // The lengths must make a complete code (the only kind libarchive takes), no code over 16 bits.
  bool Build(const uint8_t* lengths, int count) {
    std::array<uint32_t, kMaxCodeBits + 1> perLength{};
    for (int i = 0; i < count; ++i) ++perLength[lengths[i]];
    uint32_t space = 0;
    int longest = 0;
    for (int l = 1; l <= kMaxCodeBits; ++l) {
      if (perLength[l] == 0) continue;
      space += perLength[l] << (kMaxCodeBits - l);
      longest = l;
    }
    if (space != 1u << kMaxCodeBits) return false;
    maxBits = longest;
    const int rootBits = std::min(longest, kRootBits);
    shift = longest - rootBits;
    std::array<uint32_t, kMaxCodeBits + 2> next{};
    uint32_t shortEnd = 0;  // root entries the codes of up to rootBits bits fill
    for (int l = 1; l <= kMaxCodeBits; ++l) {
      next[l + 1] = (next[l] + perLength[l]) << 1;
      if (l <= rootBits) shortEnd += perLength[l] << (rootBits - l);
    }
    restBase = shortEnd << shift;
    // A complete code leaves the long codes at most (1 << longest) - restBase
    // entries, no more than 8 per symbol: always inside `rest`.
    if ((1u << longest) - restBase > rest.size()) return false;
    for (int i = 0; i < count; ++i) {
      const int l = lengths[i];
      if (l == 0) continue;
      const uint32_t code = next[l]++;
      if (l <= rootBits) {
        const uint32_t from = code << (rootBits - l);
        std::fill_n(root.begin() + from, 1u << (rootBits - l),
                    Entry(static_cast<unsigned>(i), static_cast<unsigned>(l)));
      } else {
        root[code >> (l - rootBits)] = kLong;
        const uint32_t from = (code << (longest - l)) - restBase;
        std::fill_n(rest.begin() + from, 1u << (longest - l),
                    Entry(static_cast<unsigned>(i), static_cast<unsigned>(l)));
      }
    }
    return true;
  }
};

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

}  // namespace

struct LhDecoder::State {
  // Packed bytes: the current read block and what is left of it.
  std::vector<uint8_t> input = std::vector<uint8_t>(kInputBlock);
  const uint8_t* in = nullptr;
  const uint8_t* inEnd = nullptr;
  uint64_t unread = 0;     // packed bytes not yet read from the source
  bool lastBlock = false;  // the current read block ends the packed data
  const Source* source = nullptr;

  // Bits: the next one is the top bit of `cache`, `avail` of them valid,
  // the rest zero. Refills happen when and as libarchive's happen: when
  // fewer bits are held than a read may need, as many whole bytes as fit.
  uint64_t cache = 0;
  int avail = 0;

  // Output: the window, then the block being decoded, then room for a match that runs past it.
  std::vector<uint8_t> out;
  std::size_t window = 0;
  std::size_t op = 0;        // next output position in `out`
  std::size_t blockEnd = 0;  // window + kOutputBlock
  const Sink* sink = nullptr;

  Code literalCode, lengthCode, positionCode;
  int positionSymbols = 0;
  int positionCountBits = 0;
  unsigned symbolsLeft = 0;  // in the current Huffman block

  [[noreturn]] static void Fail(DataFault fault = DataFault::BadStream) { throw Damaged{fault}; }

  uint32_t Peek(int n) const { return static_cast<uint32_t>((cache >> 1) >> (63 - n)); }
  void Drop(int n) {
    cache <<= n;
    avail -= n;
  }

  enum class Refilled { Full, Partly, Exhausted };

  // Tops the cache up from the current read block as libarchive does.
  Refilled Refill() {
    const int free = 64 - avail;
    const std::size_t want = static_cast<std::size_t>(free >> 3);
    const std::size_t have = static_cast<std::size_t>(inEnd - in);
    if (have >= 8) {
      const int spare = free & 7;
      cache |= ((LoadBigEndian64(in) >> avail) >> spare) << spare;
      in += want;
      avail += free - spare;
      return Refilled::Full;
    }
    const std::size_t take = std::min(want, have);
    for (std::size_t i = 0; i < take; ++i) {
      cache |= static_cast<uint64_t>(*in++) << (56 - avail);
      avail += 8;
    }
    if (take == want) return Refilled::Full;
    return lastBlock ? Refilled::Exhausted : Refilled::Partly;
  }

  void Read() {
    const std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kInputBlock, unread));
    const std::size_t got = (*source)(input.data(), count);
    if (got == 0 || got > count) Fail(DataFault::Truncated);
    unread -= got;
    lastBlock = unread == 0;
    in = input.data();
    inEnd = in + got;
  }

  void Hand(std::size_t size) {
    (*sink)(out.data() + window, size);
    // libarchive's next call for data starts with a new read block if the last is used up.
    if (in == inEnd && !lastBlock) Read();
  }

  // `n` bits where libarchive reads ahead and may go on with what it has:
  // false only when the packed data ends with fewer than `n` bits left.
  bool Have(int n) {
    if (avail >= n) return true;
    for (;;) {
      const Refilled r = Refill();
      if (r == Refilled::Full || avail >= n) return true;
      if (r == Refilled::Exhausted) return false;
      Read();
    }
  }

  // `n` bits where libarchive reads ahead and stops whenever its read block
  // runs out: false when the packed data ends during that refill, whatever is left.
  bool HaveStrictly(int n) {
    if (avail >= n) return true;
    for (;;) {
      const Refilled r = Refill();
      if (r == Refilled::Full) return true;
      if (r == Refilled::Exhausted) return false;
      Read();
      if (avail >= n) return true;
    }
  }

  uint32_t Take(int n) {
    if (!Have(n)) Fail();
    const uint32_t v = Peek(n);
    Drop(n);
    return v;
  }

  // One symbol where the packed data may end: missing bits count as zeros,
  // and a code that needs them is damage.
  unsigned Decode(const Code& code) {
    Have(code.maxBits);
    const uint16_t e = code.Look(Peek(code.maxBits));
    Drop(static_cast<int>(BitsOf(e)));
    if (avail < 0) Fail();
    return SymbolOf(e);
  }

  // A code length of the two small codes: three bits, 7 and up continued in unary.
  uint8_t SmallLength() {
    if (!Have(3)) Fail();
    unsigned c = Peek(3);
    if (c == 7) {
      if (!Have(13)) Fail();
      uint32_t d = Peek(13);
      while (d & 0x200) {
        ++c;
        d <<= 1;
      }
      if (c > 16) Fail();
      Drop(static_cast<int>(c) - 3);
    } else {
      Drop(3);
    }
    return static_cast<uint8_t>(c);
  }

  void ReadSmallCode(Code& code, int symbols, int countBits, bool skipField) {
    const int count = static_cast<int>(Take(countBits));
    if (count == 0) {
      const unsigned only = Take(countBits);
      if (only >= static_cast<unsigned>(symbols)) Fail();
      code.Single(only);
      return;
    }
    if (count > symbols) Fail();
    std::array<uint8_t, kLengthSymbols> lengths{};
    int i = 0;
    if (skipField && count >= 3) {
      while (i < 3) lengths[i++] = SmallLength();
      const int zeros = static_cast<int>(Take(2));
      if (zeros > count - 3) Fail();
      i += zeros;
    }
    while (i < count) lengths[i++] = SmallLength();
    if (!code.Build(lengths.data(), count)) Fail();
  }

  void ReadLiteralCode() {
    const int count = static_cast<int>(Take(9));
    if (count == 0) {
      const unsigned only = Take(9);
      if (only >= kLiteralSymbols) Fail();
      literalCode.Single(only);
      return;
    }
    if (count > kLiteralSymbols) Fail();
    std::array<uint8_t, kLiteralSymbols> lengths{};
    int i = 0;
    while (i < count) {
      if (!Have(lengthCode.maxBits)) Fail();
      const uint16_t e = lengthCode.Look(Peek(lengthCode.maxBits));
      const unsigned c = SymbolOf(e);
      const int bits = static_cast<int>(BitsOf(e));
      if (c > 2) {
        Drop(bits);
        lengths[i++] = static_cast<uint8_t>(c - 2);
      } else if (c == 0) {
        Drop(bits);
        lengths[i++] = 0;
      } else {
        const int runBits = c == 1 ? 4 : 9;
        if (!Have(bits + runBits)) Fail();
        Drop(bits);
        const int run = static_cast<int>(Peek(runBits)) + (c == 1 ? 3 : 20);
        Drop(runBits);
        if (run > count - i) Fail();
        std::fill_n(lengths.begin() + i, run, 0);
        i += run;
      }
    }
    if (!literalCode.Build(lengths.data(), count)) Fail();
  }

  // The next Huffman block's header and codes; false where the data ends instead.
  bool StartBlock() {
    if (!HaveStrictly(16)) {
      // A few bits of padding may follow the last block; a byte or more is damage.
      if (avail >= 8) Fail();
      return false;
    }
    symbolsLeft = Peek(16);
    Drop(16);
    if (symbolsLeft == 0) Fail();
    ReadSmallCode(lengthCode, kLengthSymbols, 5, true);
    ReadLiteralCode();
    ReadSmallCode(positionCode, positionSymbols, positionCountBits, false);
    return true;
  }

  struct Symbol {
    unsigned symbol;  // a byte below 256, else a match
    unsigned length;
    std::size_t distance;
  };

  // The next symbol, read where the packed data may end; false at the end of the stream.
  bool Next(Symbol& s) {
    if (symbolsLeft == 0 && !StartBlock()) return false;
    s.symbol = Decode(literalCode);
    --symbolsLeft;
    if (s.symbol < 256) return true;
    s.length = s.symbol - 253;
    unsigned p = Decode(positionCode);
    if (p > 1) {
      const int extra = static_cast<int>(p) - 1;
      if (!Have(extra)) Fail();
      p = (1u << extra) + Peek(extra);
      Drop(extra);
    }
    s.distance = p + 1;
    return true;
  }

  static void Copy(uint8_t* to, std::size_t distance, unsigned length) {
    const uint8_t* from = to - distance;
    if (distance >= 8) {
      // Eight at a time, up to seven bytes past the match: they are rewritten before anyone reads them.
      for (unsigned i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    } else {
      for (unsigned i = 0; i < length; ++i) to[i] = from[i];
    }
  }

  void Put(const Symbol& s) {
    if (s.symbol < 256) {
      out[op++] = static_cast<uint8_t>(s.symbol);
    } else {
      Copy(out.data() + op, s.distance, s.length);
      op += s.length;
    }
  }

  // Symbols while nothing can run out: the read block holds enough bytes for
  // every refill, the output block room for every match, the Huffman block
  // enough symbols.
  void DecodeRun() {
    const std::size_t byInput = static_cast<std::size_t>(inEnd - in) > 16 ? (inEnd - in - 16) / 6 : 0;
    std::size_t n = std::min<std::size_t>({symbolsLeft, (blockEnd - op) / kMaxMatch, byInput});
    if (n == 0) return;
    symbolsLeft -= static_cast<unsigned>(n);
    uint64_t c = cache;
    int a = avail;
    const uint8_t* p = in;
    uint8_t* o = out.data() + op;
    const int lMax = literalCode.maxBits;
    const int pMax = positionCode.maxBits;
    auto refill = [&] {
      const int free = 64 - a;
      const int spare = free & 7;
      c |= ((LoadBigEndian64(p) >> a) >> spare) << spare;
      p += free >> 3;
      a += free - spare;
    };
    do {
      if (a < lMax) refill();
      uint16_t e = literalCode.Look(static_cast<uint32_t>((c >> 1) >> (63 - lMax)));
      int bits = static_cast<int>(BitsOf(e));
      c <<= bits;
      a -= bits;
      const unsigned sym = SymbolOf(e);
      if (sym < 256) {
        *o++ = static_cast<uint8_t>(sym);
        continue;
      }
      const unsigned length = sym - 253;
      if (a < pMax) refill();
      e = positionCode.Look(static_cast<uint32_t>((c >> 1) >> (63 - pMax)));
      bits = static_cast<int>(BitsOf(e));
      c <<= bits;
      a -= bits;
      std::size_t distance = SymbolOf(e);
      if (distance > 1) {
        const int extra = static_cast<int>(distance) - 1;
        if (a < extra) refill();
        distance = (std::size_t{1} << extra) + static_cast<std::size_t>(c >> (64 - extra));
        c <<= extra;
        a -= extra;
      }
      Copy(o, distance + 1, length);
      o += length;
    } while (--n > 0);
    cache = c;
    avail = a;
    in = p;
    op = static_cast<std::size_t>(o - out.data());
  }

  void Run(int windowBits, uint64_t packedSize) {
    window = std::size_t{1} << windowBits;
    positionSymbols = windowBits + 1;
    positionCountBits = windowBits == 13 ? 4 : 5;
    out.resize(window + kOutputBlock + kMaxMatch + 8);
    // libarchive starts from a window of spaces.
    std::fill_n(out.begin(), window, ' ');
    op = window;
    blockEnd = window + kOutputBlock;
    cache = 0;
    avail = 0;
    symbolsLeft = 0;
    unread = packedSize;
    lastBlock = packedSize == 0;
    in = inEnd = input.data();
    if (!lastBlock) Read();

    for (;;) {
      while (op < blockEnd) {
        DecodeRun();
        if (op >= blockEnd) break;
        Symbol s{};
        if (!Next(s)) {
          // libarchive hands out no empty block.
          if (op > window) (*sink)(out.data() + window, op - window);
          return;
        }
        Put(s);
      }
      // A full block goes out at once, before anything more is read.
      Hand(kOutputBlock);
      // Keep the window and whatever of a match ran past the block.
      std::memmove(out.data(), out.data() + kOutputBlock, op - kOutputBlock);
      op -= kOutputBlock;
    }
  }
};

LhDecoder::LhDecoder() : state_(std::make_unique<State>()) {}
LhDecoder::~LhDecoder() = default;

int LhDecoder::WindowBits(const std::string& method) {
  if (method == "-lh5-") return 13;
  if (method == "-lh6-") return 15;
  if (method == "-lh7-") return 16;
  return 0;
}

void LhDecoder::Decode(int windowBits, uint64_t packedSize, const Source& source, const Sink& sink) {
  state_->source = &source;
  state_->sink = &sink;
  state_->Run(windowBits, packedSize);
}

}  // namespace zr::lzh

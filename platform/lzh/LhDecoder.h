#pragma once

// Our own decoder for -lh5-, -lh6- and -lh7- member data, for checks that keep nothing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/lzh/ErrorTexts.h"

namespace zr::lzh {

// Decodes the static-Huffman LZSS streams of -lh5-, -lh6- and -lh7-,
// faster than libarchive, accepting and refusing exactly the streams
// libarchive accepts and refuses, and handing out the same blocks in the
// same order: a fault it finds, and the point at which it finds it, are
// the ones libarchive's reading of the same bytes would give. For that it
// reads the packed bytes in the blocks libarchive is handed (a truncated
// stream's end is judged by how many bits its reader holds, which depends
// on where its reads stopped) and hands out output in libarchive's blocks.
// One decoder serves any number of members in turn; it is not shared.
class LhDecoder {
 public:
  // The packed bytes reach libarchive in reads of this size, from the start of the member's data.
  static constexpr std::size_t kInputBlock = 128 * 1024;
  // libarchive 3.6 decodes into a ring of this size and hands each one out
  // the moment it fills, before it reads on; the last one shorter, an empty
  // one never. (Later libarchive hands out data otherwise: the tests that
  // hold this decoder to libarchive's reading would show it.)
  static constexpr std::size_t kOutputBlock = 128 * 1024;

  // Damage found in the stream: DataFault::BadStream, or DataFault::Truncated
  // when the file ends before the declared packed size.
  struct Damaged {
    DataFault fault;
  };

  // Puts up to `size` further packed bytes at `into` and says how many; 0 when the file ends there.
  using Source = std::function<std::size_t(uint8_t* into, std::size_t size)>;
  // Takes one block of decoded data.
  using Sink = std::function<void(const uint8_t* data, std::size_t size)>;

  LhDecoder();
  ~LhDecoder();
  LhDecoder(const LhDecoder&) = delete;
  LhDecoder& operator=(const LhDecoder&) = delete;

  // The window size in bits of `method` ("-lh5-" 13, "-lh6-" 15, "-lh7-" 16), 0 for any other.
  static int WindowBits(const std::string& method);

  // Decodes one member's `packedSize` packed bytes, read from `source`,
  // into `sink` until the packed bytes are used up. Throws Damaged, or
  // whatever `source` and `sink` throw.
  void Decode(int windowBits, uint64_t packedSize, const Source& source, const Sink& sink);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zr::lzh

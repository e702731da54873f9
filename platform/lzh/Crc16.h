#pragma once

#include <cstddef>
#include <cstdint>

namespace zr::lzh {

// CRC-16/ARC (reflected polynomial 0x8005, initial value 0, no final XOR):
// the check value LZH archives carry for member data and level-2/3 headers.
// Feed the previous result back in to continue over several pieces.
uint16_t Crc16(uint16_t crc, const void* data, std::size_t size);

}  // namespace zr::lzh

#include "vcd/fastlz.hpp"

#include <cstdint>

namespace vcd {

// A block is a run of instructions. The first byte's top three bits give the
// level (0: level 1, 1: level 2) and its low five bits are the first
// instruction. An instruction below 32 copies that many plus one literal
// bytes. Any other is a match: its top three bits are the length less two
// (7 meaning more length bytes follow), its low five bits the high byte of
// the distance less one, the next byte the low one. Level 2 writes long
// lengths as a run of bytes ended by one below 255, and a distance of
// 0x1fff + 255 marks a 16-bit distance that follows, counted from 8191.
bool fastlz_decode(std::span<const unsigned char> in, std::span<unsigned char> out) {
  if (in.empty()) return out.empty();
  const unsigned level = (in[0] >> 5) + 1;
  if (level > 2) return false;
  std::size_t ip = 0;
  std::size_t op = 0;
  std::uint32_t ctrl = in[ip++] & 31u;
  for (;;) {
    if (ctrl < 32) {
      const std::size_t run = ctrl + 1;
      if (in.size() - ip < run || out.size() - op < run) return false;
      for (std::size_t i = 0; i < run; ++i) out[op++] = in[ip++];
    } else {
      std::size_t length = (ctrl >> 5) - 1;
      std::size_t distance = (ctrl & 31u) << 8;
      if (length == 6) {
        if (level == 1) {
          if (ip >= in.size()) return false;
          length += in[ip++];
        } else {
          std::uint8_t code = 255;
          while (code == 255) {
            if (ip >= in.size()) return false;
            code = in[ip++];
            length += code;
          }
        }
      }
      if (ip >= in.size()) return false;
      const std::uint8_t low = in[ip++];
      distance += low;
      if (level == 2 && low == 255 && distance == (31u << 8) + 255) {
        if (in.size() - ip < 2) return false;
        distance = (std::size_t{in[ip]} << 8 | in[ip + 1]) + 8191;
        ip += 2;
      }
      // The copy starts distance + 1 bytes back and may overlap its output.
      length += 3;
      if (distance + 1 > op || out.size() - op < length) return false;
      const std::size_t from = op - distance - 1;
      for (std::size_t i = 0; i < length; ++i) out[op + i] = out[from + i];
      op += length;
    }
    if (ip >= in.size()) break;
    ctrl = in[ip++];
  }
  return op == out.size();
}

}  // namespace vcd

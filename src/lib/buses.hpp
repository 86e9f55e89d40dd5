// Buses that a dump declares one bit per variable (`count[2]`, `count[1]`,
// `count[0]`, each with its own identifier code), offered as one signal each
// (`count[2:0]`) whose value is its bits in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "src/lib/signal_index.hpp"
#include "vcd/idcode.hpp"
#include "vcd/value.hpp"

namespace quarnel {

struct Bus {
  std::string name;  // the bits' common name, then "[msb:lsb]"
  vcd::IdCode code;  // a code no variable of the dump has
  // The positions of its bits in the signals, most significant first.
  std::vector<std::size_t> bits;
  std::size_t first_bit;  // the position of its first declared bit
};

// The buses among `signals`: one-bit variables of one scope whose names are
// one name followed by "[n]", at least two of them, with every index from the
// lowest to the highest present once. A name with a missing index, a bit
// declared twice, or a merged name that the dump already declares gives no
// bus. Each bus gets a code above every code of `signals`, and its bits are
// marked `in_bus`.
std::vector<Bus> find_buses(std::vector<Signal>& signals);

// The state a one-bit variable holds after a change: the last bit of a
// vector, x for an empty one, a real or a string.
char bit_of_change(const vcd::ChangeView& view);

}  // namespace quarnel

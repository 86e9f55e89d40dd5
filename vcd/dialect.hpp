// Which VCD dialect a read accepts, chosen by each caller and carried by the
// reader; nothing about it is global.
#pragma once

namespace vcd {

// specified: the IEEE 1364 four-state vocabulary, nothing more.
// extended: also what other simulators write: any scope and variable type
// word, unknown $keyword ... $end commands (skipped), the nine-state letters
// u w l h - in values, an empty scope name and an empty vector value. Every
// dump the specified dialect reads reads the same in the extended one.
enum class Dialect : unsigned char { specified, extended };

// The extended dialect also reads a file compressed with gzip or zstd as the
// dump it holds (decoder.hpp).
inline constexpr bool reads_compressed(Dialect dialect) { return dialect == Dialect::extended; }

}  // namespace vcd

// Which VCD dialect a read accepts, chosen by each caller and carried by the
// reader; nothing about it is global.
#pragma once

namespace vcd {

// specified: the IEEE 1364 four-state vocabulary, nothing more.
// extended: also what other simulators write: any scope and variable type
// word, unknown $keyword ... $end commands (skipped), the nine-state letters
// u w l h - in values, an empty scope name, an empty vector value ("b <code>")
// and timestamps with a fraction of zeros. Every dump the specified dialect
// reads reads the same in the extended one, but for "b", a blank and bits
// alone on their line before a line that starts a command: an empty vector
// here, there bits whose code is the next line's first word.
enum class Dialect : unsigned char { specified, extended };

// The extended dialect also reads a file compressed with gzip or zstd as the
// dump it holds (decoder.hpp).
inline constexpr bool reads_compressed(Dialect dialect) { return dialect == Dialect::extended; }

}  // namespace vcd

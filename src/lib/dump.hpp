// A VCD file opened for analysis (open_dump): its declarations, read once by
// the header pass, and where its body begins.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/buses.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/fst_reader.hpp"
#include "vcd/header_source.hpp"
#include "vcd/timescale.hpp"

namespace quarnel {

struct Dump {
  std::string path;
  std::vector<Signal> signals;  // declaration order, then the merged buses
  // The buses read whole, when the caller asked for them; each is also the
  // signal of its name, with its own code, whose changes the walk makes.
  std::vector<Bus> buses;
  std::optional<vcd::Timescale> timescale;
  SignalIndex index;
  std::uint64_t body_offset;  // where the value-change section is read from
  // A file that cannot be opened again (a pipe, a compressed file), left
  // where its body begins: the body is read from it, once.
  std::unique_ptr<vcd::FileRest> rest;
  // Set for an FST file, whose changes are read through it (fst_walk.hpp).
  std::shared_ptr<const vcd::fst::Reader> fst;

  const Signal* find(std::string_view name) const { return index.find(signals, name); }
};

}  // namespace quarnel

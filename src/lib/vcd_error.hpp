// The one error type of the analysis core.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "vcd/error.hpp"

namespace quarnel {

struct VcdError {
  enum class Kind : std::uint8_t {
    Io,                     // "I/O error: {}"
    MissingEndDefinitions,  // "missing $enddefinitions marker in VCD file"
    DuplicateSignal,        // "duplicate signal name detected: {}"
    SignalsNotFound,        // "signals not found in VCD: {}"
    SignalNotFound,         // "signal not found in VCD: {}"
    InvalidOccurrence,      // "occurrence must be >= 1"
    Parse,                  // "unexpected parse error: {}"
    TimescalesDiffer,       // "timescales differ: {}"
    TimeOverflow,           // "time overflows in the finer unit: {}"
    // The caller's interrupt hook stopped a read. No payload; the caller
    // that installed the hook knows why it asked to stop.
    Interrupted,
  };
  // Which input of the operation the error is about: its one file, or the
  // first or second of compare_vcd_files; none for an error of the
  // arguments, or of two files together.
  enum class Input : std::uint8_t { first, second, none };

  Kind kind;
  std::string payload;
  Input input = Input::first;

  static VcdError io(const vcd::ReaderError& error) { return from_reader(Kind::Io, error); }
  static VcdError parse(const vcd::ReaderError& error) { return from_reader(Kind::Parse, error); }

  std::string text() const;

 private:
  static VcdError from_reader(Kind kind, const vcd::ReaderError& error) {
    if (error.kind == vcd::ReaderError::Kind::Interrupted) return {Kind::Interrupted, {}};
    return {kind, error.text};
  }
};

template <class T>
using Result = std::expected<T, VcdError>;

}  // namespace quarnel

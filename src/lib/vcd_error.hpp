// The one error type of the analysis core.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "vcd/error.hpp"

namespace quarnel {

struct VcdError {
  enum class Kind : std::uint8_t {
    Io,                    // "I/O error: {}"
    MissingEndDefinitions, // "missing $enddefinitions marker in VCD file"
    DuplicateSignal,       // "duplicate signal name detected: {}"
    SignalsNotFound,       // "signals not found in VCD: {}"
    SignalNotFound,        // "signal not found in VCD: {}"
    InvalidOccurrence,     // "occurrence must be >= 1"
    Parse,                 // "unexpected parse error: {}"
  };
  Kind kind;
  std::string payload;

  static VcdError io(const vcd::ReaderError& error) { return {Kind::Io, error.text}; }
  static VcdError parse(const vcd::ReaderError& error) { return {Kind::Parse, error.text}; }

  std::string text() const;
};

template <class T>
using Result = std::expected<T, VcdError>;

}  // namespace quarnel

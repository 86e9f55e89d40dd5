#include "src/lib/vcd_error.hpp"

namespace quarnel {

std::string VcdError::text() const {
  switch (kind) {
    case Kind::Io: return "I/O error: " + payload;
    case Kind::MissingEndDefinitions: return "missing $enddefinitions marker in VCD file";
    case Kind::DuplicateSignal: return "duplicate signal name detected: " + payload;
    case Kind::SignalsNotFound: return "signals not found in VCD: " + payload;
    case Kind::SignalNotFound: return "signal not found in VCD: " + payload;
    case Kind::InvalidOccurrence: return "occurrence must be >= 1";
    case Kind::Parse: return "unexpected parse error: " + payload;
    case Kind::TimescalesDiffer: return "timescales differ: " + payload;
    case Kind::TimeOverflow: return "time overflows in the finer unit: " + payload;
    case Kind::Interrupted: return "interrupted";
  }
  return payload;
}

}  // namespace quarnel

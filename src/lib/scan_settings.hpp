// How many threads read one body, and in what pieces.
#pragma once

#include <cstdint>

namespace quarnel {

struct ScanSettings {
  // Threads that read one body; 1 reads it on the calling thread alone.
  unsigned threads;
  // The nominal size of the pieces a body is split into. A body shorter
  // than two pieces is read whole.
  std::uint64_t chunk_bytes;
};

inline constexpr std::uint64_t kDefaultChunkBytes = std::uint64_t{4} << 20;

// From the environment at the time of the call: QUARNEL_THREADS (default:
// the cores this process may run on) and QUARNEL_CHUNK_BYTES (default 4 MiB).
// Values that are not positive integers are ignored.
ScanSettings scan_settings();

}  // namespace quarnel

// How many threads read one body, and in what pieces.
#pragma once

#include <cstdint>

namespace quarnel {

inline constexpr std::uint64_t kDefaultChunkBytes = std::uint64_t{4} << 20;
inline constexpr std::uint64_t kDefaultLogBytes = std::uint64_t{4} << 20;

struct ScanSettings {
  // Threads that read one body; 1 reads it on the calling thread alone.
  unsigned threads = 1;
  // The nominal size of the pieces a body is split into. A body shorter
  // than two pieces is read whole.
  std::uint64_t chunk_bytes = kDefaultChunkBytes;
  // The most a worker keeps of the wanted changes of one piece. A piece
  // with more is read again on the calling thread, with the rest of the
  // body: reading in pieces pays when the visitor wants few of the changes.
  std::uint64_t log_bytes = kDefaultLogBytes;
};

}  // namespace quarnel

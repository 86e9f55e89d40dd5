#include "src/lib/scan_settings.hpp"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace quarnel {

namespace {

constexpr unsigned kMaxThreads = 256;

std::optional<std::uint64_t> positive_from_env(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc{} || stop != end || value == 0) return std::nullopt;
  return value;
}

unsigned usable_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    if (const int count = CPU_COUNT(&set); count > 0) return static_cast<unsigned>(count);
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

}  // namespace

ScanSettings scan_settings() {
  const auto threads = positive_from_env("QUARNEL_THREADS");
  const auto chunk = positive_from_env("QUARNEL_CHUNK_BYTES");
  return ScanSettings{static_cast<unsigned>(threads ? std::min<std::uint64_t>(*threads, kMaxThreads)
                                                    : std::min(usable_cores(), kMaxThreads)),
                      chunk.value_or(kDefaultChunkBytes)};
}

}  // namespace quarnel

#include "src/lib/signal_index.hpp"

#include <sys/random.h>

#include <bit>
#include <chrono>
#include <cstring>

namespace quarnel {

namespace {

struct HashKey {
  std::uint64_t first;
  std::uint64_t second;
};

HashKey random_key() {
  HashKey key{};
  if (::getrandom(&key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) {
    // Nothing depends on the key; any value keeps the table correct.
    key.first =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key.second = reinterpret_cast<std::uintptr_t>(&key);
  }
  return key;
}

// The two halves of the 128-bit product, folded together.
std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace

NameTable::NameTable(std::size_t count) : slots_(std::bit_ceil(2 * count + 2), 0) {}

std::uint64_t NameTable::hash(std::string_view name) {
  static const HashKey key = random_key();
  std::uint64_t h = key.first ^ name.size();
  const char* p = name.data();
  std::size_t n = name.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    h = fold_multiply(word ^ key.second, h ^ 0x9E3779B97F4A7C15ULL);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, p, n);
  return fold_multiply(tail ^ key.second ^ 0xA0761D6478BD642FULL, h ^ 0xE7037ED1A0B428DBULL);
}

std::optional<std::size_t> find_repeated_name(const SignalNames& names) {
  NameTable table(names.size());
  const auto name_at = [&](std::size_t i) { return names[i]; };
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!table.insert(names[i], i, name_at)) return i;
  }
  return std::nullopt;
}

Result<SignalIndex> SignalIndex::build(const std::vector<Signal>& signals) {
  SignalIndex index{NameTable(signals.size())};
  const auto name_at = [&](std::size_t i) -> std::string_view { return signals[i].name; };
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (!index.by_name.insert(signals[i].name, i, name_at)) {
      return std::unexpected(VcdError{VcdError::Kind::DuplicateSignal, signals[i].name});
    }
  }
  return index;
}

}  // namespace quarnel

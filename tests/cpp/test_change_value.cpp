// The conversion of a change into its value, and the decimal text of integers, against
// plain reference versions over edge cases and random inputs.
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "check.hpp"
#include "src/lib/change_value.hpp"

using namespace quarnel;

namespace {

// One bit at a time, the plain way.
bool reference_binary(std::string_view bits, u128& number) {
  if (bits.size() > 128) return false;
  u128 value = 0;
  for (const char bit : bits) {
    if (bit != '0' && bit != '1') return false;
    value = (value << 1) | static_cast<u128>(bit == '1');
  }
  number = value;
  return true;
}

std::string reference_decimal(u128 value) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return digits;
}

std::string show(u128 value) { return reference_decimal(value); }

void check_bits(const std::string& bits) {
  u128 expected = 0;
  u128 got = 0;
  const bool expected_binary = reference_binary(bits, expected);
  const bool got_binary = binary_vector_value(bits, got);
  CHECK_EQ(got_binary, expected_binary);
  if (got_binary && expected_binary && got != expected) {
    CHECK_EQ(show(got), show(expected));
    std::fprintf(stderr, "  bits: %s\n", bits.c_str());
  }
  const ChangeValue value = change_value(ChangeView::of_vector(vcd::Vector{bits}));
  CHECK_EQ(value.is_integer(), expected_binary);
  if (!expected_binary) CHECK_EQ(std::get<std::string>(value.value), bits);
}

}  // namespace

TEST_CASE("binary vectors of every width up to 130 bits") {
  std::mt19937_64 random(7);
  for (std::size_t width = 0; width <= 130; ++width) {
    for (int round = 0; round < 40; ++round) {
      std::string bits(width, '0');
      for (char& bit : bits) bit = "01"[random() & 1];
      if (round == 1) bits.assign(width, '1');
      if (round == 2) bits.assign(width, '0');
      check_bits(bits);
      if (width == 0) continue;
      // One foreign character anywhere makes it a text.
      std::string marked = bits;
      marked[random() % width] = "xz2 "[random() % 4];
      check_bits(marked);
    }
  }
  u128 number = 0;
  CHECK(binary_vector_value(std::string(128, '1'), number));
  CHECK(number == ~u128{0});
  CHECK(!binary_vector_value(std::string(129, '0'), number));
}

TEST_CASE("decimal text of 128-bit integers") {
  std::mt19937_64 random(11);
  const u128 ten19 = 10000000000000000000ULL;
  const u128 edges[] = {0,
                        1,
                        9,
                        10,
                        255,
                        256,
                        ten19 - 1,
                        ten19,
                        ten19 + 1,
                        ~std::uint64_t{0},
                        static_cast<u128>(~std::uint64_t{0}) + 1,
                        ten19 * ten19 - 1,
                        ten19 * ten19,
                        ten19 * ten19 + 1,
                        ~u128{0}};
  for (const u128 value : edges) CHECK_EQ(to_decimal(value), reference_decimal(value));
  for (int round = 0; round < 20000; ++round) {
    u128 value = (static_cast<u128>(random()) << 64) | random();
    value >>= random() % 128;
    char digits[kMaxDecimalDigits];
    const std::string got(digits, write_decimal(value, digits));
    if (got != reference_decimal(value)) CHECK_EQ(got, reference_decimal(value));
  }
}

TEST_CASE("change views convert as the records do") {
  CHECK_EQ(
      std::get<std::string>(change_value(ChangeView::of_scalar(vcd::Value::HighImpedance)).value),
      std::string("z"));
  CHECK_EQ(std::get<double>(change_value(ChangeView::of_real(2.5)).value), 2.5);
  CHECK_EQ(std::get<std::string>(change_value(ChangeView::of_string("MiXed")).value),
           std::string("MiXed"));
  CHECK(std::get<u128>(change_value(ChangeView::of_vector(vcd::Vector{"1010"})).value) == 10);
}

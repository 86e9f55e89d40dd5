// Packed change lists give back every value exactly: the steps between
// stamps, integers of every size, reals bit for bit, and bits apart from
// strings.
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "src/lib/change_list.hpp"

using namespace quarnel;

namespace {

// "kind:display", so that 1 and "1", or bits and a string, read differently.
std::string describe(const ChangeValue& value) {
  constexpr const char* kKinds[] = {"int:", "real:", "text:"};
  return (value.is_text() && value.bits ? "bits:" : kKinds[value.value.index()]) +
         display_text(value);
}

}  // namespace

TEST_CASE("change lists give back every value exactly") {
  const double nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
  const std::vector<ChangeValue> values = {ChangeValue::of_bits("0"),
                                           ChangeValue::of_bits("z"),
                                           ChangeValue::of_bits("x1"),
                                           ChangeValue::of_string("x"),
                                           ChangeValue::of_string(""),
                                           ChangeValue::of_string("\u00C4"),
                                           ChangeValue::of_string(std::string(300, 'a')),
                                           ChangeValue{u128{0}},
                                           ChangeValue{~u128{0}},
                                           ChangeValue{u128{1} << 64},
                                           ChangeValue{-0.0},
                                           ChangeValue{nan},
                                           ChangeValue{-INFINITY}};
  // Several changes at one stamp, stamps far apart.
  const std::uint64_t stamps[] = {0,      0,      1,      2,      2,      200,   201,
                                  100000, 100000, 100001, 300000, 300000, 300003};
  CHECK_EQ(std::size(stamps), values.size());
  Timeline timeline(300004);
  for (std::size_t i = 0; i < timeline.size(); ++i) timeline[i] = i % 2 == 0 ? i * 1000 : ~i;
  ChangeList list;
  std::string expected;
  for (std::size_t i = 0; i < values.size(); ++i) {
    list.add(stamps[i], values[i]);
    expected += std::to_string(timeline[stamps[i]]) + " " + describe(values[i]) + "|";
  }
  std::string actual;
  for (const Change& change : list.changes(timeline)) {
    actual += std::to_string(change.time) + " " + describe(change.value) + "|";
  }
  CHECK_EQ(actual, expected);
  CHECK_EQ(std::bit_cast<std::uint64_t>(std::get<double>(list.changes(timeline)[11].value.value)),
           std::bit_cast<std::uint64_t>(nan));

  // Vectors of every width, with an x at every fifth place: numbers up to 128
  // bits, their bits otherwise.
  for (std::size_t width = 1; width <= 130; ++width) {
    std::string bits;
    u128 number = 0;
    for (std::size_t i = 0; i < width; ++i) {
      bits += (i * 7 + width) % 3 == 0 ? '1' : '0';
      number = (number << 1) | static_cast<u128>(bits.back() == '1');
    }
    ChangeList vectors;
    vectors.add_vector(0, bits);
    for (std::size_t x = 0; x < width; x += 5) {
      std::string unknown = bits;
      unknown[x] = 'x';
      vectors.add_vector(0, unknown);
    }
    const auto changes = vectors.changes({0});
    CHECK_EQ(describe(changes.at(0).value),
             width <= 128 ? "int:" + display_text(ChangeValue{number}) : "bits:" + bits);
    for (std::size_t k = 1; k < changes.size(); ++k)
      CHECK_EQ(describe(changes[k].value).substr(0, 5), "bits:");
  }
}

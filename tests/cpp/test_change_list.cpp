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

// Every change unpacked, as "time kind:display|".
std::string unpacked(const ChangeList& list, const Timeline& times) {
  std::string out;
  for (ChangeReader reader({list, times}); !reader.at_end(); reader.advance())
    out += std::to_string(reader.time()) + " " + describe(unpack(reader.value())) + "|";
  return out;
}

}  // namespace

TEST_CASE("change lists give back every value exactly") {
  const double nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
  static const std::string ones128(128, '1'), two64 = "1" + std::string(64, '0'),
                                              long_text(300, 'a');
  using vcd::ChangeView;
  // Each change as the reader hands it on, and how it reads back.
  const std::pair<ChangeView, std::string> changes[] = {
      {ChangeView::of_scalar(vcd::Value::Zero), "bits:0"},
      {ChangeView::of_scalar(vcd::Value::DontCare), "bits:-"},
      {ChangeView::of_vector("x1"), "bits:x1"},
      {ChangeView::of_vector(""), "bits:"},
      {ChangeView::of_string("x"), "text:x"},
      {ChangeView::of_string(""), "text:"},
      {ChangeView::of_string("\u00C4"), "text:\u00C4"},
      {ChangeView::of_string(long_text), "text:" + long_text},
      {ChangeView::of_vector("0"), "int:0"},
      {ChangeView::of_vector(ones128), "int:" + display_text(ChangeValue{~u128{0}})},
      {ChangeView::of_vector(two64), "int:18446744073709551616"},
      {ChangeView::of_real(-0.0), "real:-0"},
      {ChangeView::of_real(nan), "real:NaN"},
      {ChangeView::of_real(-INFINITY), "real:-inf"},
  };
  // Several changes at one stamp, stamps far apart.
  const std::uint64_t stamps[] = {0,      0,      1,      2,      2,      200,    201,
                                  100000, 100000, 100001, 300000, 300000, 300003, 300003};
  CHECK_EQ(std::size(stamps), std::size(changes));
  Timeline timeline(300004);
  for (std::size_t i = 0; i < timeline.size(); ++i) timeline[i] = i % 2 == 0 ? i * 1000 : ~i;
  ChangeList list;
  std::string expected;
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    list.add(stamps[i], changes[i].first);
    expected += std::to_string(timeline[stamps[i]]) + " " + changes[i].second + "|";
  }
  CHECK_EQ(unpacked(list, timeline), expected);
  // The NaN, bit for bit.
  ChangeReader reader({list, timeline});
  for (int i = 0; i < 12; ++i) reader.advance();
  CHECK_EQ(std::bit_cast<std::uint64_t>(std::get<double>(unpack(reader.value()).value)),
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
    vectors.add(0, vcd::ChangeView::of_vector(bits));
    std::string want =
        width <= 128 ? "0 int:" + display_text(ChangeValue{number}) + "|" : "0 bits:" + bits + "|";
    for (std::size_t x = 0; x < width; x += 5) {
      std::string unknown = bits;
      unknown[x] = 'x';
      vectors.add(0, vcd::ChangeView::of_vector(unknown));
      want += "0 bits:" + unknown + "|";
    }
    CHECK_EQ(unpacked(vectors, {0}), want);
  }
}

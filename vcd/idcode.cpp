#include "vcd/idcode.hpp"

namespace vcd {

std::string_view to_text(InvalidIdCode error) {
  switch (error) {
    case InvalidIdCode::Empty: return "ID cannot be empty";
    case InvalidIdCode::InvalidChars: return "invalid characters in ID";
    case InvalidIdCode::TooLong: return "ID too long";
  }
  return "invalid ID";
}

std::expected<IdCode, InvalidIdCode> parse_id_code(std::string_view text) {
  if (text.empty()) return std::unexpected(InvalidIdCode::Empty);
  std::uint64_t value = 0;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const auto byte = static_cast<unsigned char>(*it);
    if (byte < 33 || byte > 126) return std::unexpected(InvalidIdCode::InvalidChars);
    std::uint64_t next = 0;
    if (__builtin_mul_overflow(value, std::uint64_t{94}, &next) ||
        __builtin_add_overflow(next, std::uint64_t{byte} - 32, &next)) {
      return std::unexpected(InvalidIdCode::TooLong);
    }
    value = next;
  }
  return IdCode{value - 1};
}

}  // namespace vcd

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

}  // namespace vcd

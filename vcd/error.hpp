// Errors of the VCD reader: the parse error kinds with their texts, and the
// I/O-class error value that every reader operation returns on failure.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace vcd {

// Flat list of every way a command can be malformed. Kinds that carry a
// sub-kind in the format (integer, float and identifier-code errors) are
// spelled out one per sub-kind.
enum class ParseErrorKind : std::uint8_t {
  InvalidUtf8,
  UnexpectedCharacter,
  TokenTooLong,
  ExpectedEndCommand,
  UnmatchedEnd,
  UnknownCommand,
  UnexpectedHeaderCommand,
  IntEmpty,
  IntInvalidDigit,
  IntTooLarge,
  FloatEmpty,
  FloatInvalid,
  InvalidTimescaleUnit,
  InvalidScopeType,
  InvalidVarType,
  InvalidReferenceIndex,
  InvalidValueChar,
  IdCodeEmpty,
  IdCodeInvalidChars,
  IdCodeTooLong,
  TimeFraction,
};

std::string_view parse_error_text(ParseErrorKind kind);

struct ParseError {
  std::uint64_t line;
  ParseErrorKind kind;
};

// "{kind text} at line {line}"
std::string to_string(const ParseError& error);

// The I/O-class error shared by the reader and the file operations of the
// analysis core: a kind and the text that is shown to the user.
struct ReaderError {
  // Interrupted: the caller's interrupt hook asked to stop (see interrupt.hpp).
  // MissingEndDefinitions: no line of the file holds "$enddefinitions".
  enum class Kind : std::uint8_t {
    Os,
    UnexpectedEof,
    InvalidData,
    Interrupted,
    MissingEndDefinitions
  };
  Kind kind;
  int os_error;  // errno for Kind::Os, 0 otherwise
  std::string text;

  static ReaderError from_os(int errnum);  // "<description> (os error N)"
  static ReaderError eof(std::string_view message);
  static ReaderError from_parse(const ParseError& error);
  static ReaderError interrupted();
  static ReaderError missing_end_definitions();
};

inline constexpr std::string_view kEofInCommand = "unexpected end of VCD file";
inline constexpr std::string_view kEofBeforeEndDefinitions =
    "unexpected end of VCD file before $enddefinitions";
inline constexpr std::string_view kEofInScope = "unexpected EOF with open $scope";

template <class T>
using Result = std::expected<T, ReaderError>;

}  // namespace vcd

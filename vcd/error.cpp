#include "vcd/error.hpp"

#include <cstring>

namespace vcd {

std::string_view parse_error_text(ParseErrorKind kind) {
  switch (kind) {
    case ParseErrorKind::InvalidUtf8: return "invalid UTF-8";
    case ParseErrorKind::UnexpectedCharacter: return "unexpected character at start of command";
    case ParseErrorKind::TokenTooLong: return "token too long";
    case ParseErrorKind::ExpectedEndCommand: return "expected `$end`";
    case ParseErrorKind::UnmatchedEnd: return "unmatched `$end`";
    case ParseErrorKind::UnknownCommand: return "unknown command";
    case ParseErrorKind::UnexpectedHeaderCommand: return "unexpected command in header";
    case ParseErrorKind::IntEmpty: return "cannot parse integer from empty string";
    case ParseErrorKind::IntInvalidDigit: return "invalid digit found in string";
    case ParseErrorKind::IntTooLarge: return "number too large to fit in target type";
    case ParseErrorKind::FloatEmpty: return "cannot parse float from empty string";
    case ParseErrorKind::FloatInvalid: return "invalid float literal";
    case ParseErrorKind::InvalidTimescaleUnit: return "invalid timescale unit";
    case ParseErrorKind::InvalidScopeType: return "invalid scope type";
    case ParseErrorKind::InvalidVarType: return "invalid variable type";
    case ParseErrorKind::InvalidReferenceIndex: return "invalid reference index";
    case ParseErrorKind::InvalidValueChar: return "invalid VCD logic value";
    case ParseErrorKind::IdCodeEmpty: return "ID cannot be empty";
    case ParseErrorKind::IdCodeInvalidChars: return "invalid characters in ID";
    case ParseErrorKind::IdCodeTooLong: return "ID too long";
    case ParseErrorKind::TimeFraction: return "timestamp with a non-zero fraction";
  }
  return "unknown parse error";
}

std::string to_string(const ParseError& error) {
  std::string text(parse_error_text(error.kind));
  text += " at line ";
  text += std::to_string(error.line);
  return text;
}

ReaderError ReaderError::from_os(int errnum) {
  std::string text = std::strerror(errnum);
  text += " (os error ";
  text += std::to_string(errnum);
  text += ')';
  return {Kind::Os, errnum, std::move(text)};
}

ReaderError ReaderError::eof(std::string_view message) {
  return {Kind::UnexpectedEof, 0, std::string(message)};
}

ReaderError ReaderError::from_parse(const ParseError& error) {
  return {Kind::InvalidData, 0, to_string(error)};
}

ReaderError ReaderError::interrupted() { return {Kind::Interrupted, 0, "interrupted"}; }

ReaderError ReaderError::missing_end_definitions() {
  return {Kind::MissingEndDefinitions, 0, "missing $enddefinitions marker in VCD file"};
}

}  // namespace vcd

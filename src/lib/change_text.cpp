#include "src/lib/change_text.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace quarnel {

namespace {

// The code point that starts at text[at], and its length in bytes; a byte
// that starts no well-formed sequence is read as U+FFFD, one byte long.
// (Names and values are valid UTF-8; this keeps any other text safe.)
char32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  length = 1;
  if (lead < 0x80) return lead;
  std::size_t need = 0;
  char32_t code = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1, code = lead & 0x1FU, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2, code = lead & 0x0FU, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3, code = lead & 0x07U, least = 0x10000;
  } else {
    return 0xFFFD;
  }
  if (at + need >= text.size()) return 0xFFFD;  // cut short
  for (std::size_t i = 1; i <= need; ++i) {
    if ((byte(i) & 0xC0U) != 0x80) return 0xFFFD;
    code = (code << 6U) | (byte(i) & 0x3FU);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0xFFFD;
  length = need + 1;
  return code;
}

// The number of code points of `text`, as Python's len() counts a str.
std::size_t code_points(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    decode_at(text, at, length);
    ++count;
  }
  return count;
}

// Whether str.isspace() holds for `code`.
bool python_space(char32_t code) {
  return (code >= 0x09 && code <= 0x0D) || (code >= 0x1C && code <= 0x20) || code == 0x85 ||
         code == 0xA0 || code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 ||
         code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
}

// `text` without the white space str.rstrip() takes off its end.
std::string_view python_rstrip(std::string_view text) {
  std::size_t keep = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    if (!python_space(decode_at(text, at, length))) keep = at + length;
  }
  return text.substr(0, keep);
}

void append_padding(std::string& out, std::size_t width, std::size_t used) {
  if (used < width) out.append(width - used, ' ');
}

// A field as the csv module writes it with its defaults: quoted, its quotes
// doubled, when it holds a delimiter, a quote or a line end.
void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

// A string as json.dumps writes it: quoted, in ASCII, every other character
// escaped (as a surrogate pair above U+FFFF).
void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto unicode_escape = [&](char32_t unit) {
    const char escape[] = {'\\',
                           'u',
                           kHex[(unit >> 12U) & 0xFU],
                           kHex[(unit >> 8U) & 0xFU],
                           kHex[(unit >> 4U) & 0xFU],
                           kHex[unit & 0xFU]};
    out.append(escape, sizeof escape);
  };
  out.push_back('"');
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    const char32_t code = decode_at(text, at, length);
    switch (code) {
      case '"': out.append("\\\""); continue;
      case '\\': out.append("\\\\"); continue;
      case '\b': out.append("\\b"); continue;
      case '\f': out.append("\\f"); continue;
      case '\n': out.append("\\n"); continue;
      case '\r': out.append("\\r"); continue;
      case '\t': out.append("\\t"); continue;
      default: break;
    }
    if (code >= 0x20 && code <= 0x7E) {
      out.push_back(static_cast<char>(code));
    } else if (code >= 0x10000) {
      const char32_t offset = code - 0x10000;
      unicode_escape(0xD800 + (offset >> 10U));
      unicode_escape(0xDC00 + (offset & 0x3FFU));
    } else {
      unicode_escape(code);
    }
  }
  out.push_back('"');
}

std::string_view value_of(const ChangeBatch& batch, std::size_t row) {
  const auto begin = static_cast<std::size_t>(batch.value_offsets[row]);
  const auto end = static_cast<std::size_t>(batch.value_offsets[row + 1]);
  return std::string_view(batch.value_data).substr(begin, end - begin);
}

struct Digits {
  char text[20];
  std::size_t size;
};

Digits digits_of(std::uint64_t number) {
  Digits digits{};
  digits.size = static_cast<std::size_t>(
      std::to_chars(std::begin(digits.text), std::end(digits.text), number).ptr - digits.text);
  return digits;
}

}  // namespace

bool text_form_named(std::string_view name, TextForm& form) {
  static constexpr std::pair<std::string_view, TextForm> kForms[] = {
      {"csv", TextForm::Csv},
      {"jsonl", TextForm::JsonLines},
      {"json", TextForm::Json},
      {"aligned", TextForm::Aligned},
  };
  for (const auto& [known, known_form] : kForms) {
    if (name == known) {
      form = known_form;
      return true;
    }
  }
  return false;
}

ChangeTextWriter::ChangeTextWriter(TextForm form, const std::vector<std::string>& names)
    : form_(form), names_(names) {}

void ChangeTextWriter::start(const ChangeBatch* first, std::string& out) {
  started_ = true;
  std::size_t signal_width = 6;  // "signal"
  time_width_ = 4;               // "time"
  if (form_ == TextForm::Aligned && first != nullptr) {
    const std::size_t sizing = std::min(first->rows(), kSizingRows);
    std::vector<bool> seen(names_.size());
    for (std::size_t row = 0; row < sizing; ++row) {
      time_width_ = std::max(time_width_, digits_of(first->time[row]).size);
      const auto signal = static_cast<std::size_t>(first->signal[row]);
      if (!seen[signal]) signal_width = std::max(signal_width, code_points(names_[signal]));
      seen[signal] = true;
    }
  }
  for (const std::string& name : names_) {
    std::string& row_start = row_starts_.emplace_back();
    switch (form_) {
      case TextForm::Csv:
        append_csv_field(row_start, name);
        row_start.push_back(',');
        break;
      case TextForm::JsonLines:
        row_start = "{\"signal\": ";
        append_json_string(row_start, name);
        row_start.append(", \"time\": ");
        break;
      case TextForm::Json:
        row_start = "  {\n    \"signal\": ";
        append_json_string(row_start, name);
        row_start.append(",\n    \"time\": ");
        break;
      case TextForm::Aligned:
        row_start = name;
        append_padding(row_start, signal_width, code_points(name));
        row_start.append("  ");
        break;
    }
  }
  switch (form_) {
    case TextForm::Csv: out.append("signal,time,value\n"); break;
    case TextForm::JsonLines:
    case TextForm::Json:  // the list opens with its first row
      break;
    case TextForm::Aligned:
      out.append("signal");
      append_padding(out, signal_width, 6);
      out.append("  ");
      append_padding(out, time_width_, 4);
      out.append("time  value\n");
      break;
  }
}

void ChangeTextWriter::write(const ChangeBatch& batch, std::string& out) {
  if (!started_) start(&batch, out);
  for (std::size_t row = 0; row < batch.rows(); ++row) {
    const std::string& row_start = row_starts_[static_cast<std::size_t>(batch.signal[row])];
    const Digits time = digits_of(batch.time[row]);
    const std::string_view value = value_of(batch, row);
    switch (form_) {
      case TextForm::Csv:
        out.append(row_start).append(time.text, time.size).push_back(',');
        append_csv_field(out, value);
        out.push_back('\n');
        break;
      case TextForm::JsonLines:
        out.append(row_start).append(time.text, time.size).append(", \"value\": ");
        append_json_string(out, value);
        out.append("}\n");
        break;
      case TextForm::Json:
        out.append(any_row_ ? ",\n" : "[\n").append(row_start).append(time.text, time.size);
        out.append(",\n    \"value\": ");
        append_json_string(out, value);
        out.append("\n  }");
        break;
      case TextForm::Aligned: {
        out.append(row_start);
        append_padding(out, time_width_, time.size);
        out.append(time.text, time.size);
        const std::string_view kept = python_rstrip(value);
        if (!kept.empty()) out.append("  ").append(kept);
        out.push_back('\n');
        break;
      }
    }
    any_row_ = true;
  }
}

void ChangeTextWriter::finish(std::string& out) {
  if (!started_) start(nullptr, out);
  if (form_ == TextForm::Json) out.append(any_row_ ? "\n]\n" : "[]\n");
}

}  // namespace quarnel

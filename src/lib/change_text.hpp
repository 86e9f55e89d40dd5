// The rows of a table of changes as text, batch by batch: CSV, JSON Lines,
// one JSON list, or aligned columns, each exactly as Python's csv and json
// modules and the command line's tables write the same records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/change_table.hpp"

namespace quarnel {

enum class TextForm : std::uint8_t {
  Csv,        // a "signal,time,value" line, then one line a row, quoted where needed
  JsonLines,  // one {"signal": ..., "time": ..., "value": ...} object a line
  Json,       // one list of those objects, indented by two spaces a level
  Aligned,    // a header and columns padded to the widths of the first rows
};

// The form named `name` ("csv", "jsonl", "json", "aligned"), or false.
bool text_form_named(std::string_view name, TextForm& form);

// The aligned form sizes its columns by this many first rows; later rows
// that are wider push the columns after them out.
inline constexpr std::size_t kSizingRows = 4096;

class ChangeTextWriter {
 public:
  // `names`: the dictionary of the batches' signal column.
  ChangeTextWriter(TextForm form, const std::vector<std::string>& names);

  // Appends the lines of `batch`, after the header if it is the first.
  void write(const ChangeBatch& batch, std::string& out);
  // Appends what follows the last row: the header of a table without rows,
  // the end of the JSON list.
  void finish(std::string& out);

 private:
  void start(const ChangeBatch* first, std::string& out);

  TextForm form_;
  std::vector<std::string> names_;
  // Each name as its rows begin: quoted, escaped or padded for the form.
  std::vector<std::string> row_starts_;
  std::size_t time_width_ = 0;
  bool started_ = false;
  bool any_row_ = false;
};

}  // namespace quarnel

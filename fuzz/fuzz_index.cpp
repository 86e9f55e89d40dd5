// Indexes change no answer. The input is indexed, read on two threads in
// pieces of 8 bytes to 1 KiB, with a snapshot every four pieces; then every
// analysis that may use an index, with a window and a time taken from the
// input, must give with the index what a read from the start gives, errors
// and their lines included.
//
// Input: three control bytes, then the dump.
//   0: the size of the pieces; 1: the start of the window; 2: its length,
//   whose end is also the time value_at is asked for.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/body_index.hpp"
#include "src/lib/extract.hpp"
#include "src/lib/find.hpp"
#include "src/lib/list_signals.hpp"
#include "src/lib/metadata.hpp"
#include "src/lib/target.hpp"
#include "src/lib/toggles.hpp"
#include "src/lib/value_at.hpp"

namespace {

using quarnel::CallContext;
using quarnel::Window;

// Where the indexes of this run go: a folder made once, removed at exit.
struct Folder {
  std::string path = [] {
    char name[] = "/tmp/quarnel-fuzz-index-XXXXXX";
    if (::mkdtemp(name) == nullptr) quarnel::fuzz::fail("mkdtemp");
    return std::string(name);
  }();
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() { ::rmdir(path.c_str()); }
};

// Appends the answer of a call to `all`: what show() makes of its result, or
// its error.
template <class T, class Show>
void add(std::string& all, const quarnel::Result<T>& result, Show show) {
  all += result ? show(*result) : "error " + result.error().text();
  all += '\n';
}

std::string text_of(const std::optional<quarnel::ChangeValue>& value) {
  return value ? quarnel::display_text(*value) + ' ' : "none ";
}

// Every answer an index may serve, for the window [start, end].
std::string answers(const std::string& path, const std::vector<std::string>& names,
                    std::uint64_t start, std::uint64_t end, const CallContext& context) {
  std::string all;
  add(all, quarnel::read_vcd_metadata(path, context), [](const auto& meta) {
    return std::to_string(meta.start_time) + ' ' + std::to_string(meta.end_time);
  });
  std::string records;
  const auto sink = [&](const std::vector<std::uint32_t>& requests, std::uint64_t time,
                        const vcd::ChangeView& view) {
    records += std::to_string(requests.front()) + '@' + std::to_string(time) + '=' +
               text_of(quarnel::change_value(view));
    return true;
  };
  add(all, quarnel::extract_changes(path, names, Window{start, end}, sink, context),
      [&](bool) { return records; });
  add(all, quarnel::count_toggles(path, names, Window{start, {}}, context), [](const auto& counts) {
    std::string text;
    for (const auto& entry : counts) text += std::to_string(entry.second) + ' ';
    return text;
  });
  add(all,
      quarnel::find_nth_occurrence(path, names.front(), quarnel::parse_target_value("1"), 2,
                                   Window{start, {}}, context),
      [](const auto& found) { return found ? std::to_string(found->time) : "none"; });
  add(all, quarnel::values_at(path, names, end, context), [](const auto& values) {
    std::string text;
    for (const auto& value : values) text += text_of(value);
    return text;
  });
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Folder folder;
  if (size < 3) return 0;
  const quarnel::fuzz::MemoryFile file(
      std::string_view(reinterpret_cast<const char*>(data) + 3, size - 3));
  CallContext plain{vcd::Dialect::extended, nullptr, {}};
  plain.settings.threads = 2;
  plain.settings.chunk_bytes = std::uint64_t{8} << (data[0] % 8);
  const auto names = quarnel::list_signals_from_file(file.path(), std::nullopt, plain);
  if (!names || names->size() == 0) return 0;
  std::vector<std::string> wanted;
  for (std::size_t i = 0; i < names->size() && i < 8; ++i) wanted.emplace_back((*names)[i]);

  std::vector<std::string> notes;
  CallContext indexed = plain;
  indexed.index = quarnel::IndexUse{folder.path, &notes};
  const std::string index = quarnel::index_path(file.path(), folder.path);
  if (!quarnel::build_index(file.path(), index, indexed, 0)) return 0;
  const std::uint64_t start = data[1];
  FUZZ_CHECK(answers(file.path(), wanted, start, start + data[2], indexed) ==
             answers(file.path(), wanted, start, start + data[2], plain));
  FUZZ_CHECK(notes.empty());
  std::remove(index.c_str());
  return 0;
}

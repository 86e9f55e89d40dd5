// Runs every registered test case. Two extra modes let the Python tests compare the
// Unicode helpers with Python itself:
//   unit_tests lower   lowercases each line of stdin (valid UTF-8) onto stdout
//   unit_tests lossy   writes all of stdin, decoded as lossy UTF-8, to stdout
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "check.hpp"
#include "vcd/unicode.hpp"

namespace {

std::string read_stdin() {
  std::string data;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) data.append(buf, n);
  return data;
}

void write_stdout(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int lower_lines() {
  const std::string input = read_stdin();
  std::string_view rest = input;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    write_stdout(vcd::unicode::to_lower(rest.substr(0, newline)));
    write_stdout("\n");
    rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
  }
  return 0;
}

int run_all() {
  int failed_cases = 0;
  for (const check::Case& test_case : check::registry()) {
    const int before = check::failure_count();
    try {
      test_case.run();
    } catch (const std::exception& e) {
      check::fail(__FILE__, __LINE__, std::string("exception: ") + e.what());
    }
    if (check::failure_count() != before) {
      ++failed_cases;
      std::fprintf(stderr, "  in test case \"%s\"\n", test_case.name);
    }
  }
  std::printf("%zu test cases, %d failed, %d failed checks\n", check::registry().size(),
              failed_cases, check::failure_count());
  return failed_cases == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (argc == 1) return run_all();
  if (argc == 2 && mode == "lower") return lower_lines();
  if (argc == 2 && mode == "lossy") {
    write_stdout(vcd::unicode::to_utf8_lossy(read_stdin()));
    return 0;
  }
  std::fprintf(stderr, "usage: unit_tests [lower | lossy]\n");
  return 2;
}

// A tiny self-registering test harness.
//
//   TEST_CASE("name") { CHECK(expr); CHECK_EQ(actual, expected); }
//
// A failed check prints file:line and the values involved, the case goes on, and the
// process exits non-zero at the end (see main.cpp).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace check {

struct Case {
  const char* name;
  void (*run)();
};

inline std::vector<Case>& registry() {
  static std::vector<Case> cases;
  return cases;
}

inline int& failure_count() {
  static int count = 0;
  return count;
}

struct Registrar {
  Registrar(const char* name, void (*run)()) { registry().push_back({name, run}); }
};

// Printable form of a value: text quoted with escapes for bytes outside printable
// ASCII, code points as U+XXXX.
inline std::string show_text(std::string_view text) {
  std::string out = "\"";
  for (unsigned char b : text) {
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    }
  }
  return out + "\"";
}

template <typename T>
std::string show(const T& value) {
  if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    return show_text(value);
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (requires { value.begin()->size(); }) {
    std::string out = "{";
    for (const auto& item : value) out += "\n    " + show(item);
    return out + "}";
  } else {
    std::ostringstream os;
    os << value;
    return os.str();
  }
}

inline void fail(const char* file, int line, const std::string& message) {
  ++failure_count();
  std::fprintf(stderr, "%s:%d: FAILED %s\n", file, line, message.c_str());
}

template <typename A, typename B>
void check_eq(const A& actual, const B& expected, const char* actual_text,
              const char* expected_text, const char* file, int line) {
  if (actual == expected) return;
  fail(file, line,
       std::string("CHECK_EQ(") + actual_text + ", " + expected_text +
           ")\n  actual:   " + show(actual) + "\n  expected: " + show(expected));
}

}  // namespace check

#define CHECK_JOIN_(a, b) a##b
#define CHECK_JOIN(a, b) CHECK_JOIN_(a, b)
#define TEST_CASE_(fn, name)                                      \
  static void fn();                                               \
  static const ::check::Registrar CHECK_JOIN(fn, _reg){name, fn}; \
  static void fn()
#define TEST_CASE(name) TEST_CASE_(CHECK_JOIN(check_case_, __LINE__), name)

#define CHECK(expr) ((expr) ? void() : ::check::fail(__FILE__, __LINE__, "CHECK(" #expr ")"))
#define CHECK_EQ(actual, expected) \
  ::check::check_eq((actual), (expected), #actual, #expected, __FILE__, __LINE__)

namespace check {

// A file holding `content`, removed again when the object goes.
class TempFile {
 public:
  explicit TempFile(std::string_view content) {
    const int fd = ::mkstemp(path_.data());
    const bool written = fd >= 0 && ::write(fd, content.data(), content.size()) ==
                                        static_cast<ssize_t>(content.size());
    if (fd >= 0) ::close(fd);
    if (!written) fail(__FILE__, __LINE__, "cannot write " + path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_ = "/tmp/quarnel-test-XXXXXX";
};

}  // namespace check

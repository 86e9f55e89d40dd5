#include "src/python/call_context.hpp"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/interrupt.hpp"

namespace quarnel::python {

namespace {

// A body is read on at most this many threads, whatever QUARNEL_THREADS
// says: each thread may hold the logs of two pieces (twice
// ScanSettings::log_bytes), so the cap bounds the memory and the threads one
// call starts. It lies above the cores of the machines this runs on, where
// more threads than cores read no faster.
constexpr unsigned kMaxThreads = 256;

std::optional<std::uint64_t> positive_from_env(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr) return std::nullopt;
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc{} || stop != end || value == 0) return std::nullopt;
  return value;
}

unsigned usable_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    if (const int count = CPU_COUNT(&set); count > 0) return static_cast<unsigned>(count);
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

ScanSettings settings_from_environment() {
  const auto threads = positive_from_env("QUARNEL_THREADS");
  const auto chunk = positive_from_env("QUARNEL_CHUNK_BYTES");
  ScanSettings settings;
  settings.threads =
      static_cast<unsigned>(std::min<std::uint64_t>(threads.value_or(usable_cores()), kMaxThreads));
  settings.chunk_bytes = chunk.value_or(kDefaultChunkBytes);
  return settings;
}

}  // namespace

CallContext call_context(PyObject* module) {
  CallContext context{module_dialect(module), signal_interrupt(), settings_from_environment(), {}};
  if (context.dialect == vcd::Dialect::extended) {
    const char* directory = std::getenv("QUARNEL_INDEX_DIR");
    context.index = IndexUse{directory != nullptr ? directory : "", nullptr};
  }
  return context;
}

void write_note(const std::string& text) { PySys_FormatStderr("quarnel: %s\n", text.c_str()); }

namespace detail {

PyResult<PyRef> take_buses_keyword(PyObject* kwargs, bool& buses) {
  if (kwargs == nullptr) return PyRef{};
  PyObject* given = PyDict_GetItemString(kwargs, "buses");  // borrowed
  if (given == nullptr) return PyRef::borrow(kwargs);
  auto value = as_bool(given);
  if (!value) {
    prefix_argument_error("buses");
    return kRaised;
  }
  buses = *value;
  PyRef rest = PyRef::steal(PyDict_Copy(kwargs));
  if (!rest || PyDict_DelItemString(rest.get(), "buses") < 0) return kRaised;
  return rest;
}

const char* with_buses_signature(const char* doc) {
  // Kept for the process: the method definitions point into it.
  auto* text = new std::string(doc);
  const std::size_t close = text->find(")\n");
  if (close != std::string::npos) {
    const bool has_star =
        text->rfind("*", close) != std::string::npos && text->rfind("*", close) > text->find('(');
    text->insert(close, has_star ? ", buses=False" : ", *, buses=False");
  }
  return text->c_str();
}

}  // namespace detail

}  // namespace quarnel::python

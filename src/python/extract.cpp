// extract(path, signals, start=None, end=None): the changes of chosen signals.
#include "src/lib/extract.hpp"

#include <Python.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/template_dicts.hpp"
#include "src/python/value_text.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};

constexpr ParamTable kParams{
    .function = "extract",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
};
constexpr auto kConverters =
    std::make_tuple(as_path, as_text_list, or_none(as_u64), or_none(as_u64));
constexpr auto kExtendedConverters =
    std::make_tuple(as_path_like, as_text_list, or_none(as_u64), or_none(as_u64));

constexpr char kDoc[] =
    "extract(path, signals, start=None, end=None)\n"
    "--\n"
    "\n"
    "Extract time/value pairs for a list of signals.\n"
    "\n"
    "Args:\n"
    "    path:    Path to the VCD file.\n"
    "    signals: List of fully-qualified signal names.\n"
    "    start:   Optional start time (inclusive).\n"
    "    end:     Optional end time (inclusive).\n"
    "\n"
    "Returns:\n"
    "    List of dicts with keys: signal (str), time (int), value (str).";

// Pauses the interpreter's automatic garbage collection while the records
// are built, and restores the state it found on every way out.
//
// Every 700 new dicts would otherwise start a collection (before 3.12, inside
// the call), the rarer full ones walking the whole growing result list, and
// any collection can run Python code (gc callbacks, finalizers) that takes a
// pending signal and loses the exception its handler raises. With the
// collector paused, nothing but the module's own code runs until the call
// returns, so pending signals wait safely for the read's interrupt checks
// and the builder's periodic one instead of being looked for before every
// record. Uses the gc module: PyGC_Disable is not in the stable ABI of 3.9.
class GcPause {
 public:
  GcPause() = default;
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;
  ~GcPause() { (void)resume(); }

  // False with an exception set when the state cannot be read or changed.
  bool pause() {
    PyRef gc = PyRef::steal(PyImport_ImportModule("gc"));
    if (!gc) return false;
    const PyRef enabled = call(gc.get(), "isenabled");
    if (!enabled) return false;
    const int on = PyObject_IsTrue(enabled.get());
    if (on <= 0) return on == 0;  // already off: leave it so
    if (!call(gc.get(), "disable")) return false;
    gc_ = std::move(gc);
    return true;
  }

  // Turns collection back on if pause() turned it off. An exception that is
  // already set is kept (and wins over a failure here); otherwise false with
  // an exception set when collection cannot be turned back on.
  bool resume() noexcept {
    if (!gc_) return true;
    const PyRef gc = std::move(gc_);
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    const bool enabled = static_cast<bool>(call(gc.get(), "enable"));
    if (type == nullptr) return enabled;
    if (!enabled) PyErr_Clear();
    PyErr_Restore(type, value, traceback);
    return true;
  }

 private:
  static PyRef call(PyObject* gc, const char* name) {
    return PyRef::steal(PyObject_CallMethod(gc, name, nullptr));
  }

  PyRef gc_;  // set while collection is paused by this object
};

// Turns the changes into {"signal", "time", "value"} dicts appended to a
// list. A record is made as a copy of a template dict that already holds its
// name, time and value: copying a dict takes its hash table as it stands (one
// block copied) where building one sets key after key, and the copy keeps
// the template's key order, "signal", "time", "value". Each request position
// has one template per one-bit text ("0", "1", "x", "z") and a few for other
// values; a template's time and value are brought up to date before it is
// copied, so a change to a value a template holds costs the copy and the new
// time only. The records of one time stamp share its int, and those of one
// change their value text. Once a call has made a few thousand records, new
// templates whose copies share one table of keys take over (TemplateDicts).
class RecordBuilder {
 public:
  explicit RecordBuilder(const std::vector<std::string>& names)
      : names_(names), requests_(names.size()) {}

  bool ready() {
    list_ = PyRef::steal(PyList_New(0));
    key_signal_ = PyRef::steal(PyUnicode_InternFromString("signal"));
    key_time_ = PyRef::steal(PyUnicode_InternFromString("time"));
    key_value_ = PyRef::steal(PyUnicode_InternFromString("value"));
    return list_ && key_signal_ && key_time_ && key_value_;
  }

  // False with a Python exception set when an object cannot be built or a
  // signal handler raised. Kept out of line so that the reader's loop, which
  // calls it only for wanted changes, stays as tight as for the other
  // functions.
  [[gnu::noinline]] bool add(const std::vector<std::uint32_t>& requests, std::uint64_t time,
                             const ChangeView& view) {
    if (!time_ || time != last_time_) {
      time_ = to_py_int(time);
      if (!time_) return false;
      last_time_ = time;
    }
    int bit_index = ValueTexts::kNotABit;
    const PyRef value = texts_.text_of(view, bit_index);
    if (!value) return false;
    for (const std::uint32_t request : requests) {
      // The read looks for signals at every buffer; this bounds the wait
      // when one change feeds very many records.
      if (++built_ % kSignalCheckInterval == 0 && PyErr_CheckSignals() != 0) return false;
      if (built_ == kShareKeysAfter && !share_keys()) return false;
      std::unique_ptr<Request>& slot = requests_[request];
      if (!slot) slot = std::make_unique<Request>();
      Template& form = slot->templates[template_index(bit_index, value.get())];
      if (!form.record) {
        if (!start_template(form, request, value.get())) return false;
      } else {
        if (form.time != time_.get()) {
          if (PyDict_SetItem(form.record.get(), key_time_.get(), time_.get()) < 0) return false;
          form.time = time_.get();
        }
        if (form.value != value.get()) {
          if (PyDict_SetItem(form.record.get(), key_value_.get(), value.get()) < 0) return false;
          form.value = value.get();
        }
      }
      const PyRef dict = PyRef::steal(PyDict_Copy(form.record.get()));
      if (!dict || PyList_Append(list_.get(), dict.get()) < 0) return false;
    }
    return true;
  }

  PyObject* release() { return list_.release(); }

 private:
  static constexpr std::uint64_t kSignalCheckInterval = std::uint64_t{1} << 16;
  // Sharing keys costs about as much as a hundred records.
  static constexpr std::uint64_t kShareKeysAfter = std::uint64_t{1} << 12;

  // Templates per request: one for each one-bit text, then a few for other
  // values, chosen by the value object. Recurring texts (those of small
  // integers, recent numbers) are shared objects (ValueTexts), so a signal
  // that moves between a few values finds each in a template of its own.
  static constexpr std::size_t kBitTemplates = ValueTexts::kNotABit;
  static constexpr std::size_t kOtherTemplates = 8;  // a power of two (template_index)

  struct Template {
    PyRef record;
    PyObject* time = nullptr;  // its "time" and "value", kept alive by it
    PyObject* value = nullptr;
  };
  struct Request {
    PyRef name;
    std::array<Template, kBitTemplates + kOtherTemplates> templates;
  };

  static std::size_t template_index(int bit_index, PyObject* value) {
    if (bit_index < ValueTexts::kNotABit) return static_cast<std::size_t>(bit_index);
    const auto address = reinterpret_cast<std::uintptr_t>(value) >> 4;
    return kBitTemplates + static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ULL) >> 61);
  }

  bool start_template(Template& form, std::uint32_t request, PyObject* value) {
    PyRef& name = requests_[request]->name;
    if (!name) name = to_py_str(names_[request]);
    if (!name) return false;
    PyRef record = forms_.make(keys(), std::array{name.get(), time_.get(), value});
    if (!record) return false;
    form.record = std::move(record);
    form.time = time_.get();
    form.value = value;
    return true;
  }

  std::array<PyObject*, 3> keys() const {
    return {key_signal_.get(), key_time_.get(), key_value_.get()};
  }

  // Templates made from now on share their keys; those made so far go.
  bool share_keys() {
    if (!forms_.share_keys(keys())) return false;
    for (std::unique_ptr<Request>& request : requests_) {
      if (request) request->templates = {};
    }
    return true;
  }

  const std::vector<std::string>& names_;
  PyRef list_;
  PyRef key_signal_;
  PyRef key_time_;
  PyRef key_value_;
  TemplateDicts forms_;
  // Made on a request's first record, so that a long request list costs a
  // pointer per name.
  std::vector<std::unique_ptr<Request>> requests_;
  PyRef time_;
  std::uint64_t last_time_ = 0;
  std::uint64_t built_ = 0;
  ValueTexts texts_;
};

Outcome extract(const PathArg& path, const std::vector<std::string>& signals,
                std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                const CallContext& context) {
  RecordBuilder builder(signals);
  if (!builder.ready()) return PyRef{};
  GcPause gc;
  if (!gc.pause()) return PyRef{};
  auto read = extract_changes(
      path.bytes, signals, Window{start, end},
      [&](const std::vector<std::uint32_t>& requests, std::uint64_t time, const ChangeView& view) {
        return builder.add(requests, time, view);
      },
      context);
  if (!read) return std::unexpected(std::move(read.error()));
  if (!*read) return PyRef{};  // a Python object could not be built
  PyRef list = PyRef::steal(builder.release());
  if (!gc.resume()) return PyRef{};
  return list;
}

}  // namespace

PyMethodDef extract_method = define_function<kParams, kConverters, extract>(kDoc);
PyMethodDef extract_extended_method =
    define_bus_function<kParams, kExtendedConverters, extract>(kDoc);

}  // namespace quarnel::python

// compare(file1, file2, *, ...): where two dumps disagree.
#include "src/lib/compare.hpp"

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/value_text.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"file1", "file2"};
constexpr KeywordOnlyParam kKeywordOnly[] = {
    {"max_mismatches", false}, {"signals", false}, {"ignore_unknown", false},
    {"start", false},          {"end", false},
};
// quarnel.extended's compare also asks how timescales meet, and may read
// both files in the IEEE 1364 dialect alone.
constexpr KeywordOnlyParam kExtendedKeywordOnly[] = {
    {"max_mismatches", false}, {"signals", false},       {"ignore_unknown", false},
    {"start", false},          {"end", false},           {"timescales", false},
    {"strict", false},         {"held_at_start", false},
};

constexpr ParamTable kParams{
    .function = "compare",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = kKeywordOnly,
};
constexpr ParamTable kExtendedParams = [] {
  ParamTable table = kParams;
  table.keyword_only = kExtendedKeywordOnly;
  return table;
}();

// "ticks", "same" or "finer".
PyResult<TimeUnits> as_time_units(PyObject* value) {
  auto text = as_text(value);
  if (!text) return kRaised;
  if (*text == "ticks") return TimeUnits::ticks;
  if (*text == "same") return TimeUnits::same;
  if (*text == "finer") return TimeUnits::finer;
  PyErr_Format(PyExc_ValueError, "timescales must be 'ticks', 'same' or 'finer', not %R", value);
  return kRaised;
}

constexpr auto kConverters =
    std::make_tuple(as_path, as_path, or_none(as_size), or_none(as_text_list),
                    with_default(as_bool, false), or_none(as_u64), or_none(as_u64));
constexpr auto kExtendedConverters =
    std::make_tuple(as_path_like, as_path_like, or_none(as_size), or_none(as_text_list),
                    with_default(as_bool, false), or_none(as_u64), or_none(as_u64),
                    with_default(as_time_units, TimeUnits::ticks), with_default(as_bool, false),
                    with_default(as_bool, false));

// The two docstrings share all but compare's timescales option.
#define QUARNEL_COMPARE_SUMMARY                                                     \
  "--\n"                                                                            \
  "\n"                                                                              \
  "Compare two VCD files and report signal mismatches.\n"                           \
  "\n"                                                                              \
  "Args:\n"                                                                         \
  "    file1:           Path to the first VCD file.\n"                              \
  "    file2:           Path to the second VCD file.\n"                             \
  "    max_mismatches:  Optional per-signal mismatch limit.\n"                      \
  "    signals:         Optional list of signal names to restrict comparison to.\n" \
  "    ignore_unknown:  If True, treat x/z differences as matches.\n"               \
  "    start:           Optional start time (inclusive).\n"                         \
  "    end:             Optional end time (inclusive).\n"
#define QUARNEL_COMPARE_RETURNS                                         \
  "\n"                                                                  \
  "Returns:\n"                                                          \
  "    Dict with keys:\n"                                               \
  "        passed (bool), file1 (str), file2 (str),\n"                  \
  "        common_signals (list[str]),\n"                               \
  "        signals_only_in_file1 (list[str]),\n"                        \
  "        signals_only_in_file2 (list[str]),\n"                        \
  "        total_mismatches (int), signals_with_mismatches (int),\n"    \
  "        mismatches (list[dict]) each with:\n"                        \
  "            signal (str), time (int), value1 (str), value2 (str),\n" \
  "            is_unknown (bool)"

constexpr char kDoc[] =
    "compare(file1, file2, *, max_mismatches=None, signals=None, ignore_unknown=False, "
    "start=None, end=None)\n" QUARNEL_COMPARE_SUMMARY QUARNEL_COMPARE_RETURNS;

constexpr char kExtendedDoc[] =
    "compare(file1, file2, *, max_mismatches=None, signals=None, ignore_unknown=False, "
    "start=None, end=None, timescales='ticks', strict=False, "
    "held_at_start=False)\n" QUARNEL_COMPARE_SUMMARY
    "    timescales:      'ticks' compares times as written, whatever the timescales;\n"
    "                     'same' refuses files whose timescales differ; 'finer'\n"
    "                     converts both to the finer timescale, in which start, end\n"
    "                     and the mismatch times are then given.\n"
    "    strict:          If True, read both files as quarnel.compare does (IEEE 1364\n"
    "                     only, not compressed).\n"
    "    held_at_start:   If True, the values each signal holds at start (its last\n"
    "                     change at or before it) are compared first, at start;\n"
    "                     otherwise nothing before start is carried into the "
    "window.\n" QUARNEL_COMPARE_RETURNS;

#undef QUARNEL_COMPARE_SUMMARY
#undef QUARNEL_COMPARE_RETURNS

// {"signal", "time", "value1", "value2", "is_unknown"}
PyRef mismatch_dict(const SignalMismatch& mismatch, ValueTexts& texts) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || !set_item(dict.get(), "signal", to_py_str(mismatch.signal)) ||
      !set_item(dict.get(), "time", to_py_int(mismatch.time)) ||
      !set_item(dict.get(), "value1", texts.text_of(mismatch.value1)) ||
      !set_item(dict.get(), "value2", texts.text_of(mismatch.value2)) ||
      !set_item(dict.get(), "is_unknown", to_py_bool(mismatch.is_unknown))) {
    return {};
  }
  return dict;
}

PyRef mismatch_list(const std::vector<SignalMismatch>& mismatches) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(mismatches.size())));
  if (!list) return {};
  ValueTexts texts;
  for (std::size_t i = 0; i < mismatches.size(); ++i) {
    PyRef item = mismatch_dict(mismatches[i], texts);
    // PyList_SetItem takes over the reference, also when it fails.
    if (!item || PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()) < 0) {
      return {};
    }
  }
  return list;
}

// The paths are shown as the caller gave them, not as the bytes that name
// the files.
PyRef comparison_dict(const ComparisonResult& result, const PathArg& file1, const PathArg& file2) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || !set_item(dict.get(), "passed", to_py_bool(result.passed)) ||
      !set_item(dict.get(), "file1", PyRef::borrow(file1.text.get())) ||
      !set_item(dict.get(), "file2", PyRef::borrow(file2.text.get())) ||
      !set_item(dict.get(), "common_signals", to_py_str_list(result.common_signals)) ||
      !set_item(dict.get(), "signals_only_in_file1",
                to_py_str_list(result.signals_only_in_file1)) ||
      !set_item(dict.get(), "signals_only_in_file2",
                to_py_str_list(result.signals_only_in_file2)) ||
      !set_item(dict.get(), "total_mismatches", to_py_int(result.total_mismatches)) ||
      !set_item(dict.get(), "signals_with_mismatches", to_py_int(result.signals_with_mismatches)) ||
      !set_item(dict.get(), "mismatches", mismatch_list(result.mismatches))) {
    return {};
  }
  return dict;
}

Outcome compare_in(const PathArg& file1, const PathArg& file2,
                   std::optional<std::size_t> max_mismatches,
                   std::optional<std::vector<std::string>> signals, bool ignore_unknown,
                   std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                   TimeUnits units, bool held_at_start, const CallContext& context) {
  const ComparisonOptions options{
      max_mismatches, std::move(signals).value_or(std::vector<std::string>{}),
      ignore_unknown, Window{start, end},
      units,          held_at_start};
  return build_result(
      compare_vcd_files(file1.bytes, file2.bytes, options, context),
      [&](const ComparisonResult& result) { return comparison_dict(result, file1, file2); });
}

Outcome compare(const PathArg& file1, const PathArg& file2,
                std::optional<std::size_t> max_mismatches,
                std::optional<std::vector<std::string>> signals, bool ignore_unknown,
                std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                const CallContext& context) {
  return compare_in(file1, file2, max_mismatches, std::move(signals), ignore_unknown, start, end,
                    TimeUnits::ticks, false, context);
}

Outcome extended_compare(const PathArg& file1, const PathArg& file2,
                         std::optional<std::size_t> max_mismatches,
                         std::optional<std::vector<std::string>> signals, bool ignore_unknown,
                         std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                         TimeUnits units, bool strict, bool held_at_start, CallContext context) {
  if (strict) {
    context.dialect = vcd::Dialect::specified;
    context.index.reset();
  }
  return compare_in(file1, file2, max_mismatches, std::move(signals), ignore_unknown, start, end,
                    units, held_at_start, context);
}

}  // namespace

PyMethodDef compare_method = define_function<kParams, kConverters, compare>(kDoc);
PyMethodDef compare_extended_method =
    define_bus_function<kExtendedParams, kExtendedConverters, extended_compare>(kExtendedDoc);

}  // namespace quarnel::python

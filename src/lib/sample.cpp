#include "src/lib/sample.hpp"

#include <optional>
#include <utility>

#include "src/lib/requested_changes.hpp"

namespace quarnel {

namespace {

// The clock's level after a change: 0, 1, or none for any other state.
std::optional<bool> level_of(const ChangeView& view) {
  if (view.kind == ChangeView::Kind::Scalar) {
    if (!vcd::is_binary(view.scalar)) return std::nullopt;
    return view.scalar == vcd::Value::One;
  }
  if (view.kind != ChangeView::Kind::Vector) return std::nullopt;
  const std::string_view bits = vcd::shorten_bits(view.text);
  if (bits != "0" && bits != "1") return std::nullopt;
  return bits == "1";
}

// Request position 0 is the clock, 1.. the sampled signals. A visitor of the
// body walker that keeps, per position, the value held before the current
// time stamp and the current one, and makes a row when a time stamp in which
// the clock changed ends with an edge.
class Sampler {
 public:
  Sampler(const TargetMap& targets, std::size_t requests, const SampleOptions& options,
          const SampleSink& sink)
      : targets_(targets),
        options_(options),
        sink_(sink),
        before_(requests),
        now_(requests),
        changed_(requests, false),
        row_(requests - 1) {}

  const CodeIndex& codes() const { return targets_.codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return targets_.find(code);
  }
  void timestamp(std::uint64_t time) {
    if (time != time_) stopped_ = stopped_ || !end_stamp(time);
  }
  bool change(std::uint64_t time, const vcd::cmd::Change& command,
              const std::vector<std::uint32_t>* requests) {
    if (stopped_ || (time != time_ && !end_stamp(time))) return false;
    for (const std::uint32_t request : *requests) {
      if (!changed_[request]) {
        changed_[request] = true;
        touched_.push_back(request);
        std::swap(before_[request], now_[request]);
      }
      now_[request].hold(command.value);
    }
    return true;
  }
  // Ends the current time stamp, making its row if it has an edge; false
  // when the sink stopped.
  bool end_stamp(std::uint64_t next_time) {
    bool go_on = !stopped_;
    if (go_on && changed_[0]) go_on = edge_row();
    // The next stamp's first change of each swaps the two again.
    for (const std::uint32_t request : touched_) changed_[request] = false;
    touched_.clear();
    time_ = next_time;
    return go_on;
  }

 private:
  bool edge_row() {
    const std::optional<bool> was = before_[0].set ? level_of(before_[0].view()) : std::nullopt;
    const std::optional<bool> is = now_[0].set ? level_of(now_[0].view()) : std::nullopt;
    if (!was || !is || *was == *is) return true;
    const bool rising = *is;
    if ((rising && options_.edge == ClockEdge::Falling) ||
        (!rising && options_.edge == ClockEdge::Rising))
      return true;
    const std::uint64_t cycle = cycles_++;
    const Window& window = options_.window;
    if (window.start && time_ < *window.start) return true;
    for (std::size_t i = 1; i < now_.size(); ++i)
      row_[i - 1] = options_.after || !changed_[i] ? &now_[i] : &before_[i];
    return sink_(cycle, time_, row_);
  }

  const TargetMap& targets_;
  const SampleOptions& options_;
  const SampleSink& sink_;
  std::vector<HeldChange> before_;  // held up to the current time stamp
  std::vector<HeldChange> now_;     // after the last change so far
  std::vector<bool> changed_;       // in the current time stamp
  std::vector<std::uint32_t> touched_;
  std::vector<const HeldChange*> row_;
  std::uint64_t time_ = 0;
  std::uint64_t cycles_ = 0;
  bool stopped_ = false;
};

}  // namespace

Result<bool> sample_at_edges(const std::string& path, const std::string& clock,
                             const std::vector<std::string>& signals, const SampleOptions& options,
                             const SampleSink& sink, const CallContext& context) {
  std::vector<std::string> names{clock};
  names.insert(names.end(), signals.begin(), signals.end());
  auto request = request_signals(path, names, VcdError::Kind::SignalsNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));
  Sampler sampler(request->targets, names.size(), options, sink);
  // Edges before the window still count cycles, and values held from
  // before it still count: the body is read from its start.
  CallContext from_start = context;
  from_start.index.reset();
  auto walked =
      walk_body(request->dump, Window{std::nullopt, options.window.end}, sampler, from_start);
  if (!walked) return std::unexpected(std::move(walked.error()));
  if (!walked->finished) return false;
  return sampler.end_stamp(0);
}

namespace {

// Appends the text that extraction gives for `view`.
void append_text(const ChangeView& view, std::string& out) {
  switch (view.kind) {
    case ChangeView::Kind::Scalar: out += vcd::to_char(view.scalar); return;
    case ChangeView::Kind::Vector: {
      u128 number = 0;
      if (!binary_vector_value(view.text, number)) break;
      char digits[kMaxDecimalDigits];
      out.append(digits, write_decimal(number, digits));
      return;
    }
    case ChangeView::Kind::Real: out += real_display_text(view.real); return;
    case ChangeView::Kind::String: break;
  }
  out += view.text;
}

void mark(Validity& validity, std::size_t row, bool valid) {
  if (row % 8 == 0) validity.bits.push_back(0);
  if (valid)
    validity.bits.back() |= static_cast<std::uint8_t>(1U << (row % 8));
  else
    ++validity.nulls;
}

}  // namespace

Result<bool> sample_batches(const std::string& path, const std::string& clock,
                            const std::vector<std::string>& signals, const SampleOptions& options,
                            const std::function<bool(SampleBatch&&)>& deliver,
                            const CallContext& context) {
  const BatchLimits limits;
  SampleBatch batch;
  batch.columns.resize(signals.size());
  bool too_long = false;
  const auto hand_on = [&] {
    SampleBatch full;
    full.columns.resize(signals.size());
    std::swap(full, batch);
    return deliver(std::move(full));
  };
  const SampleSink sink = [&](std::uint64_t cycle, std::uint64_t time,
                              const std::vector<const HeldChange*>& values) {
    const std::size_t row = batch.rows();
    batch.cycle.push_back(cycle);
    batch.time.push_back(time);
    bool full = row + 1 == limits.rows;
    for (std::size_t i = 0; i < values.size(); ++i) {
      SampleBatch::Column& column = batch.columns[i];
      if (values[i]->set) append_text(values[i]->view(), column.data);
      mark(column.validity, row, values[i]->set);
      if (column.data.size() > limits.value_bytes) too_long = true;
      column.offsets.push_back(static_cast<std::int32_t>(column.data.size()));
      full = full || column.data.size() >= limits.value_bytes / 2;
    }
    return !too_long && (!full || hand_on());
  };
  auto read = sample_at_edges(path, clock, signals, options, sink, context);
  if (!read) return read;
  if (too_long) return std::unexpected(value_too_long_error());
  if (*read && batch.rows() > 0) return hand_on();
  return read;
}

std::unique_ptr<SampleBatchStream> read_sample_batches(std::string path, std::string clock,
                                                       std::vector<std::string> signals,
                                                       SampleOptions options,
                                                       const CallContext& context) {
  std::vector<std::string> names = signals;
  auto read = [path = std::move(path), clock = std::move(clock), signals = std::move(signals),
               options](const SampleBatchStream::Deliver& deliver, const CallContext& reading) {
    return sample_batches(path, clock, signals, options, deliver, reading);
  };
  return std::make_unique<SampleBatchStream>(std::move(names), std::move(read), context);
}

}  // namespace quarnel

#include "src/lib/value_at.hpp"

#include <utility>

#include "src/lib/body_index.hpp"
#include "src/lib/held_change.hpp"
#include "src/lib/requested_changes.hpp"

namespace quarnel {

namespace {

// The last change of each requested code within a stretch of the body, kept
// under the first request position the code feeds; a visitor of the body
// walker that sums up the pieces of a body itself.
class LastChanges {
 public:
  LastChanges(const TargetMap& targets, std::size_t requests)
      : targets_(&targets), held_(requests) {}

  const CodeIndex& codes() const { return targets_->codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return targets_->find(code);
  }
  bool change(std::uint64_t /*time*/, const vcd::cmd::Change& command,
              const std::vector<std::uint32_t>* requests) {
    held_[requests->front()].hold(command.value);
    return true;
  }

  LastChanges piece() const { return {*targets_, held_.size()}; }
  // The next stretch: what it changed replaces what came before.
  bool join(LastChanges next) {
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (next.held_[i].set) held_[i] = std::move(next.held_[i]);
    }
    return true;
  }

  const HeldChange& held(std::uint32_t request) const { return held_[request]; }
  void seed(std::uint32_t request, const HeldChange& value) { held_[request] = value; }

 private:
  const TargetMap* targets_;
  std::vector<HeldChange> held_;
};

}  // namespace

Result<std::vector<std::optional<ChangeValue>>> values_at(const std::string& path,
                                                          const std::vector<std::string>& signals,
                                                          std::uint64_t time,
                                                          const CallContext& context) {
  auto request = request_signals(path, signals, VcdError::Kind::SignalsNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));
  const Dump& dump = request->dump;
  LastChanges last(request->targets, signals.size());
  // With an index, from the last snapshot at or before the time.
  std::optional<Resume> from;
  if (const auto start = snapshot_start(dump, time, context)) {
    for (const std::string& name : signals) {
      const vcd::IdCode code = dump.find(name)->id_code;
      if (const HeldChange* value = start->find(code))
        last.seed(request->targets.find(code)->front(), *value);
    }
    from = start->from;
  }
  auto read = walk_body(dump, Window{std::nullopt, time}, last, context, from);
  if (!read) return std::unexpected(std::move(read.error()));

  std::vector<std::optional<ChangeValue>> values(signals.size());
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const Signal* signal = dump.find(signals[i]);
    const HeldChange& held = last.held(request->targets.find(signal->id_code)->front());
    if (held.set) values[i] = change_value(held.view());
  }
  return values;
}

}  // namespace quarnel

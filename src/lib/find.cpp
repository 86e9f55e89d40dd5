#include "src/lib/find.hpp"

#include <array>
#include <limits>
#include <utility>
#include <vector>

#include "src/lib/requested_changes.hpp"

namespace quarnel {

namespace {

// Counts the changes of the requested name that match the target, up to the
// wanted one; a visitor of the body walker that sums up the pieces of a body
// itself: a piece counts its matches, and the piece that holds the wanted one
// is read again by the search itself.
class MatchCounter {
 public:
  MatchCounter(const TargetMap& targets, const TargetMatcher& matcher,
               const std::vector<std::string>& names, std::size_t occurrence)
      : targets_(&targets), matcher_(&matcher), names_(&names), occurrence_(occurrence) {
    for (std::size_t v = 0; v < scalar_matches_.size(); ++v) {
      scalar_matches_[v] =
          matcher.matches(change_value(vcd::ChangeView::of_scalar(static_cast<vcd::Value>(v))));
    }
  }

  const CodeIndex& codes() const { return targets_->codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return targets_->find(code);
  }
  bool change(std::uint64_t time, const vcd::cmd::Change& command,
              const std::vector<std::uint32_t>* requests) {
    // Most changes are scalars, and most do not match: those are told
    // without converting them.
    const vcd::ChangeView& view = command.value;
    if (view.kind == vcd::ChangeView::Kind::Scalar &&
        !scalar_matches_[static_cast<std::size_t>(view.scalar)]) {
      return true;
    }
    ChangeValue value = change_value(view);
    for (const std::uint32_t request : *requests) {
      if (!matcher_->matches(value) || ++matches_ < occurrence_) continue;
      found_ = TimeValue{(*names_)[request], request, time, std::move(value)};
      return false;
    }
    return true;
  }

  MatchCounter piece() const {
    return {*targets_, *matcher_, *names_, std::numeric_limits<std::size_t>::max()};
  }
  bool join(const MatchCounter& next) {
    if (matches_ + next.matches_ >= occurrence_) return false;
    matches_ += next.matches_;
    return true;
  }

  std::optional<TimeValue>& found() { return found_; }

 private:
  const TargetMap* targets_;
  const TargetMatcher* matcher_;
  const std::vector<std::string>* names_;
  std::size_t occurrence_;
  std::size_t matches_ = 0;
  std::optional<TimeValue> found_;
  std::array<bool, vcd::kValueCount> scalar_matches_{};  // per state, whether it matches
};

}  // namespace

Result<std::optional<TimeValue>> find_nth_occurrence(const std::string& path,
                                                     const std::string& signal,
                                                     const TargetValue& target,
                                                     std::size_t occurrence, const Window& window,
                                                     const CallContext& context) {
  if (occurrence == 0) {
    return std::unexpected(VcdError{VcdError::Kind::InvalidOccurrence, {}, VcdError::Input::none});
  }
  const std::vector<std::string> names{signal};
  auto request = request_signals(path, names, VcdError::Kind::SignalNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));

  const TargetMatcher matcher(target);
  MatchCounter counter(request->targets, matcher, names, occurrence);
  auto read = walk_body(request->dump, window, counter, context);
  if (!read) return std::unexpected(std::move(read.error()));
  std::optional<TimeValue> found = std::move(counter.found());
  // The record views the local request list; point it at the caller's name.
  if (found) found->signal = signal;
  return found;
}

}  // namespace quarnel

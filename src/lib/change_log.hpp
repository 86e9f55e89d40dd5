// The wanted changes of one piece of a body, read on a worker thread and
// kept until the calling thread hands them to the visitor in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vcd/command.hpp"

namespace quarnel {

// `Wanted` is what the visitor's wanted() gave for a change's code.
template <class Wanted>
class ChangeLog {
 public:
  // A timestamp was read: the next change is the first one after it. Of the
  // timestamps between two changes only the last is handed on, and one of
  // another time before it, so that a visitor that ends a time stamp when
  // the time changes sees #5 between two changes at #10 (a body whose time
  // goes back) as a read on one thread does.
  void timestamp(std::uint64_t time) {
    if (stamped_ && time != stamp_) crossed_ = stamp_;
    stamp_ = time;
    stamped_ = true;
  }

  explicit ChangeLog(std::uint64_t budget = 0) : budget_(budget) {}

  // Logs a change; false once the log holds more than its budget of bytes.
  bool change(std::uint64_t time, const vcd::cmd::Change& command, const Wanted& wanted) {
    const vcd::ChangeView& value = command.value;
    if (crossed_ && (entries_.empty() || entries_.back().time == time))
      crossings_.emplace_back(entries_.size(), *crossed_);
    crossed_.reset();
    // The text views the reader's window or scratch space: copied.
    entries_.push_back(Entry{.time = time,
                             .wanted = wanted,
                             .code = command.id_code,
                             .real = value.real,
                             .text_begin = texts_.size(),
                             .text_size = value.text.size(),
                             .scalar = value.scalar,
                             .kind = value.kind,
                             .stamped = stamped_});
    texts_.append(value.text);
    stamped_ = false;
    return (entries_.size() * sizeof(Entry)) + texts_.size() <= budget_;
  }

  // Hands every change to visitor.change(time, command, wanted), and to
  // visitor.timestamp(time) before the first change after a timestamp when
  // the visitor has one (and after the last change, for timestamps that
  // follow it). False when the visitor stopped the walk.
  template <class Visitor>
  bool replay(Visitor& visitor) const {
    constexpr bool kStamps = requires { visitor.timestamp(std::uint64_t{}); };
    auto crossing = crossings_.begin();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if constexpr (kStamps) {
        if (crossing != crossings_.end() && crossing->first == i)
          visitor.timestamp((crossing++)->second);
        if (e.stamped) visitor.timestamp(e.time);
      }
      const std::string_view text(texts_.data() + e.text_begin, e.text_size);
      const bool going = visitor.change(
          e.time, vcd::cmd::Change{e.code, vcd::ChangeView{e.kind, e.scalar, text, e.real}},
          e.wanted);
      if (!going) return false;
    }
    if constexpr (kStamps) {
      if (crossed_) visitor.timestamp(*crossed_);
      if (stamped_) visitor.timestamp(stamp_);
    }
    return true;
  }

 private:
  using Kind = vcd::ChangeView::Kind;
  // A change encoded as its code and the fields of its vcd::ChangeView, the
  // text kept in texts_.
  struct Entry {
    std::uint64_t time = 0;
    Wanted wanted{};
    vcd::IdCode code{};
    double real = 0;
    std::size_t text_begin = 0;
    std::size_t text_size = 0;
    vcd::Value scalar{};
    Kind kind = Kind::Scalar;
    bool stamped = false;  // the first change after a timestamp
  };

  std::vector<Entry> entries_;
  std::string texts_;
  // (entry, time): a timestamp of another time came between the change
  // before the entry and the entry, both at one time. Rare: only where time
  // goes back (or at a piece's first entry).
  std::vector<std::pair<std::size_t, std::uint64_t>> crossings_;
  std::uint64_t budget_;
  bool stamped_ = false;
  std::uint64_t stamp_ = 0;               // the last timestamp read
  std::optional<std::uint64_t> crossed_;  // one of another time before it
};

}  // namespace quarnel

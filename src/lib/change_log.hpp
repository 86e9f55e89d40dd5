// The wanted changes of one piece of a body, read on a worker thread and
// kept until the calling thread hands them to the visitor in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vcd/command.hpp"

namespace quarnel {

// `Wanted` is what the visitor's wanted() gave for a change's code.
template <class Wanted>
class ChangeLog {
 public:
  // A timestamp was read: the next change is the first one after it.
  void timestamp(std::uint64_t /*time*/) { stamped_ = true; }

  explicit ChangeLog(std::uint64_t budget = 0) : budget_(budget) {}

  // Logs a change; false once the log holds more than its budget of bytes.
  bool change(std::uint64_t time, const vcd::cmd::Change& command, const Wanted& wanted) {
    const vcd::ChangeView& value = command.value;
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
  // the visitor has one. False when the visitor stopped the walk.
  template <class Visitor>
  bool replay(Visitor& visitor) const {
    for (const Entry& e : entries_) {
      if constexpr (requires { visitor.timestamp(e.time); }) {
        if (e.stamped) visitor.timestamp(e.time);
      }
      const std::string_view text(texts_.data() + e.text_begin, e.text_size);
      const bool going = visitor.change(
          e.time, vcd::cmd::Change{e.code, vcd::ChangeView{e.kind, e.scalar, text, e.real}},
          e.wanted);
      if (!going) return false;
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
  std::uint64_t budget_;
  bool stamped_ = false;
};

}  // namespace quarnel

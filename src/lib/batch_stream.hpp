// The record batches of a table, read on a thread of their own while a
// consumer takes them: the read runs at most a few batches ahead, so a
// table of any length is streamed in bounded memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

template <class Batch>
class BatchStream {
 public:
  // The end of the table.
  struct End {};
  // What next() gives: a batch, the end, or the error that ended the read
  // (Interrupted when the consumer's own hook asked to stop waiting).
  using Item = std::variant<std::shared_ptr<const Batch>, End, VcdError>;
  using Deliver = std::function<bool(Batch&&)>;
  // A read: it hands its batches to the deliverer (which returns false to
  // stop) and reads in the context given, whose interrupt is the stream's;
  // it returns whether it ran to its end, or its error.
  using Read = std::function<Result<bool>(const Deliver&, const CallContext&)>;

  // Starts `read` at once, in `context` (whose own interrupt is not asked:
  // the read stops when the stream is destroyed). `names` are what the
  // table's columns stand for, as its reader says.
  BatchStream(std::vector<std::string> names, Read read, CallContext context)
      : names_(std::move(names)) {
    context.interrupt = &stop_hook_;
    reader_ = std::thread([this, read = std::move(read), context] {
      auto outcome = read([this](Batch&& batch) { return deliver(std::move(batch)); }, context);
      std::variant<std::monostate, End, VcdError> ended = End{};
      if (!outcome) {
        ended = std::move(outcome.error());
      } else if (!*outcome) {
        ended = VcdError{VcdError::Kind::Interrupted, {}};
      }
      {
        const std::lock_guard lock(mutex_);
        // An interrupted consumer has said how the stream ended already.
        if (std::holds_alternative<std::monostate>(ended_)) ended_ = std::move(ended);
      }
      changed_.notify_all();
    });
  }
  ~BatchStream() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    reader_.join();
  }
  BatchStream(const BatchStream&) = delete;
  BatchStream& operator=(const BatchStream&) = delete;

  const std::vector<std::string>& names() const { return names_; }

  // Waits for the next item, asking `interrupt` (which may be null) every
  // kInterruptPoll while it waits. After the end or an error, gives that
  // again; after an interruption, the read has stopped for good.
  Item next(const vcd::Interrupt* interrupt) {
    std::unique_lock lock(mutex_);
    if (wait(lock, interrupt) && !ready_.empty()) {
      Item item = std::move(ready_.front());
      ready_.pop_front();
      changed_.notify_all();
      return item;
    }
    if (const auto* error = std::get_if<VcdError>(&ended_)) return *error;
    return End{};
  }

  // Waits as next() does, without taking the item; gives the error when the
  // read ended in one before it handed out a batch.
  std::optional<VcdError> first_error(const vcd::Interrupt* interrupt) {
    std::unique_lock lock(mutex_);
    wait(lock, interrupt);
    if (const auto* error = std::get_if<VcdError>(&ended_); error && ready_.empty()) return *error;
    return std::nullopt;
  }

 private:
  // How many full batches the read may run ahead of the consumer.
  static constexpr std::size_t kBatchesAhead = 2;

  // Waits, with `lock` held, until a batch is ready or the read has ended;
  // false when `interrupt` asked to stop first, which ends the read.
  bool wait(std::unique_lock<std::mutex>& lock, const vcd::Interrupt* interrupt) {
    // The interrupt is asked every kInterruptPoll, also when the batches
    // come faster than that.
    const auto interrupted = [&] {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_asked_ < kInterruptPoll) return false;
      last_asked_ = now;
      lock.unlock();
      const bool asked = vcd::interrupt_requested(interrupt);
      lock.lock();
      return asked;
    };
    while (!interrupted()) {
      if (!ready_.empty() || !std::holds_alternative<std::monostate>(ended_)) return true;
      changed_.wait_for(lock, kInterruptPoll);
    }
    stopping_ = true;
    ended_ = VcdError{VcdError::Kind::Interrupted, {}};
    changed_.notify_all();
    return false;
  }

  bool deliver(Batch&& batch) {
    auto shared = std::make_shared<const Batch>(std::move(batch));
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || ready_.size() < kBatchesAhead; });
    if (stopping_) return false;
    ready_.push_back(std::move(shared));
    lock.unlock();
    changed_.notify_all();
    return true;
  }

  static bool stop_requested(void* self) {
    auto* stream = static_cast<BatchStream*>(self);
    const std::lock_guard lock(stream->mutex_);
    return stream->stopping_;
  }

  std::vector<std::string> names_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<const Batch>> ready_;
  // How the read ended, once it has.
  std::variant<std::monostate, End, VcdError> ended_;
  bool stopping_ = false;
  // When the consumer's interrupt was last asked.
  std::chrono::steady_clock::time_point last_asked_;
  vcd::Interrupt stop_hook_{&stop_requested, this};
  std::thread reader_;
};

// A read that a table started and no consumer holds: a consumer takes it,
// and gives it back if it took nothing from it (a consumer that asks for a
// stream only to learn its schema), so that the next consumer costs no
// second read, and a pipe, which can be read once, is still there for it.
template <class Batch>
class PendingRead {
 public:
  explicit PendingRead(std::unique_ptr<BatchStream<Batch>> stream) : stream_(std::move(stream)) {}

  // The read, unless a consumer holds it; null then.
  std::unique_ptr<BatchStream<Batch>> take() {
    const std::lock_guard lock(mutex_);
    return std::move(stream_);
  }
  void give_back(std::unique_ptr<BatchStream<Batch>> stream) {
    const std::lock_guard lock(mutex_);
    if (!stream_) stream_ = std::move(stream);
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<BatchStream<Batch>> stream_;
};

// A consumer's read, given back to the PendingRead it came from (if any)
// when it goes unused.
template <class Batch>
class TakenRead {
 public:
  TakenRead(std::unique_ptr<BatchStream<Batch>> stream, std::shared_ptr<PendingRead<Batch>> from)
      : stream_(std::move(stream)), from_(std::move(from)) {}
  TakenRead(TakenRead&&) = default;
  TakenRead& operator=(TakenRead&&) = delete;
  TakenRead(const TakenRead&) = delete;
  TakenRead& operator=(const TakenRead&) = delete;
  ~TakenRead() {
    if (!used_ && stream_ && from_) from_->give_back(std::move(stream_));
  }

  const std::vector<std::string>& names() const { return stream_->names(); }
  typename BatchStream<Batch>::Item next(const vcd::Interrupt* interrupt) {
    used_ = true;
    return stream_->next(interrupt);
  }

 private:
  std::unique_ptr<BatchStream<Batch>> stream_;
  std::shared_ptr<PendingRead<Batch>> from_;
  bool used_ = false;
};

}  // namespace quarnel

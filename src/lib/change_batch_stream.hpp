// The batches of a table of changes, read on a thread of their own while a
// consumer takes them: the read runs at most a few batches ahead, so a
// table of any length is streamed in bounded memory.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_table.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

class ChangeBatchStream {
 public:
  // The end of the table.
  struct End {};
  // What next() gives: a batch, the end, or the error that ended the read
  // (Interrupted when the consumer's own hook asked to stop waiting).
  using Item = std::variant<std::shared_ptr<const ChangeBatch>, End, VcdError>;

  // Starts the read of the records of extract_changes(path, signals,
  // window) at once. The read asks no hook of the caller's: it stops when
  // the stream is destroyed.
  ChangeBatchStream(std::string path, std::vector<std::string> signals, Window window,
                    CallContext context, BatchLimits limits = {});
  ~ChangeBatchStream();
  ChangeBatchStream(const ChangeBatchStream&) = delete;
  ChangeBatchStream& operator=(const ChangeBatchStream&) = delete;

  // The names the signal column stands for, each once, in the order asked.
  const std::vector<std::string>& names() const { return names_; }

  // Waits for the next item, asking `interrupt` (which may be null) every
  // kInterruptPoll while it waits. After the end or an error, gives that
  // again; after an interruption, the read has stopped for good.
  Item next(const vcd::Interrupt* interrupt);
  // Waits as next() does, without taking the item; gives the error when the
  // read ended in one before it handed out a batch.
  std::optional<VcdError> first_error(const vcd::Interrupt* interrupt);

 private:
  // Waits, with `lock` held, until a batch is ready or the read has ended;
  // false when `interrupt` asked to stop first, which ends the read.
  bool wait(std::unique_lock<std::mutex>& lock, const vcd::Interrupt* interrupt);
  void read(const std::string& path, const std::vector<std::string>& signals, Window window,
            CallContext context, BatchLimits limits);
  bool deliver(ChangeBatch&& batch);
  static bool stop_requested(void* self);

  std::vector<std::string> names_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<const ChangeBatch>> ready_;
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
class PendingRead {
 public:
  explicit PendingRead(std::unique_ptr<ChangeBatchStream> stream) : stream_(std::move(stream)) {}

  // The read, unless a consumer holds it; null then.
  std::unique_ptr<ChangeBatchStream> take();
  void give_back(std::unique_ptr<ChangeBatchStream> stream);

 private:
  std::mutex mutex_;
  std::unique_ptr<ChangeBatchStream> stream_;
};

// A consumer's read, given back to the PendingRead it came from (if any)
// when it goes unused.
class TakenRead {
 public:
  TakenRead(std::unique_ptr<ChangeBatchStream> stream, std::shared_ptr<PendingRead> from)
      : stream_(std::move(stream)), from_(std::move(from)) {}
  TakenRead(TakenRead&&) = default;
  TakenRead& operator=(TakenRead&&) = delete;
  TakenRead(const TakenRead&) = delete;
  TakenRead& operator=(const TakenRead&) = delete;
  ~TakenRead() {
    if (!used_ && stream_ && from_) from_->give_back(std::move(stream_));
  }

  const std::vector<std::string>& names() const { return stream_->names(); }
  ChangeBatchStream::Item next(const vcd::Interrupt* interrupt) {
    used_ = true;
    return stream_->next(interrupt);
  }

 private:
  std::unique_ptr<ChangeBatchStream> stream_;
  std::shared_ptr<PendingRead> from_;
  bool used_ = false;
};

}  // namespace quarnel

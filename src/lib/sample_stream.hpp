// The batches of a sampled table, read on a thread of their own while a
// consumer takes them, at most two batches ahead: a table of any length in
// bounded memory. The pattern of change_batch_stream.hpp, for SampleBatch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/sample.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

class SampleBatchStream {
 public:
  struct End {};
  using Item = std::variant<std::shared_ptr<const SampleBatch>, End, VcdError>;

  // Starts the read of sample_batches(path, clock, signals, options) at
  // once; it stops when the stream is destroyed.
  SampleBatchStream(std::string path, std::string clock, std::vector<std::string> signals,
                    SampleOptions options, CallContext context);
  ~SampleBatchStream();
  SampleBatchStream(const SampleBatchStream&) = delete;
  SampleBatchStream& operator=(const SampleBatchStream&) = delete;

  // Waits for the next item, asking `interrupt` (may be null) every
  // kInterruptPoll; after the end or an error, gives that again, and after
  // an interruption the read has stopped for good.
  Item next(const vcd::Interrupt* interrupt);
  // Waits as next() does, without taking the item; gives the error when the
  // read ended in one before it handed out a batch.
  std::optional<VcdError> first_error(const vcd::Interrupt* interrupt);

 private:
  // Waits, with `lock` held, until a batch is ready or the read has ended
  // (an interruption ends it).
  void wait(std::unique_lock<std::mutex>& lock, const vcd::Interrupt* interrupt);
  bool deliver(SampleBatch&& batch);
  static bool stop_requested(void* self);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<const SampleBatch>> ready_;
  std::variant<std::monostate, End, VcdError> ended_;
  bool stopping_ = false;
  vcd::Interrupt stop_hook_{&stop_requested, this};
  std::thread reader_;
};

}  // namespace quarnel

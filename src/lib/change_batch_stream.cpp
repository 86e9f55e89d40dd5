#include "src/lib/change_batch_stream.hpp"

#include <utility>

#include "src/lib/extract.hpp"

namespace quarnel {

namespace {

// How many full batches the read may run ahead of the consumer.
constexpr std::size_t kBatchesAhead = 2;

}  // namespace

ChangeBatchStream::ChangeBatchStream(std::string path, std::vector<std::string> signals,
                                     Window window, CallContext context, BatchLimits limits)
    : names_(ChangeTableBuilder(signals, limits, nullptr).names()) {
  context.interrupt = &stop_hook_;
  reader_ = std::thread(&ChangeBatchStream::read, this, std::move(path), std::move(signals), window,
                        context, limits);
}

ChangeBatchStream::~ChangeBatchStream() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

bool ChangeBatchStream::stop_requested(void* self) {
  auto* stream = static_cast<ChangeBatchStream*>(self);
  const std::lock_guard lock(stream->mutex_);
  return stream->stopping_;
}

bool ChangeBatchStream::deliver(ChangeBatch&& batch) {
  auto shared = std::make_shared<const ChangeBatch>(std::move(batch));
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopping_ || ready_.size() < kBatchesAhead; });
  if (stopping_) return false;
  ready_.push_back(std::move(shared));
  lock.unlock();
  changed_.notify_all();
  return true;
}

void ChangeBatchStream::read(const std::string& path, const std::vector<std::string>& signals,
                             Window window, CallContext context, BatchLimits limits) {
  ChangeTableBuilder builder(signals, limits,
                             [this](ChangeBatch&& batch) { return deliver(std::move(batch)); });
  auto read = extract_changes(path, signals, window, std::ref(builder), context);
  std::variant<std::monostate, End, VcdError> ended = End{};
  if (!read) {
    ended = std::move(read.error());
  } else if (builder.too_long()) {
    ended = value_too_long_error();
  } else if (!builder.finish()) {
    ended = VcdError{VcdError::Kind::Interrupted, {}};
  }
  {
    const std::lock_guard lock(mutex_);
    // An interrupted consumer has said how the stream ended already.
    if (std::holds_alternative<std::monostate>(ended_)) ended_ = std::move(ended);
  }
  changed_.notify_all();
}

bool ChangeBatchStream::wait(std::unique_lock<std::mutex>& lock, const vcd::Interrupt* interrupt) {
  // The interrupt is asked every kInterruptPoll, also when the batches come
  // faster than that.
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

ChangeBatchStream::Item ChangeBatchStream::next(const vcd::Interrupt* interrupt) {
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

std::optional<VcdError> ChangeBatchStream::first_error(const vcd::Interrupt* interrupt) {
  std::unique_lock lock(mutex_);
  wait(lock, interrupt);
  if (const auto* error = std::get_if<VcdError>(&ended_); error && ready_.empty()) return *error;
  return std::nullopt;
}

std::unique_ptr<ChangeBatchStream> PendingRead::take() {
  const std::lock_guard lock(mutex_);
  return std::move(stream_);
}

void PendingRead::give_back(std::unique_ptr<ChangeBatchStream> stream) {
  const std::lock_guard lock(mutex_);
  if (!stream_) stream_ = std::move(stream);
}

}  // namespace quarnel

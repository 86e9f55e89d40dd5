#include "src/lib/sample_stream.hpp"

#include <utility>

namespace quarnel {

SampleBatchStream::SampleBatchStream(std::string path, std::string clock,
                                     std::vector<std::string> signals, SampleOptions options,
                                     CallContext context) {
  context.interrupt = &stop_hook_;
  reader_ = std::thread([this, path = std::move(path), clock = std::move(clock),
                         signals = std::move(signals), options, context] {
    auto read = sample_batches(
        path, clock, signals, options,
        [this](SampleBatch&& batch) { return deliver(std::move(batch)); }, context);
    std::variant<std::monostate, End, VcdError> ended = End{};
    if (!read) {
      ended = std::move(read.error());
    } else if (!*read) {
      ended = VcdError{VcdError::Kind::Interrupted, {}};
    }
    {
      const std::lock_guard lock(mutex_);
      if (std::holds_alternative<std::monostate>(ended_)) ended_ = std::move(ended);
    }
    changed_.notify_all();
  });
}

SampleBatchStream::~SampleBatchStream() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

bool SampleBatchStream::stop_requested(void* self) {
  auto* stream = static_cast<SampleBatchStream*>(self);
  const std::lock_guard lock(stream->mutex_);
  return stream->stopping_;
}

bool SampleBatchStream::deliver(SampleBatch&& batch) {
  auto shared = std::make_shared<const SampleBatch>(std::move(batch));
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stopping_ || ready_.size() < 2; });
  if (stopping_) return false;
  ready_.push_back(std::move(shared));
  lock.unlock();
  changed_.notify_all();
  return true;
}

void SampleBatchStream::wait(std::unique_lock<std::mutex>& lock, const vcd::Interrupt* interrupt) {
  while (ready_.empty() && std::holds_alternative<std::monostate>(ended_)) {
    changed_.wait_for(lock, kInterruptPoll);
    if (!ready_.empty() || !std::holds_alternative<std::monostate>(ended_)) return;
    lock.unlock();
    const bool asked = vcd::interrupt_requested(interrupt);
    lock.lock();
    if (asked) {
      stopping_ = true;
      ended_ = VcdError{VcdError::Kind::Interrupted, {}};
      changed_.notify_all();
    }
  }
}

SampleBatchStream::Item SampleBatchStream::next(const vcd::Interrupt* interrupt) {
  std::unique_lock lock(mutex_);
  wait(lock, interrupt);
  if (!ready_.empty()) {
    Item item = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return item;
  }
  if (const auto* error = std::get_if<VcdError>(&ended_)) return *error;
  return End{};
}

std::optional<VcdError> SampleBatchStream::first_error(const vcd::Interrupt* interrupt) {
  std::unique_lock lock(mutex_);
  wait(lock, interrupt);
  if (const auto* error = std::get_if<VcdError>(&ended_); error && ready_.empty()) return *error;
  return std::nullopt;
}

}  // namespace quarnel

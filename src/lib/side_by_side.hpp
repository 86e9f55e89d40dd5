// Two independent reads run at once, one of them on a second thread, so that
// reading two files takes about as long as reading the longer one.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "src/lib/call_context.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

// Calls first(interrupt) on this thread and second(interrupt) on another and
// returns both results. The caller's `interrupt` (may be null) is asked on
// this thread only, since it may need to be; when it fires, or when the first
// read fails, the second read is stopped (the first read's error is the one
// to report). Without a second thread the reads run one after the other.
// Each read gets an interrupt of its own and must hand it to its file reads.
template <class First, class Second>
auto side_by_side(First first, Second second, const vcd::Interrupt* interrupt)
    -> std::pair<decltype(first(interrupt)), decltype(second(interrupt))> {
  using SecondResult = decltype(second(interrupt));
  const auto interrupted = [] {
    return SecondResult(std::unexpect, VcdError{VcdError::Kind::Interrupted, {}});
  };
  std::atomic<bool> stop{false};
  const vcd::Interrupt second_interrupt{
      [](void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }, &stop};
  // The caller's interrupt, which also stops the second read when it fires.
  struct Forward {
    const vcd::Interrupt* caller;
    std::atomic<bool>* stop;
  } forward{interrupt, &stop};
  const vcd::Interrupt first_interrupt{[](void* context) {
                                         auto* f = static_cast<Forward*>(context);
                                         if (!vcd::interrupt_requested(f->caller)) return false;
                                         f->stop->store(true);
                                         return true;
                                       },
                                       &forward};

  std::optional<SecondResult> second_result;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread worker;
  try {
    worker = std::thread([&] {
      try {
        second_result.emplace(second(&second_interrupt));
      } catch (...) {
        failure = std::current_exception();
      }
      const std::lock_guard lock(mutex);
      done = true;
      finished.notify_one();
    });
  } catch (const std::system_error&) {
    auto first_result = first(interrupt);
    if (!first_result) return {std::move(first_result), interrupted()};
    return {std::move(first_result), second(interrupt)};
  }

  // Should the first read run out of memory, the second is stopped and
  // joined before the failure goes on.
  const auto first_read = [&] {
    try {
      return first(&first_interrupt);
    } catch (...) {
      stop.store(true);
      worker.join();
      throw;
    }
  };
  auto first_result = first_read();
  if (!first_result) stop.store(true);
  // Wait for the second read while still answering the caller's interrupt.
  // Once it has fired it is not asked again, and the second result, even if
  // complete by then, is reported as interrupted.
  bool caller_stopped = false;
  {
    std::unique_lock lock(mutex);
    while (!finished.wait_for(lock, kInterruptPoll, [&] { return done; })) {
      if (!stop.load() && vcd::interrupt_requested(interrupt)) {
        caller_stopped = true;
        stop.store(true);
      }
    }
  }
  worker.join();
  if (failure) std::rethrow_exception(failure);
  // Without a failure the second read has left its result.
  if (caller_stopped || !second_result) second_result = interrupted();
  return {std::move(first_result), std::move(*second_result)};
}

}  // namespace quarnel

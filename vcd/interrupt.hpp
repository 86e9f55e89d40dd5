// A caller's way to stop a long read: the file reads ask it at every buffer
// refill, and again whenever a blocking system call is interrupted by a
// signal, so that a read of an endless or stalled file can still be ended.
#pragma once

#include <chrono>

namespace vcd {

struct Interrupt {
  // True when reading should stop; called with `context`.
  bool (*requested)(void* context) = nullptr;
  void* context = nullptr;
};

// Asks `interrupt`, which may be null (never stop).
inline bool interrupt_requested(const Interrupt* interrupt) {
  return interrupt != nullptr && interrupt->requested != nullptr &&
         interrupt->requested(interrupt->context);
}

// How often a thread that waits (for the reads of other threads, or for a
// pipe to deliver) asks the interrupt. Those reads ask only a hook of their
// own, and a signal reaches only one thread, so this is how late Ctrl-C may
// come into effect: well below what a person notices, and rare enough that
// the waits cost nothing measurable.
inline constexpr std::chrono::milliseconds kInterruptPoll{20};

}  // namespace vcd

// A caller's way to stop a long read: the file reads ask it at every buffer
// refill, and again whenever a blocking system call is interrupted by a
// signal, so that a read of an endless or stalled file can still be ended.
#pragma once

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

}  // namespace vcd

// A table of changes handed out through the Arrow C data and C stream
// interfaces: the interfaces' own structures (a fixed ABI), filled so that
// every buffer points into a batch, which each exported piece keeps alive.
// Nothing here touches the interpreter, so a consumer may read and release
// the exported structures on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "src/lib/change_batch_stream.hpp"
#include "src/lib/sample_stream.hpp"

extern "C" {

// The structures as the Arrow C data and C stream interfaces fix them.
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif
}

namespace quarnel::python {

// Fills `out` with the schema of every table of changes: a struct of the
// columns time, signal, value, integer and real. Returns an errno value
// (ENOMEM) and leaves `out` released when it cannot.
int export_change_schema(ArrowSchema* out) noexcept;

// Fills `out` with a stream of the batches that `batches` reads, one record
// batch each. get_next asks `interrupt` (which may be null, and must not
// touch the interpreter without taking its lock) while it waits for the read.
int export_change_stream(TakenRead batches, const vcd::Interrupt* interrupt,
                         ArrowArrayStream* out) noexcept;

// The schema of a sampled table: cycle and time (uint64), then per name a
// nullable utf8 column of that name.
int export_sample_schema(const std::vector<std::string>& names, ArrowSchema* out) noexcept;

// A stream of the batches that `batches` reads, as export_change_stream.
int export_sample_stream(std::shared_ptr<SampleBatchStream> batches, std::vector<std::string> names,
                         const vcd::Interrupt* interrupt, ArrowArrayStream* out) noexcept;

}  // namespace quarnel::python

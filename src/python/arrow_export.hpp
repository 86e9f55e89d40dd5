// Tables of changes and of samples handed out through the Arrow C data and
// C stream interfaces: the interfaces' own structures (a fixed ABI), filled so that
// every buffer points into a batch, which each exported piece keeps alive.
// Nothing here touches the interpreter, so a consumer may read and release
// the exported structures on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "src/lib/batch_stream.hpp"
#include "src/lib/change_table.hpp"
#include "src/lib/sample.hpp"

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

// Fills `out` with the schema of the tables of `Batch`: for a ChangeBatch a
// struct of the columns time, signal, value, integer and real; for a
// SampleBatch cycle and time (uint64), then per name a nullable utf8 column
// of that name. Returns an errno value (ENOMEM) and leaves `out` released
// when it cannot.
template <class Batch>
int export_schema(const std::vector<std::string>& names, ArrowSchema* out) noexcept;

// Fills `out` with a stream of the batches that `batches` reads, one record
// batch each. get_next asks `interrupt` (which may be null, and must not
// touch the interpreter without taking its lock) while it waits for the read.
template <class Batch>
int export_stream(TakenRead<Batch> batches, const vcd::Interrupt* interrupt,
                  ArrowArrayStream* out) noexcept;

}  // namespace quarnel::python

#include "src/python/arrow_export.hpp"

#include <array>
#include <cerrno>
#include <cstddef>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace quarnel::python {

namespace {

// What the children and the dictionary of one exported structure are, so
// that releasing it releases those that the consumer has not moved away.
template <class Struct>
struct Node {
  std::vector<std::unique_ptr<Struct>> child_storage;
  std::vector<Struct*> children;
  std::unique_ptr<Struct> dictionary;
};

// The release callback of a structure whose private data is a `NodeType`.
template <class NodeType, class Struct>
void release_exported(Struct* item) {
  auto* node = static_cast<NodeType*>(item->private_data);
  for (Struct* child : node->children) {
    if (child->release != nullptr) child->release(child);
  }
  if (node->dictionary && node->dictionary->release != nullptr) {
    node->dictionary->release(node->dictionary.get());
  }
  delete node;
  item->release = nullptr;
}

Node<ArrowSchema>* start_schema(ArrowSchema* out, const char* format, const char* name,
                                std::int64_t flags, std::size_t children) {
  auto* node = new Node<ArrowSchema>;
  for (std::size_t i = 0; i < children; ++i) {
    node->child_storage.push_back(std::make_unique<ArrowSchema>());
    node->children.push_back(node->child_storage.back().get());
    node->children.back()->release = nullptr;
  }
  *out = ArrowSchema{format,
                     name,
                     nullptr,
                     flags,
                     static_cast<std::int64_t>(children),
                     children ? node->children.data() : nullptr,
                     nullptr,
                     &release_exported<Node<ArrowSchema>, ArrowSchema>,
                     node};
  return node;
}

// The column names and formats, in column order.
constexpr std::array<const char*, 5> kNames = {"time", "signal", "value", "integer", "real"};
constexpr std::array<const char*, 5> kFormats = {"L", "i", "u", "L", "g"};

void fill_schema(ArrowSchema* out) {
  Node<ArrowSchema>* top = start_schema(out, "+s", "", 0, kNames.size());
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    const bool nullable = i >= 3;
    Node<ArrowSchema>* column = start_schema(top->children[i], kFormats[i], kNames[i],
                                             nullable ? ARROW_FLAG_NULLABLE : 0, 0);
    if (i == 1) {
      column->dictionary = std::make_unique<ArrowSchema>();
      column->dictionary->release = nullptr;
      start_schema(column->dictionary.get(), "u", nullptr, 0, 0);
      top->children[i]->dictionary = column->dictionary.get();
    }
  }
}

// The names the signal column stands for, laid out as a string column, the
// dictionary of every batch.
struct NameColumn {
  std::vector<std::int32_t> offsets{0};
  std::string data;
};

// What an exported array points into: the names and its batch.
struct Buffers {
  std::shared_ptr<const NameColumn> names;
  std::shared_ptr<const ChangeBatch> batch;
};

// An exported array: its node, the buffer list, and what it points into.
struct ArrayNode : Node<ArrowArray> {
  Buffers data;
  std::array<const void*, 3> buffers{};
};

ArrayNode* start_array(ArrowArray* out, const Buffers& data, std::size_t length, std::int64_t nulls,
                       std::initializer_list<const void*> buffers, std::size_t children) {
  auto* node = new ArrayNode;
  node->data = data;
  std::size_t n = 0;
  for (const void* buffer : buffers) node->buffers[n++] = buffer;
  for (std::size_t i = 0; i < children; ++i) {
    node->child_storage.push_back(std::make_unique<ArrowArray>());
    node->children.push_back(node->child_storage.back().get());
    node->children.back()->release = nullptr;
  }
  *out = ArrowArray{static_cast<std::int64_t>(length),
                    nulls,
                    0,
                    static_cast<std::int64_t>(n),
                    static_cast<std::int64_t>(children),
                    node->buffers.data(),
                    children ? node->children.data() : nullptr,
                    nullptr,
                    &release_exported<ArrayNode, ArrowArray>,
                    node};
  return node;
}

void fill_numbers(ArrowArray* out, const Buffers& data, std::size_t rows,
                  const NumberColumns& numbers, const Validity& validity) {
  start_array(
      out, data, rows, validity.nulls,
      {validity.nulls ? validity.bits.data() : nullptr,
       numbers.slots.empty() ? static_cast<const void*>(zero_values()) : numbers.slots.data()},
      0);
}

void fill_batch(ArrowArray* out, const Buffers& data) {
  const ChangeBatch& batch = *data.batch;
  const std::size_t rows = batch.rows();
  ArrayNode* top = start_array(out, data, rows, 0, {nullptr}, kNames.size());
  start_array(top->children[0], data, rows, 0, {nullptr, batch.time.data()}, 0);
  ArrayNode* signal =
      start_array(top->children[1], data, rows, 0, {nullptr, batch.signal.data()}, 0);
  signal->dictionary = std::make_unique<ArrowArray>();
  signal->dictionary->release = nullptr;
  start_array(signal->dictionary.get(), data, data.names->offsets.size() - 1, 0,
              {nullptr, data.names->offsets.data(), data.names->data.data()}, 0);
  top->children[1]->dictionary = signal->dictionary.get();
  start_array(top->children[2], data, rows, 0,
              {nullptr, batch.value_offsets.data(), batch.value_data.data()}, 0);
  fill_numbers(top->children[3], data, rows, batch.numbers, batch.numbers.integer);
  fill_numbers(top->children[4], data, rows, batch.numbers, batch.numbers.real);
}

struct StreamState {
  TakenRead batches;
  std::shared_ptr<const NameColumn> names;
  const vcd::Interrupt* interrupt;
  // Once the stream has failed: the errno value it gives, and why.
  int failure = 0;
  std::string error;
};

// A failure ends the stream: every later call gives it again.
int fail(StreamState* state, int code, std::string why) {
  state->failure = code;
  state->error = std::move(why);
  return code;
}

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* state = static_cast<StreamState*>(stream->private_data);
  if (state->failure != 0) return state->failure;
  return export_change_schema(out);
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* state = static_cast<StreamState*>(stream->private_data);
  out->release = nullptr;  // the end, as often as it is asked for
  if (state->failure != 0) return state->failure;
  try {
    ChangeBatchStream::Item item = state->batches.next(state->interrupt);
    if (const auto* error = std::get_if<VcdError>(&item)) {
      return fail(state, error->kind == VcdError::Kind::Interrupted ? EINTR : EIO, error->text());
    }
    if (auto* batch = std::get_if<std::shared_ptr<const ChangeBatch>>(&item)) {
      fill_batch(out, Buffers{state->names, std::move(*batch)});
    }
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    return fail(state, ENOMEM, "out of memory");
  }
  return 0;
}

const char* stream_error(ArrowArrayStream* stream) {
  const auto* state = static_cast<StreamState*>(stream->private_data);
  return state->failure == 0 ? nullptr : state->error.c_str();
}

void release_stream(ArrowArrayStream* stream) {
  delete static_cast<StreamState*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

int export_change_schema(ArrowSchema* out) noexcept {
  out->release = nullptr;
  try {
    fill_schema(out);
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    return ENOMEM;
  }
  return 0;
}

int export_change_stream(TakenRead batches, const vcd::Interrupt* interrupt,
                         ArrowArrayStream* out) noexcept {
  out->release = nullptr;
  try {
    auto names = std::make_shared<NameColumn>();
    for (const std::string& name : batches.names()) {
      names->data += name;
      names->offsets.push_back(static_cast<std::int32_t>(names->data.size()));
    }
    auto state = std::make_unique<StreamState>(
        StreamState{std::move(batches), std::move(names), interrupt, 0, {}});
    *out = ArrowArrayStream{&stream_schema, &stream_next, &stream_error, &release_stream,
                            state.release()};
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  return 0;
}

}  // namespace quarnel::python

// ---- sampled tables: cycle, time, then one text column per signal ---------

namespace quarnel::python {

namespace {

struct SampleStreamState {
  std::shared_ptr<SampleBatchStream> batches;
  std::vector<std::string> names;
  const vcd::Interrupt* interrupt;
  int failure = 0;
  std::string error;
};

// What an exported sampled array points into.
struct SampleArrayNode : Node<ArrowArray> {
  std::shared_ptr<const SampleBatch> batch;
  std::array<const void*, 3> buffers{};
};

SampleArrayNode* start_sample_array(ArrowArray* out,
                                    const std::shared_ptr<const SampleBatch>& batch,
                                    std::int64_t nulls, std::initializer_list<const void*> buffers,
                                    std::size_t children) {
  auto* node = new SampleArrayNode;
  node->batch = batch;
  std::size_t n = 0;
  for (const void* buffer : buffers) node->buffers[n++] = buffer;
  for (std::size_t i = 0; i < children; ++i) {
    node->child_storage.push_back(std::make_unique<ArrowArray>());
    node->children.push_back(node->child_storage.back().get());
    node->children.back()->release = nullptr;
  }
  *out = ArrowArray{static_cast<std::int64_t>(batch->rows()),
                    nulls,
                    0,
                    static_cast<std::int64_t>(n),
                    static_cast<std::int64_t>(children),
                    node->buffers.data(),
                    children ? node->children.data() : nullptr,
                    nullptr,
                    &release_exported<SampleArrayNode, ArrowArray>,
                    node};
  return node;
}

// A column whose schema holds its own name.
struct NamedSchemaNode : Node<ArrowSchema> {
  std::string name;
};

void fill_sample_schema(ArrowSchema* out, const std::vector<std::string>& names) {
  Node<ArrowSchema>* top = start_schema(out, "+s", "", 0, names.size() + 2);
  start_schema(top->children[0], "L", "cycle", 0, 0);
  start_schema(top->children[1], "L", "time", 0, 0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto node = std::make_unique<NamedSchemaNode>();
    node->name = names[i];
    *top->children[i + 2] = ArrowSchema{"u",       node->name.c_str(),
                                        nullptr,   ARROW_FLAG_NULLABLE,
                                        0,         nullptr,
                                        nullptr,   &release_exported<NamedSchemaNode, ArrowSchema>,
                                        node.get()};
    node.release();
  }
}

void fill_sample_batch(ArrowArray* out, std::shared_ptr<const SampleBatch> batch) {
  const SampleBatch& b = *batch;
  SampleArrayNode* top = start_sample_array(out, batch, 0, {nullptr}, b.columns.size() + 2);
  start_sample_array(top->children[0], batch, 0, {nullptr, b.cycle.data()}, 0);
  start_sample_array(top->children[1], batch, 0, {nullptr, b.time.data()}, 0);
  for (std::size_t i = 0; i < b.columns.size(); ++i) {
    const SampleBatch::Column& column = b.columns[i];
    start_sample_array(top->children[i + 2], batch, column.validity.nulls,
                       {column.validity.nulls ? column.validity.bits.data() : nullptr,
                        column.offsets.data(), column.data.data()},
                       0);
  }
}

int sample_stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* state = static_cast<SampleStreamState*>(stream->private_data);
  if (state->failure != 0) return state->failure;
  return export_sample_schema(state->names, out);
}

int sample_stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* state = static_cast<SampleStreamState*>(stream->private_data);
  out->release = nullptr;
  if (state->failure != 0) return state->failure;
  try {
    SampleBatchStream::Item item = state->batches->next(state->interrupt);
    if (const auto* error = std::get_if<VcdError>(&item)) {
      state->failure = error->kind == VcdError::Kind::Interrupted ? EINTR : EIO;
      state->error = error->text();
      return state->failure;
    }
    if (auto* batch = std::get_if<std::shared_ptr<const SampleBatch>>(&item))
      fill_sample_batch(out, std::move(*batch));
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    state->failure = ENOMEM;
    state->error = "out of memory";
    return ENOMEM;
  }
  return 0;
}

const char* sample_stream_error(ArrowArrayStream* stream) {
  const auto* state = static_cast<SampleStreamState*>(stream->private_data);
  return state->failure == 0 ? nullptr : state->error.c_str();
}

void release_sample_stream(ArrowArrayStream* stream) {
  delete static_cast<SampleStreamState*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

int export_sample_schema(const std::vector<std::string>& names, ArrowSchema* out) noexcept {
  out->release = nullptr;
  try {
    fill_sample_schema(out, names);
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    return ENOMEM;
  }
  return 0;
}

int export_sample_stream(std::shared_ptr<SampleBatchStream> batches, std::vector<std::string> names,
                         const vcd::Interrupt* interrupt, ArrowArrayStream* out) noexcept {
  out->release = nullptr;
  try {
    auto state = std::make_unique<SampleStreamState>(
        SampleStreamState{std::move(batches), std::move(names), interrupt, 0, {}});
    *out = ArrowArrayStream{&sample_stream_schema, &sample_stream_next, &sample_stream_error,
                            &release_sample_stream, state.release()};
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  return 0;
}

}  // namespace quarnel::python

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

// The columns of a table of changes, in order: names and formats.
constexpr std::array<const char*, 5> kNames = {"time", "signal", "value", "integer", "real"};
constexpr std::array<const char*, 5> kFormats = {"L", "i", "u", "L", "g"};

// A column whose schema holds its own name.
struct NamedSchemaNode : Node<ArrowSchema> {
  std::string name;
};

void fill_schema(ArrowSchema* out, const ChangeBatch* /*kind*/,
                 const std::vector<std::string>& /*names*/) {
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

void fill_schema(ArrowSchema* out, const SampleBatch* /*kind*/,
                 const std::vector<std::string>& names) {
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
    static_cast<void>(node.release());  // owned by the column's schema from here on
  }
}

// The names of a table laid out as a string column: the dictionary of the
// signal column of every batch of changes.
struct NameColumn {
  std::vector<std::int32_t> offsets{0};
  std::string data;
};

// What an exported array points into: the names and its batch.
struct Buffers {
  std::shared_ptr<const NameColumn> names;
  std::shared_ptr<const void> batch;
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

void fill_batch(ArrowArray* out, const Buffers& data, const ChangeBatch& batch) {
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

void fill_batch(ArrowArray* out, const Buffers& data, const SampleBatch& batch) {
  const std::size_t rows = batch.rows();
  ArrayNode* top = start_array(out, data, rows, 0, {nullptr}, batch.columns.size() + 2);
  start_array(top->children[0], data, rows, 0, {nullptr, batch.cycle.data()}, 0);
  start_array(top->children[1], data, rows, 0, {nullptr, batch.time.data()}, 0);
  for (std::size_t i = 0; i < batch.columns.size(); ++i) {
    const SampleBatch::Column& column = batch.columns[i];
    start_array(top->children[i + 2], data, rows, column.validity.nulls,
                {column.validity.nulls ? column.validity.bits.data() : nullptr,
                 column.offsets.data(), column.data.data()},
                0);
  }
}

template <class Batch>
struct StreamState {
  TakenRead<Batch> batches;
  std::shared_ptr<const NameColumn> names;
  const vcd::Interrupt* interrupt = nullptr;
  // Once the stream has failed: the errno value it gives, and why.
  int failure = 0;
  std::string error;

  // A failure ends the stream: every later call gives it again.
  int fail(int code, std::string why) {
    failure = code;
    error = std::move(why);
    return code;
  }
};

template <class Batch>
int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* state = static_cast<StreamState<Batch>*>(stream->private_data);
  if (state->failure != 0) return state->failure;
  return export_schema<Batch>(state->batches.names(), out);
}

template <class Batch>
int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* state = static_cast<StreamState<Batch>*>(stream->private_data);
  out->release = nullptr;  // the end, as often as it is asked for
  if (state->failure != 0) return state->failure;
  try {
    auto item = state->batches.next(state->interrupt);
    if (const auto* error = std::get_if<VcdError>(&item)) {
      return state->fail(error->kind == VcdError::Kind::Interrupted ? EINTR : EIO, error->text());
    }
    if (auto* batch = std::get_if<std::shared_ptr<const Batch>>(&item)) {
      const Batch& rows = **batch;
      fill_batch(out, Buffers{state->names, std::move(*batch)}, rows);
    }
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    return state->fail(ENOMEM, "out of memory");
  }
  return 0;
}

template <class Batch>
const char* stream_error(ArrowArrayStream* stream) {
  const auto* state = static_cast<StreamState<Batch>*>(stream->private_data);
  return state->failure == 0 ? nullptr : state->error.c_str();
}

template <class Batch>
void release_stream(ArrowArrayStream* stream) {
  delete static_cast<StreamState<Batch>*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

template <class Batch>
int export_schema(const std::vector<std::string>& names, ArrowSchema* out) noexcept {
  out->release = nullptr;
  try {
    fill_schema(out, static_cast<const Batch*>(nullptr), names);
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    return ENOMEM;
  }
  return 0;
}

template <class Batch>
int export_stream(TakenRead<Batch> batches, const vcd::Interrupt* interrupt,
                  ArrowArrayStream* out) noexcept {
  out->release = nullptr;
  try {
    auto names = std::make_shared<NameColumn>();
    for (const std::string& name : batches.names()) {
      names->data += name;
      names->offsets.push_back(static_cast<std::int32_t>(names->data.size()));
    }
    auto state = std::make_unique<StreamState<Batch>>(
        StreamState<Batch>{std::move(batches), std::move(names), interrupt, 0, {}});
    *out = ArrowArrayStream{&stream_schema<Batch>, &stream_next<Batch>, &stream_error<Batch>,
                            &release_stream<Batch>, state.release()};
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  return 0;
}

template int export_schema<ChangeBatch>(const std::vector<std::string>&, ArrowSchema*) noexcept;
template int export_schema<SampleBatch>(const std::vector<std::string>&, ArrowSchema*) noexcept;
template int export_stream<ChangeBatch>(TakenRead<ChangeBatch>, const vcd::Interrupt*,
                                        ArrowArrayStream*) noexcept;
template int export_stream<SampleBatch>(TakenRead<SampleBatch>, const vcd::Interrupt*,
                                        ArrowArrayStream*) noexcept;

}  // namespace quarnel::python

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

// The table with its names laid out as a string column.
struct TableData {
  std::shared_ptr<const ChangeTable> table;
  std::vector<std::int32_t> name_offsets{0};
  std::string name_data;
};

// An exported array: its node, the buffer list, and the table it points into.
struct ArrayNode : Node<ArrowArray> {
  std::shared_ptr<const TableData> data;
  std::array<const void*, 3> buffers{};
};

ArrayNode* start_array(ArrowArray* out, const std::shared_ptr<const TableData>& data,
                       std::size_t length, std::int64_t nulls,
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

template <class T>
void fill_nullable(ArrowArray* out, const std::shared_ptr<const TableData>& data, std::size_t rows,
                   const NullableColumn<T>& column) {
  start_array(
      out, data, rows, column.nulls,
      {column.nulls ? column.valid.data() : nullptr,
       column.values.empty() ? static_cast<const void*>(zero_values()) : column.values.data()},
      0);
}

void fill_batch(ArrowArray* out, const std::shared_ptr<const TableData>& data,
                const ChangeBatch& batch) {
  const std::size_t rows = batch.rows();
  ArrayNode* top = start_array(out, data, rows, 0, {nullptr}, kNames.size());
  start_array(top->children[0], data, rows, 0, {nullptr, batch.time.data()}, 0);
  ArrayNode* signal =
      start_array(top->children[1], data, rows, 0, {nullptr, batch.signal.data()}, 0);
  signal->dictionary = std::make_unique<ArrowArray>();
  signal->dictionary->release = nullptr;
  start_array(signal->dictionary.get(), data, data->table->names.size(), 0,
              {nullptr, data->name_offsets.data(), data->name_data.data()}, 0);
  top->children[1]->dictionary = signal->dictionary.get();
  start_array(top->children[2], data, rows, 0,
              {nullptr, batch.value_offsets.data(), batch.value_data.data()}, 0);
  fill_nullable(top->children[3], data, rows, batch.integer);
  fill_nullable(top->children[4], data, rows, batch.real);
}

struct StreamState {
  std::shared_ptr<const TableData> data;
  std::size_t next = 0;
  std::string error;
};

// Any failure of the callbacks below is running out of memory, after which
// the stream stays failed.
int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  auto* state = static_cast<StreamState*>(stream->private_data);
  if (!state->error.empty()) return EIO;
  return export_change_schema(out);
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* state = static_cast<StreamState*>(stream->private_data);
  if (!state->error.empty()) return EIO;
  const std::vector<ChangeBatch>& batches = state->data->table->batches;
  if (state->next == batches.size()) {
    out->release = nullptr;  // the end, as often as it is asked for
    return 0;
  }
  try {
    fill_batch(out, state->data, batches[state->next]);
  } catch (const std::bad_alloc&) {
    if (out->release != nullptr) out->release(out);
    out->release = nullptr;
    state->error = "out of memory";
    return ENOMEM;
  }
  ++state->next;
  return 0;
}

const char* stream_error(ArrowArrayStream* stream) {
  const auto* state = static_cast<StreamState*>(stream->private_data);
  return state->error.empty() ? nullptr : state->error.c_str();
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

int export_change_stream(std::shared_ptr<const ChangeTable> table, ArrowArrayStream* out) noexcept {
  out->release = nullptr;
  try {
    auto data = std::make_shared<TableData>();
    for (const std::string& name : table->names) {
      data->name_data += name;
      data->name_offsets.push_back(static_cast<std::int32_t>(data->name_data.size()));
    }
    data->table = std::move(table);
    auto state = std::make_unique<StreamState>();
    state->data = std::move(data);
    *out = ArrowArrayStream{&stream_schema, &stream_next, &stream_error, &release_stream,
                            state.release()};
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  return 0;
}

}  // namespace quarnel::python

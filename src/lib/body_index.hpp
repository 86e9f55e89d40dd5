// An index of a dump's body, kept in a file beside it: points to resume a
// read from, the values of every signal at some of them, and what the whole
// read found. Built by one read of the body, used only while it matches its
// dump.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/lib/body_walker.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/code_index.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/held_change.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// What an index says about the file it was built from; a file that differs
// in any of them is another file (or the same one grown, see load_index).
struct DumpIdentity {
  std::uint64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;  // set by the system on every change, never by a user
  std::uint64_t body_offset = 0;
  std::uint32_t header_crc = 0;  // of the bytes before the body
  std::uint32_t tail_crc = 0;    // of the last kProbeBytes bytes
};

// A point to resume a read from (see Resume): the current time there (the
// last timestamp before it), and a checksum of the bytes that follow it, by
// which a read that jumps there tells that they are still those indexed.
struct Checkpoint {
  std::uint64_t offset = 0;
  std::uint64_t line = 0;
  std::uint64_t time = 0;
  std::uint32_t crc = 0;
};

// The value of every distinct identifier code of the dump (in the order of
// BodyIndex::codes) at a checkpoint.
struct Snapshot {
  std::uint32_t checkpoint = 0;
  std::vector<HeldChange> values;  // as built; empty as loaded (see snapshot_values)
  std::size_t at = 0;              // as loaded: where its values lie in BodyIndex::file
};

struct BodyIndex {
  DumpIdentity identity;
  std::uint64_t signal_count = 0;
  // The times of the body as metadata reads them, and whether a timestamp
  // is ever smaller than the one before it.
  bool any_time = false;
  std::uint64_t first_time = 0;
  std::uint64_t last_time = 0;
  bool time_goes_back = false;
  // The error a read of the whole body ends in, if any.
  std::optional<VcdError> error;
  std::vector<Checkpoint> checkpoints;  // by offset
  std::vector<vcd::IdCode> codes;       // of the snapshots' values
  std::vector<Snapshot> snapshots;      // by checkpoint
  std::string file;                     // as loaded: the bytes of the index file
};

// The values of a snapshot of `index`, decoded from its file when loaded.
std::vector<HeldChange> snapshot_values(const BodyIndex& index, const Snapshot& snapshot);

// How many bytes at a checkpoint, and at the end of the dump, a checksum
// covers.
inline constexpr std::uint64_t kProbeBytes = 4096;

// Where the index of `path` is kept: `path` + ".qidx", or, with a
// directory, a file in it named after the dump's absolute path.
std::string index_path(const std::string& path, const std::string& directory);

// Snapshots lie at least four pieces apart, and far enough apart that they
// take at most about 1 / kSnapshotShare of the body.
inline constexpr std::uint64_t kSnapshotShare = 100;

// Reads the body of `path` once, on the context's threads, and writes its
// index (to a temporary file, then renamed over `destination`). Returns the
// index written. A dump that cannot be read again (a pipe, a compressed
// file) has no index. A `snapshot_share` of 0 puts a snapshot every four
// pieces, however small the body.
Result<BodyIndex> build_index(const std::string& path, const std::string& destination,
                              const CallContext& context = {},
                              std::uint64_t snapshot_share = kSnapshotShare);

// The index of the dump kept at the context's index place, when one is there
// and matches the dump; otherwise nothing, with a line in the context's
// notes saying why an index that is there was ignored. A dump that grew
// since its index was built (the same first bytes) keeps the part it covers:
// `grown` is then set, and its times and error say nothing about the rest.
// With IndexPart::Summary only the summary is read and checked: the index
// then has neither checkpoints nor snapshots.
struct LoadedIndex {
  BodyIndex index;
  bool grown = false;
};
enum class IndexPart : std::uint8_t { Summary, Whole };
std::optional<LoadedIndex> load_index(const Dump& dump, const CallContext& context,
                                      IndexPart part = IndexPart::Whole);

// Whether the bytes at checkpoint `at` are still those indexed.
bool checkpoint_holds(const Dump& dump, const BodyIndex& index, const Checkpoint& at);

// Where a read that needs the value of every signal at `time` may start
// instead of the start of the body: the checkpoint of the last snapshot of
// the context's index at or before `time` (every change before it lies at
// or before `time`), with the values there. Nothing when the body must be
// read from its start.
struct SnapshotStart {
  Resume from;
  CodeIndex positions;  // of the codes in `values`
  std::vector<HeldChange> values;

  // The value of `code` at the snapshot (unset before its first change).
  const HeldChange* find(vcd::IdCode code) const {
    const std::uint32_t position = positions.find(code);
    return position == CodeIndex::kNone ? nullptr : &values[position];
  }
};
std::optional<SnapshotStart> snapshot_start(const Dump& dump, std::uint64_t time,
                                            const CallContext& context);

// The last checkpoint of `index` that a read for the window [start, ...] may
// resume from: every change before it lies before `start`. Nothing when the
// body must be read from its start (no such checkpoint, time that goes back,
// or bytes that changed there).
std::optional<Resume> resume_point(const Dump& dump, const BodyIndex& index, std::uint64_t start);

}  // namespace quarnel

// The files --compare hands to its writers, in batches: each a file whose
// size is the record's, with its directory (held open for it), its name,
// its path for the lines, its record, what the look by name found, and the
// record's body as far as the content stream holds it.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "platform/platform.h"
#include "report/path_text.h"
#include "target/record_match.h"

constexpr std::uint32_t kCompareEntries = 64;
// The longest body a batch carries; longer ones are compared by the
// reading thread.
constexpr std::uint32_t kCompareBodyBytes = kReadAheadBytes;
constexpr std::uint32_t kCompareNameUnits = kNameUnits + 8192;
constexpr std::uint32_t kComparePathBytes = 4 * kPathTextBytes;

struct CompareJob {
  Handle dir;
  FsNode node;
  bool look = false;  // the writer looks at it by name first
  EntryInfo looked;   // else what the reading thread's look found
  std::uint32_t name = 0;  // offsets in the batch
  std::uint32_t path = 0;
  std::uint32_t path_length = 0;
  bool path_cut = false;
  std::uint32_t body = 0;
  std::uint32_t held = 0;  // bytes of the body the stream held: the size, or fewer where it ended
};

struct CompareBatch {
  std::uint32_t count = 0;
  std::uint32_t name_used = 0;
  std::uint32_t path_used = 0;
  std::uint32_t body_used = 0;
  CompareJob jobs[kCompareEntries];
  char16_t names[kCompareNameUnits];
  char paths[kComparePathBytes];
  alignas(4096) std::uint8_t body[kCompareBodyBytes];

  void clear() { count = name_used = path_used = body_used = 0; }
  bool fits(std::uint32_t body_bytes, std::uint32_t name_units, std::uint32_t path_bytes) const {
    return count < kCompareEntries && body_used + body_bytes <= kCompareBodyBytes &&
           name_used + name_units <= kCompareNameUnits && path_used + path_bytes <= kComparePathBytes;
  }
  const char16_t* name_of(const CompareJob& job) const { return names + job.name; }
  EntryText path_of(const CompareJob& job) const {
    return EntryText{paths + job.path, job.path_length, job.path_cut ? kCutMark : ""};
  }
};

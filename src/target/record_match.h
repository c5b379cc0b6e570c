// Whether an entry holds what a restore of its record leaves: a file's size,
// the last-write time as the restore sets it (exact to the record's 100 ns),
// and the attribute word as far as the system tells it. --resume keeps a
// file only where nothing differs; --compare tells each difference.
#pragma once

#include <cstdint>

#include "dump/fs_node.h"
#include "platform/platform.h"

// What the system shows of an entry, from a look at its name or from the
// open entry: `known` are the bits of `attributes` it told.
struct EntryState {
  std::uint64_t size = 0;
  UnixTime write_time = {0, 0};
  std::uint16_t attributes = 0;
  std::uint16_t known = 0;

  static EntryState of(const EntryInfo& info);
  static EntryState of(const OpenState& open);
};

// The ways an entry differs from its record, as bits.
enum RecordDifference : std::uint8_t {
  kSizeDiffers = 1,  // files only: a directory's size is the system's own
  kTimeDiffers = 2,
  kWordDiffers = 4,
};
std::uint8_t record_differences(const FsNode& node, const EntryState& disk);

// Whether the record's word holds more than the bits `told` by a look at the
// name: the restore then kept the word with the entry (where it keeps none of
// its own, beside the entry), and only the open entry shows it. The plain
// word (archive for a file, directory for a directory) is never kept there.
bool word_needs_reading(const FsNode& node, std::uint16_t told);
// Whether --compare reads the word from the open entry: where the look could
// not tell it, and where the look found it different, so the line shows the
// whole word.
bool word_to_compare_open(const FsNode& node, const EntryState& looked, std::uint16_t told);

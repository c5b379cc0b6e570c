#include "target/record_match.h"

#include "platform/file_attributes.h"

EntryState EntryState::of(const EntryInfo& info) {
  return EntryState{info.size, info.write_time, static_cast<std::uint16_t>(info.attributes), info.attributes_told};
}

EntryState EntryState::of(const OpenState& open) {
  return EntryState{open.size, open.write_time, open.attributes, open.attributes_kept};
}

std::uint8_t record_differences(const FsNode& node, const EntryState& disk) {
  std::uint8_t differs = 0;
  if (!node.is_directory() && disk.size != node.size) differs |= kSizeDiffers;
  const UnixTime want = filetime_to_unix(node.write_time);
  if (disk.write_time.seconds != want.seconds || disk.write_time.nanoseconds != want.nanoseconds) {
    differs |= kTimeDiffers;
  }
  if (((node.attr ^ disk.attributes) & disk.known) != 0) differs |= kWordDiffers;
  return differs;
}

bool word_needs_reading(const FsNode& node, std::uint16_t told) {
  const std::uint16_t plain = node.is_directory() ? kAttrDirectory : kAttrArchive;
  return (node.attr & ~told) != (plain & ~told);
}

bool word_to_compare_open(const FsNode& node, const EntryState& looked, std::uint16_t told) {
  return word_needs_reading(node, told) || (record_differences(node, looked) & kWordDiffers) != 0;
}

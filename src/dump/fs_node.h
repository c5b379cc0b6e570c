// One record of the node stream: a directory or file, in pre-order.
#pragma once

#include <cstdint>

#include "platform/file_attributes.h"
#include "platform/filetime.h"

constexpr std::uint32_t kFsNodeBytes = 32;
// A depth is one byte: 0 (directly in the target) to 255.
constexpr int kDepthLevels = 256;

// Stream names, appended to the base path without a separator.
constexpr char16_t kContentSuffix[] = u"$content";
constexpr char16_t kNamesSuffix[] = u"$fsnames";
constexpr char16_t kNodesSuffix[] = u"$fsnodes";
constexpr std::uint32_t kLongestSuffixUnits = 8;

// Writes a stream suffix, terminator included, over name from unit at on
// (where the base path's terminator was).
void put_suffix(char16_t* name, std::uint32_t at, const char16_t* suffix);

struct FsNode {
  std::uint64_t size = 0;  // 40 bits: size_low | size_high << 32
  std::uint8_t depth = 0;
  std::uint16_t attr = 0;
  FileTime creation_time = 0;
  FileTime write_time = 0;
  std::uint64_t extra = 0;

  bool is_directory() const { return (attr & kAttrDirectory) != 0; }
};

// Decodes the little-endian 32-byte record.
FsNode decode_fs_node(const std::uint8_t* bytes);
// Writes the record's 32 bytes; the inverse of decode_fs_node, for dump
// writers. Bits of size above 40 are dropped.
void encode_fs_node(const FsNode& node, std::uint8_t* bytes);

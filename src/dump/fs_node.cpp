#include "dump/fs_node.h"

namespace {

std::uint64_t load_le(const std::uint8_t* p, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

void store_le(std::uint8_t* p, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

FsNode decode_fs_node(const std::uint8_t* bytes) {
  FsNode node;
  node.size = load_le(bytes, 5);
  node.depth = bytes[5];
  node.attr = static_cast<std::uint16_t>(load_le(bytes + 6, 2));
  node.creation_time = load_le(bytes + 8, 8);
  node.write_time = load_le(bytes + 16, 8);
  node.extra = load_le(bytes + 24, 8);
  return node;
}

void encode_fs_node(const FsNode& node, std::uint8_t* bytes) {
  store_le(bytes, node.size, 5);
  bytes[5] = node.depth;
  store_le(bytes + 6, node.attr, 2);
  store_le(bytes + 8, node.creation_time, 8);
  store_le(bytes + 16, node.write_time, 8);
  store_le(bytes + 24, node.extra, 8);
}

void put_suffix(char16_t* name, std::uint32_t at, const char16_t* suffix) {
  std::uint32_t i = 0;
  do {
    name[at + i] = suffix[i];
  } while (suffix[i++] != 0);
}

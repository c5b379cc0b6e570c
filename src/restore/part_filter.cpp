#include "restore/part_filter.h"

#include "report/name_text.h"

// Each name as read_name_text reads it back, one after the other.
bool PartFilter::add(const char16_t* text) {
  if (count_ == kOnlyPaths) return false;
  const int path = count_;
  std::uint32_t at = used_;
  int names = 0;
  for (const char16_t* p = text;; ++p) {
    std::uint32_t length = 0;
    if (names == kDepthLevels) return false;
    p = read_name_text(p, units_ + at, kNameUnits - at, &length);
    if (p == nullptr) return false;
    start_of_[path][names++] = at;
    at += length + 1;
    if (*p == 0) break;
  }
  first_[path] = used_;
  names_[path] = names;
  used_ = at;
  all_ |= std::uint64_t{1} << path;
  ++count_;
  return true;
}

bool PartFilter::component_is(int path, int index, const char16_t* name) const {
  const char16_t* c = units_ + start_of_[path][index];
  while (*c != 0 && *c == *name) ++c, ++name;
  return *c == 0 && *name == 0;
}

// The levels a rise passes over hold the path of the record before it;
// those above a first record below the top hold the empty path, which
// every path begins with.
bool PartFilter::take(const FsNode& node, const char16_t* name) {
  const int depth = node.depth;
  if (skipped_depth_ >= depth) skipped_depth_ = -1;
  if (inside_depth_ >= 0 && depth > inside_depth_) return true;
  inside_depth_ = -1;
  for (int k = previous_depth_ + 1; k < depth; ++k) {
    names_at_[k] = previous_depth_ < 0 ? 0 : names_at_[previous_depth_];
    on_way_[k] = previous_depth_ < 0 ? all_ : on_way_[previous_depth_];
  }
  previous_depth_ = depth;
  const int index = depth == 0 ? 0 : names_at_[depth - 1];
  std::uint64_t next = 0;
  bool selected = false;
  for (std::uint64_t paths = depth == 0 ? all_ : on_way_[depth - 1]; paths != 0; paths &= paths - 1) {
    const int path = __builtin_ctzll(paths);
    if (names_[path] <= index || !component_is(path, index, name)) continue;
    if (names_[path] == index + 1) {
      selected = true;
      found_ |= std::uint64_t{1} << path;
    } else {
      next |= std::uint64_t{1} << path;
    }
  }
  names_at_[depth] = static_cast<std::uint16_t>(index + 1);
  on_way_[depth] = next;
  if (selected) {
    inside_depth_ = depth;
    return true;
  }
  // A file on the way is not restored, but what --list shows below it is
  // still matched.
  if (next != 0) return node.is_directory();
  if (node.is_directory()) skipped_depth_ = depth;
  return false;
}

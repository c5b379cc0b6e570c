// An entry's path inside the dump as text, the way --list writes it: the
// names of the directories on the way and its own, each as
// append_name_text writes an entry name, joined by kPathSeparator. One
// builder for every place that names an entry by its path: the listing, the
// check, the comparison and the restore's messages and report.
#pragma once

#include <cstdint>

#include "dump/fs_node.h"
#include "report/entry_lines.h"

// Longest path text kept, in bytes; a longer one is cut and shown with
// kCutMark behind it.
constexpr std::uint32_t kPathTextBytes = 8192;
constexpr char kCutMark[] = "\\...";
// The components of a path are joined by this on every system: "\\" only
// ever starts an escape (see name_text.h), so no name can pass for a path.
constexpr char kPathSeparator = '/';

class PathText {
 public:
  // The record at depth: the path of the record last placed one level up,
  // a separator and its name; with no name (a record past the end of the
  // names), the path one level up alone.
  void place(int depth, const char16_t* name);
  // The next record of a dump read in order, at depth: the levels a rise
  // passes over, and those above a first record below the top, take the
  // path one level up (they add nothing to the path), then place().
  void follow(int depth, const char16_t* name);
  // A name inside a directory whose path is given whole (a writer's file,
  // whose directory's path came with its batch).
  void place_in(const EntryText& directory, const char16_t* name);

  // Tells apart the directories placed at depth - 1: equal while the
  // entries at depth have the same directory path.
  std::uint64_t directory_serial(int depth) const { return depth == 0 ? 0 : serial_[depth - 1]; }

  // The path last placed.
  EntryText last() const { return EntryText{text_, last_length_, last_cut_ ? kCutMark : ""}; }
  // The path of the record last placed at depth - 1, which holds the
  // entries at depth (empty for depth 0). Valid until a record at that
  // depth or above is placed.
  EntryText directory(int depth) const {
    if (depth == 0) return EntryText{text_, 0, ""};
    return EntryText{text_, end_[depth - 1], cut_[depth - 1] ? kCutMark : ""};
  }

 private:
  // The levels from..to-1 take the path of level from-1 (the empty path
  // for from == 0).
  void pass_levels(int from, int to);
  void append(std::uint32_t length, bool cut, const char16_t* name);

  char text_[kPathTextBytes];
  std::uint32_t last_length_ = 0;
  bool last_cut_ = false;
  // Per depth: where the path of the record last placed there ends, and
  // whether it was cut.
  std::uint32_t end_[kDepthLevels] = {};
  bool cut_[kDepthLevels] = {};
  std::uint64_t serial_[kDepthLevels] = {};
  std::uint64_t placed_ = 0;
  int previous_depth_ = -1;  // of the record last followed; -1 before the first
};

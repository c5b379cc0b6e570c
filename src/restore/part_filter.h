// --only: which records of a dump a restore takes. Each path is given as
// --list writes it ("/" between names, the same escapes) and selects the
// entry at it, everything below it, and the directories on the way to it.
// A record's path is the one --list gives it: the path of the record last
// seen one level up, and its name. After a rise of several levels the
// levels passed over add nothing; a first record below the top has its name
// alone; a record below a file goes into the file's path.
// Paths are matched a level at a time: each depth keeps how many names the
// path of its last record has and the set of paths that begin with those
// names, so a record costs one comparison per path still in play, none
// below a directory that no path goes through, and nothing carries over
// from one record's path to another's.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"

// The most --only paths one run takes.
constexpr int kOnlyPaths = 64;

class PartFilter {
 public:
  // Takes one path as the user typed it; false when it is not a path of
  // --list's form (read_name_text: a bad escape, an empty name) or there is
  // no room.
  bool add(const char16_t* text);
  int count() const { return count_; }
  // The record at depth lies inside a directory that is not restored:
  // nothing about it needs its name.
  bool below_skipped(int depth) const { return skipped_depth_ >= 0 && depth > skipped_depth_; }
  // Whether the record with this name at its depth is restored: selected
  // itself, inside a selected entry, or a directory on the way to one.
  // Records are given in dump order; those below_skipped() may be left out.
  bool take(const FsNode& node, const char16_t* name);
  // Whether path i matched an entry of the dump, and every path did: kept
  // for the caller to tell the paths that matched nothing after the run.
  bool found(int i) const { return (found_ >> i) & 1u; }
  bool found_all() const { return found_ == all_; }

 private:
  static_assert(kOnlyPaths <= 64, "the sets of paths are bits of one 64-bit word");
  bool component_is(int path, int index, const char16_t* name) const;

  int count_ = 0;
  // The decoded names of every path, one after the other, each terminated;
  // a path's names start at first_[path], and it has names_[path] of them.
  char16_t units_[kNameUnits];
  std::uint32_t used_ = 0;
  std::uint32_t first_[kOnlyPaths] = {};
  int names_[kOnlyPaths] = {};
  std::uint32_t start_of_[kOnlyPaths][kDepthLevels] = {};
  std::uint64_t all_ = 0;  // every path added
  // For the record last seen at each depth: how many names its path has,
  // and the paths whose first names are those.
  std::uint16_t names_at_[kDepthLevels] = {};
  std::uint64_t on_way_[kDepthLevels] = {};
  std::uint64_t found_ = 0;
  int inside_depth_ = -1;  // a selected entry at this depth: all below it is taken
  int skipped_depth_ = -1;
  int previous_depth_ = -1;  // -1 before the first record
};

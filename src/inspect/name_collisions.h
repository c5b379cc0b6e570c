// Names that meet in one directory of a dump: the same name twice, or two
// names that differ only in case, which Windows takes for one entry. The
// walk is in pre-order, so the directories open at any moment are those on
// the path to the current entry: each keeps the names seen in it so far,
// and forgets them when the walk leaves it.
//
// Names are kept as two 64-bit hashes, of the name as it is and of its
// upper case, in one fixed pool shared by the open directories (a stack:
// only the deepest takes new names), with an open-addressing table over
// it. Two different names could share both hashes and be told as a
// collision; nothing that collides is ever missed, as long as the open
// directories hold at most kCollisionNames names together. Past that, the
// names of the directory being read are no longer kept, and it is told once.
//
// Case is compared the simple way: each UTF-16 unit of the BMP upper-cased
// on its own by the Unicode mapping, as Windows file systems compare names
// with their upper-case table. The tables of Windows versions differ in a
// few characters; the mapping here is the Unicode one, so it may find a
// pair a given Windows keeps apart, or, for characters added to Unicode
// since, miss one.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"

// 131072 names, 6 MiB with the table. Sized from the name buffer, so that a
// fuzzing build, which shrinks that, reaches this cap with short inputs too.
constexpr std::uint32_t kCollisionNames = 4 * kNameUnits;

enum class Collision {
  kNone,
  kSameName,    // an earlier entry of the directory has this very name
  kCaseOnly,    // an earlier entry's name differs from this one only in case
  kNotChecked,  // the names of this directory are no longer kept (told once a directory)
};

class NameCollisions {
 public:
  // Leaves the directories below `depth` and takes the name of an entry at
  // `depth`, inside the directory last entered at depth - 1.
  Collision add(int depth, const char16_t* name);
  // Leaves the directories below `depth` without taking a name.
  void leave_below(int depth);
  // Whether the directory open at `depth` took this name: the very name,
  // or with `fold`, one that differs from it only in case.
  bool holds(int depth, const char16_t* name, bool fold) const;

 private:
  struct Key {
    std::uint64_t folded = 0;  // never 0 for a name: 0 marks a free slot
    std::uint64_t exact = 0;
  };
  static constexpr std::uint32_t kSlots = 2 * kCollisionNames;

  Key key_of(int depth, const char16_t* name) const;
  std::uint32_t home(const Key& key) const { return static_cast<std::uint32_t>(key.folded) & (kSlots - 1); }
  void remove(const Key& key);

  // The names of the open directories, deepest last: those of the entries
  // at depth d start at start_[d].
  Key names_[kCollisionNames];
  std::uint32_t count_ = 0;
  std::uint32_t start_[kDepthLevels] = {};
  bool full_told_[kDepthLevels] = {};
  // Each directory entered gets a number of its own.
  std::uint64_t directory_[kDepthLevels] = {};
  std::uint64_t directories_ = 0;
  int deepest_ = -1;  // the deepest depth whose directory is open
  Key slots_[kSlots];
};

// The entries this run made in directories that were there before it (the
// target, and existing directories it reuses), so a later entry of the same
// name (the same name twice, or a name that differs only by case where the
// file system folds case) is refused rather than allowed to replace one.
// Whether an existing entry is one of them is decided by what the system
// says it is (its identity), never by comparing names: the file system's
// own rules decide which names are the same. In a directory the run made
// itself, every entry is the run's, so nothing needs keeping there.
//
// The entries form a stack in the order of the walk: those of the
// directories still open along the current path. Memory is bounded by the
// capacity; once it is full, every existing name in a directory that lost
// an entry is taken for the run's own, so nothing is replaced unchecked.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "platform/platform.h"

class MadeEntries {
 public:
  MadeEntries() {}  // the stack is not cleared: only entries below count_ are read

  void add(int depth, const FileIdentity& id);
  // An entry made at depth whose identity could not be had.
  void lose(int depth) {
    if (depth < overflow_depth_) overflow_depth_ = depth;
  }
  // True when id is an entry this run made at depth, or when the entries of
  // that depth no longer all fit.
  bool contains(int depth, const FileIdentity& id) const;
  // Forgets the entries deeper than depth: the walk has left them.
  void leave_below(int depth);

 private:
  struct Entry {
    std::uint64_t key;  // the identity, folded into 64 bits
    std::uint8_t depth;
  };
  static std::uint64_t key_of(const FileIdentity& id);

  std::uint32_t count_ = 0;
  // The shallowest depth that lost an entry (a full stack, or an identity
  // that could not be had); kDepthLevels when none did.
  int overflow_depth_ = kDepthLevels;
  Entry entries_[kMadeEntriesCapacity];
};

// The entries one job has reached in the directories along its walk, by
// identity: for the restore, those it made in directories that were there
// before it (the target, and existing directories it reuses), so a later
// entry of the same name (the same name twice, or a name the file system
// takes for it: case, normalization) is refused rather than allowed to
// replace one; --compare tells the same refusal from the same fact.
// Whether an existing entry is one of them is decided by what the system
// says it is (its identity), never by comparing names: the file system's
// own rules decide which names are the same. In a directory the restore made
// itself, every entry is the run's, so nothing needs keeping there.
//
// The entries form a stack in the order of the walk: those of the
// directories still open along the current path, with a hash index over
// them, so a look-up costs the same in a directory of a million entries
// (--resume asks once for every file it keeps). Memory is bounded by the
// capacity, taken when the run starts; once it is full, every existing name
// in a directory that lost an entry is taken for the run's own, so nothing
// is replaced unchecked.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"
#include "dump/fs_node.h"
#include "platform/platform.h"

class MadeEntries {
 public:
  MadeEntries() = default;
  ~MadeEntries();
  MadeEntries(const MadeEntries&) = delete;
  MadeEntries& operator=(const MadeEntries&) = delete;

  // Takes the memory for the stack and its index (the first add() does it
  // otherwise); false when it cannot be had: every entry then counts as
  // lost.
  bool reserve();
  void add(int depth, const FileIdentity& id);
  // An entry made at depth whose identity could not be had.
  void lose(int depth) {
    if (depth < overflow_depth_) overflow_depth_ = depth;
  }
  // True when id is an entry this run made at depth, or when the entries of
  // that depth no longer all fit.
  bool contains(int depth, const FileIdentity& id) const;
  // Whether the entries of that depth no longer all fit.
  bool lost(int depth) const { return overflow_depth_ <= depth; }
  // Forgets the entries deeper than depth: the walk has left them.
  void leave_below(int depth);

 private:
  struct Entry {
    std::uint64_t key;  // the identity, folded into 64 bits
    std::uint8_t depth;
  };
  static std::uint64_t key_of(const FileIdentity& id);
  // The index: open addressing with linear probing, at most half full. It
  // uses the first slots of its memory and doubles as the stack grows, up to
  // twice the capacity, so its pages are touched only as far as the most
  // entries held at once (a slot holds an entry's place plus one, 0 when
  // empty).
  static constexpr std::uint32_t kSlots = 2 * kMadeEntriesCapacity;
  static constexpr std::uint32_t kFirstSlots = kSlots < 4096 ? kSlots : 4096;
  static_assert((kSlots & (kSlots - 1)) == 0 && (kFirstSlots & (kFirstSlots - 1)) == 0,
                "the index is masked, so its sizes are powers of two");
  std::uint32_t home_of(std::uint64_t key) const {
    return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }
  void insert(std::uint32_t place);
  // Doubles the part of the index in use and puts every entry in it again.
  void grow();
  // Takes the newest entry off the stack and out of the index.
  void pop();

  std::uint32_t count_ = 0;
  std::uint32_t mask_ = kFirstSlots - 1;
  // The shallowest depth that lost an entry (a full stack, or an identity
  // that could not be had); kDepthLevels when none did.
  int overflow_depth_ = kDepthLevels;
  Entry* entries_ = nullptr;
  std::uint32_t* slots_ = nullptr;
};

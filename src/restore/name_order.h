// Which creations in one directory must keep the dump's order: those whose
// names the file system may take for one. Pure bookkeeping, on the reading
// thread only; the writers wait by the lane and place it hands out.
//
// Each name has a key (name_key) that every name the directory may take for
// it shares, and a lane by its key. A table of keys tells whether a name of
// that key may have been handed out before; only then can a creation meet an
// earlier one, and its lane goes in order. From then on each creation of
// that lane gets a ticket, its place among the lane's creations handed out,
// and waits until that many of the lane are created. A name met first in a
// lane not in order gets kNoTurn and waits for nothing.
//
// Why a lane's count is enough: every creation of a lane in order waits for
// its own count, so none of the lane can be created before all handed out
// ahead of it are; those created are exactly the earlier ones, whether they
// waited or not.
#pragma once

#include <cstdint>

// Lanes of creations per directory, and the bits of its table of keys.
constexpr std::uint32_t kLanes = 64;
constexpr std::uint32_t kKeyBits = 4096;
// The ticket of a creation that waits for none.
constexpr std::uint32_t kNoTurn = ~std::uint32_t{0};

// A name's key in a directory. Where names are compared byte for byte, the
// name itself; where they may be folded, only its ASCII characters other
// than letters, which no case folding or normalization makes or changes.
std::uint32_t name_key(const char16_t* name, bool folds);

// Where a creation goes: its lane, and its ticket (kNoTurn: none).
struct NameTurn {
  std::uint32_t lane = 0;
  std::uint32_t ticket = kNoTurn;
};

class NameOrder {
 public:
  // A new directory, whose names fold or not.
  void reset(bool folds);
  // A creation of this name is handed out.
  NameTurn issue(const char16_t* name);
  // Before an entry of this name is made by the reading thread itself:
  // whether it may meet a creation handed out, and if so the lane and how
  // many of it must be created first.
  bool may_meet(const char16_t* name, NameTurn* wait) const;

 private:
  struct KeyPlace {
    std::uint32_t lane;
    std::uint32_t word;
    std::uint64_t mask;
  };
  KeyPlace place_of(const char16_t* name) const;

  bool folds_ = true;
  std::uint64_t ordered_ = 0;               // lanes in order, as bits
  std::uint32_t issued_[kLanes] = {};       // creations handed out, by lane
  std::uint64_t keys_[kKeyBits / 64] = {};  // keys handed out, as bits
};

#include "restore/name_order.h"

// FNV-1a over the name's units, or where names fold over its ASCII
// characters that are not letters, in order. Names a file system takes for
// one keep those: case folding changes letters only, and canonical
// decomposition makes ASCII letters out of other characters but no digit or
// punctuation, except ';' (from U+037E) and '`' (from U+1FEF), which are
// left out.
std::uint32_t name_key(const char16_t* name, bool folds) {
  std::uint32_t hash = 2166136261u;
  for (const char16_t* p = name; *p != 0; ++p) {
    const char16_t c = *p;
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    if (!folds || (c < 0x80 && !letter && c != u';' && c != u'`')) hash = (hash ^ c) * 16777619u;
  }
  return hash;
}

void NameOrder::reset(bool folds) {
  folds_ = folds;
  ordered_ = 0;
  for (std::uint32_t& n : issued_) n = 0;
  for (std::uint64_t& word : keys_) word = 0;
}

NameOrder::KeyPlace NameOrder::place_of(const char16_t* name) const {
  const std::uint32_t key = name_key(name, folds_);
  const std::uint32_t bit = (key / kLanes) % kKeyBits;
  return KeyPlace{key % kLanes, bit / 64, std::uint64_t{1} << (bit % 64)};
}

NameTurn NameOrder::issue(const char16_t* name) {
  const KeyPlace at = place_of(name);
  if ((keys_[at.word] & at.mask) != 0) ordered_ |= std::uint64_t{1} << at.lane;
  keys_[at.word] |= at.mask;
  NameTurn turn;
  turn.lane = at.lane;
  if ((ordered_ >> at.lane & 1) != 0) turn.ticket = issued_[at.lane];
  ++issued_[at.lane];
  return turn;
}

bool NameOrder::may_meet(const char16_t* name, NameTurn* wait) const {
  const KeyPlace at = place_of(name);
  if ((keys_[at.word] & at.mask) == 0) return false;
  wait->lane = at.lane;
  wait->ticket = issued_[at.lane];
  return true;
}

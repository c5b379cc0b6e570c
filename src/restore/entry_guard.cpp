#include "restore/entry_guard.h"

bool EntryGuard::protect(Handle h) {
  FileIdentity id;
  if (own_count_ == kMaxOwnFiles || !platform_.identity(h, &id)) return false;
  own_[own_count_++] = id;
  return true;
}

bool EntryGuard::is_own(const FileIdentity& id) const {
  for (int i = 0; i < own_count_; ++i) {
    if (own_[i] == id) return true;
  }
  return false;
}

bool EntryGuard::refuse_invalid(const char16_t* name) {
  if (is_valid_entry_name(name, platform_.name_rules())) return false;
  platform_.refuse(Refusal::kInvalidName);
  return true;
}

// A new name costs one call. Otherwise the name is looked at once without
// following it, and whatever is there is removed by name inside dir: if it
// was swapped meanwhile, the removal still only ever takes a name out of
// dir, and the exclusive creation after it fails rather than open anything
// that appeared in between.
Handle EntryGuard::create_file(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  const Handle file = platform_.create_file(dir, name);
  if (file.valid() || !platform_.failed_because_exists()) return file;
  if (!make_room(dir, name)) return Handle::none();
  return platform_.create_file(dir, name);
}

bool EntryGuard::make_room(Handle dir, const char16_t* name) {
  EntryInfo info;
  if (!platform_.inspect(dir, name, &info)) return false;
  switch (info.kind) {
    case EntryKind::kAbsent:
      return true;  // gone since the first attempt
    case EntryKind::kDirectory:
      platform_.refuse(Refusal::kIsDirectory);
      return false;
    case EntryKind::kUnverified:
      platform_.refuse(Refusal::kUnverified);
      return false;
    case EntryKind::kFile:
    case EntryKind::kLink:
    case EntryKind::kOther:
      break;
  }
  if (is_own(info.identity)) {
    platform_.refuse(Refusal::kOwnFile);
    return false;
  }
  if (info.replace_refused) {
    platform_.refuse(Refusal::kAccessDenied);
    return false;
  }
  return platform_.remove_file(dir, name);
}

Handle EntryGuard::make_dir(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  return platform_.make_dir(dir, name);
}

Handle EntryGuard::open_dir(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  return platform_.open_dir(dir, name);
}

#include "restore/entry_guard.h"

namespace {

// The attribute bits for which Windows keeps a file from being replaced.
constexpr std::uint32_t kKeptAttributes = 0x07;  // read-only, hidden, system

}  // namespace

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

bool EntryGuard::refuse(Refusal why) {
  failure_ = Failure::refused(why);
  return false;
}

bool EntryGuard::system_failed() {
  failure_ = Failure::of_last_call(platform_);
  return false;
}

Handle EntryGuard::failed_handle(Handle h) {
  if (!h.valid()) {
    system_failed();
    failure_.name_exists = platform_.failed_because_exists();
  }
  return h;
}

bool EntryGuard::refuse_invalid(const char16_t* name) {
  if (is_valid_entry_name(name, platform_.name_rules())) return false;
  refuse(Refusal::kInvalidName);
  return true;
}

// A new name costs one call. Otherwise the name is looked at once without
// following it, and whatever is there is removed by name inside dir: if it
// was swapped meanwhile, the removal still only ever takes a name out of
// dir, and the exclusive creation after it fails rather than open anything
// that appeared in between.
Handle EntryGuard::create_file(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  const Handle file = failed_handle(platform_.create_file(dir, name));
  if (file.valid() || !failure_.name_exists) return file;
  if (!make_room(dir, name)) return Handle::none();
  return failed_handle(platform_.create_file(dir, name));
}

bool EntryGuard::make_room(Handle dir, const char16_t* name) {
  EntryInfo info;
  if (!platform_.inspect(dir, name, &info)) return system_failed();
  // A link is removed as itself, whatever the system shows of it.
  if (info.kind != EntryKind::kLink && info.kind != EntryKind::kAbsent && !info.shown_as_itself) {
    return refuse(Refusal::kNotShown);
  }
  switch (info.kind) {
    case EntryKind::kAbsent:
      return true;  // gone since the first attempt
    case EntryKind::kDirectory:
      return refuse(Refusal::kIsDirectory);
    case EntryKind::kFile:
    case EntryKind::kLink:
    case EntryKind::kOther:
      break;
  }
  if (is_own(info.identity)) return refuse(Refusal::kOwnFile);
  // Windows does not replace such a file (CREATE_ALWAYS refuses it too).
  if (info.kind == EntryKind::kFile && platform_.name_rules() == NameRules::kWindows &&
      (info.attributes & kKeptAttributes) != 0) {
    return refuse(Refusal::kKeptBySystem);
  }
  return platform_.remove_file(dir, name) || system_failed();
}

Handle EntryGuard::make_dir(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  return failed_handle(platform_.make_dir(dir, name));
}

Handle EntryGuard::open_dir(Handle dir, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  const Handle opened = failed_handle(platform_.open_dir(dir, name));
  if (!opened.valid() || platform_.shows_entry(dir, name, opened)) return opened;
  platform_.close(opened);
  refuse(Refusal::kNotShown);
  return Handle::none();
}

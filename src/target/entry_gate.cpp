#include "target/entry_gate.h"

#include "platform/entry_name.h"
#include "target/record_match.h"

bool EntryGate::refuses(const char16_t* name, Failure* why) {
  if (is_valid_entry_name(name, platform_.name_rules())) return false;
  *why = Failure::refused(Refusal::kInvalidName);
  return true;
}

Handle EntryGate::open_dir(Handle dir, const char16_t* name, Failure* why) {
  if (refuses(name, why)) return Handle::none();
  return shown_as_itself(dir, name, platform_.open_dir(dir, name), why);
}

Handle EntryGate::open_file(Handle dir, const char16_t* name, Failure* why) {
  if (refuses(name, why)) return Handle::none();
  return shown_as_itself(dir, name, platform_.open_file_read(dir, name), why);
}

Handle EntryGate::shown_as_itself(Handle dir, const char16_t* name, Handle opened, Failure* why) {
  if (!opened.valid()) {
    *why = Failure::of_last_call(platform_);
    return opened;
  }
  const Shown shown = platform_.shows_entry(dir, name, opened);
  if (shown == Shown::kItself) return opened;
  platform_.close(opened);
  *why = Failure::refused(Refusal::kNotShown);
  why->cannot_tell = shown == Shown::kUnknown;
  return Handle::none();
}

// One look at the name decides for most records: a file whose word is the
// plain one (or told whole by the look) needs no open.
bool EntryGate::holds_restored(Handle dir, const char16_t* name, const FsNode& node, FileIdentity* id) {
  Failure why;
  if (refuses(name, &why)) return false;
  EntryInfo info;
  if (!platform_.inspect(dir, name, &info)) return false;
  if (info.kind != EntryKind::kFile || !info.shown_as_itself || info.links != 1) return false;
  if (record_differences(node, EntryState::of(info)) != 0) return false;
  if (word_needs_reading(node, info.attributes_told) && !word_matches(dir, name, node, info.identity)) return false;
  *id = info.identity;
  return true;
}

// The file opened must be the one looked at: one swapped in between is not
// kept.
bool EntryGate::word_matches(Handle dir, const char16_t* name, const FsNode& node, const FileIdentity& id) {
  Failure why;
  const Handle file = open_file(dir, name, &why);
  if (!file.valid()) return false;
  FileIdentity opened;
  OpenState disk;
  const bool same = platform_.identity(file, &opened) && opened == id && platform_.describe_open(file, &disk) &&
                    !disk.directory && record_differences(node, EntryState::of(disk)) == 0;
  platform_.close(file);
  return same;
}

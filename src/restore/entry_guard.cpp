#include "restore/entry_guard.h"

#include "platform/file_attributes.h"

namespace {

// The attribute bits for which Windows keeps a file from being replaced.
constexpr std::uint32_t kKeptAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem;

}  // namespace

bool EntryGuard::protect(Handle h) {
  FileIdentity id;
  if (own_count_ == kMaxOwnFiles) return false;
  if (!platform_.identity(h, &id)) return !platform_.reads_at_offsets(h);
  own_[own_count_++] = id;
  return true;
}

bool EntryGuard::keeps(const EntryPlace& at, const char16_t* name, const FsNode& node) {
  FileIdentity id;
  // A directory this run made holds nothing of an earlier run.
  if (at.made_by_run || !gate_.holds_restored(at.dir, name, node, &id)) return false;
  if (made_by_run(at, id) || is_own(id)) return false;
  note_made(at, id);
  return true;
}

bool EntryGuard::is_own(const FileIdentity& id) const {
  for (int i = 0; i < own_count_; ++i) {
    if (own_[i] == id) return true;
  }
  return false;
}

// In a directory the run made, whatever has a name is the run's.
bool EntryGuard::made_by_run(const EntryPlace& at, const FileIdentity& id) const {
  return at.tracked && (at.made_by_run || made_.contains(at.depth, id));
}

// Without its identity the entry cannot be told apart later: one that
// cannot be had counts as lost, so the depth's existing names count as the
// run's.
void EntryGuard::note_made(const EntryPlace& at, Handle h) {
  FileIdentity id;
  if (!at.tracked || at.made_by_run) return;
  if (!platform_.identity(h, &id)) return made_.lose(at.depth);
  made_.add(at.depth, id);
}

void EntryGuard::note_made(const EntryPlace& at, const FileIdentity& id) {
  if (at.tracked && !at.made_by_run) made_.add(at.depth, id);
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

bool EntryGuard::refuse_invalid(const char16_t* name) { return gate_.refuses(name, &failure_); }

// A new name costs one call. Otherwise the name is looked at once without
// following it, and whatever is there is removed by name inside dir: if it
// was swapped meanwhile, the removal still only ever takes a name out of
// dir, and the exclusive creation after it fails rather than open anything
// that appeared in between.
Handle create_in_made_dir(Platform& platform, Handle dir, const char16_t* name, Failure* failure) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Handle file = platform.create_file(dir, name);
    if (file.valid()) return file;
    *failure = Failure::of_last_call(platform);
    if (!platform.failed_because_exists()) return file;
    failure->name_exists = true;
    if (attempt == 1) return file;
    EntryInfo info;
    if (!platform.inspect(dir, name, &info)) {
      *failure = Failure::of_last_call(platform);
      return Handle::none();
    }
    if (info.kind == EntryKind::kAbsent) continue;  // gone since the first attempt
    // A link is removed as itself, whatever the system shows of it.
    *failure = Failure::refused(info.kind != EntryKind::kLink && !info.shown_as_itself ? Refusal::kNotShown
                                                                                        : Refusal::kMadeThisRun);
    return Handle::none();
  }
  return Handle::none();
}

Handle EntryGuard::create_file(const EntryPlace& at, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  if (at.tracked && at.made_by_run) return create_in_made_dir(platform_, at.dir, name, &failure_);
  Handle file = failed_handle(platform_.create_file(at.dir, name));
  if (!file.valid() && failure_.name_exists) {
    if (!make_room(at, name)) return Handle::none();
    file = failed_handle(platform_.create_file(at.dir, name));
  }
  if (file.valid()) note_made(at, file);
  return file;
}

bool EntryGuard::make_room(const EntryPlace& at, const char16_t* name) {
  EntryInfo info;
  if (!platform_.inspect(at.dir, name, &info)) return system_failed();
  if (info.kind == EntryKind::kAbsent) return true;  // gone since the first attempt
  return may_replace(at, info) && (platform_.remove_file(at.dir, name) || system_failed());
}

bool EntryGuard::may_replace(const EntryPlace& at, const EntryInfo& info) {
  // A link is replaced as itself, whatever the system shows of it.
  if (info.kind != EntryKind::kLink && !info.shown_as_itself) return refuse(Refusal::kNotShown);
  if (made_by_run(at, info.identity)) return refuse(Refusal::kMadeThisRun);
  if (info.kind == EntryKind::kDirectory) return refuse(Refusal::kIsDirectory);
  if (is_own(info.identity)) return refuse(Refusal::kOwnFile);
  // Windows does not replace such a file (CREATE_ALWAYS refuses it too).
  if (info.kind == EntryKind::kFile && platform_.name_rules() == NameRules::kWindows &&
      (info.attributes & kKeptAttributes) != 0) {
    return refuse(Refusal::kKeptBySystem);
  }
  return true;
}

// Whatever takes the name between the look and the rename is replaced only
// as a name: the rename never writes through it, and fails on a directory.
bool EntryGuard::put_in_place(Handle dir, const char16_t* from, const char16_t* to) {
  EntryInfo info;
  if (!platform_.inspect(dir, to, &info)) return system_failed();
  if (info.kind != EntryKind::kAbsent && !may_replace(EntryPlace::own(dir), info)) return false;
  return platform_.rename_file(dir, from, to) || system_failed();
}

// The new directory's handle must show the directory itself, as an opened
// one must: where the system follows a link swapped in after the creation,
// the handle is not the run's to restore into.
Handle EntryGuard::make_dir(const EntryPlace& at, const char16_t* name) {
  if (refuse_invalid(name)) return Handle::none();
  bool made = false;
  const Handle dir = failed_handle(platform_.make_dir(at.dir, name, &made));
  failure_.dir_exists = made && !dir.valid();
  if (made) note_made(at, dir);
  // Where the system cannot tell, the creation that just succeeded vouches
  // for the handle.
  if (!dir.valid() || platform_.shows_entry(at.dir, name, dir) != Shown::kOther) return dir;
  platform_.close(dir);
  refuse(Refusal::kNotShown);
  failure_.dir_exists = true;
  return Handle::none();
}

Handle EntryGuard::reuse_dir(const EntryPlace& at, const char16_t* name) {
  const Failure exists = failure_;
  const Handle dir = open_dir(at.dir, name);
  FileIdentity id;
  if (dir.valid()) {
    if (!platform_.identity(dir, &id)) {
      system_failed();
      failure_.dir_exists = true;
      platform_.close(dir);
      return Handle::none();
    }
    // Reused once: a later record of its name is refused, as for one made.
    if (!made_by_run(at, id)) {
      note_made(at, id);
      return dir;
    }
    platform_.close(dir);
    refuse(Refusal::kMadeThisRun);
    return Handle::none();
  }
  if (failure_.refusal != Refusal::kNone) return Handle::none();
  EntryInfo info;
  if (!platform_.inspect(at.dir, name, &info)) info.kind = EntryKind::kAbsent;
  if (info.kind == EntryKind::kDirectory) {
    failure_.dir_exists = true;  // there, but it cannot be opened
  } else if (info.kind != EntryKind::kAbsent && made_by_run(at, info.identity)) {
    refuse(Refusal::kMadeThisRun);
  } else {
    failure_ = exists;
  }
  return Handle::none();
}

Handle EntryGuard::open_dir(Handle dir, const char16_t* name) {
  failure_ = Failure{};
  const Handle opened = gate_.open_dir(dir, name, &failure_);
  if (!opened.valid() && failure_.refusal == Refusal::kNone) failure_.name_exists = platform_.failed_because_exists();
  return opened;
}

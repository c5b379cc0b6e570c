// The restore's rules for touching the target, kept in one place above the
// platform: a name that is not a plain entry is refused; a link is never
// followed or written through; an entry the system cannot show as itself is
// neither entered nor replaced; an entry this run restored is never
// replaced by a later entry of the run (the same name twice, or names the
// file system takes for one); a file replaces whatever else non-directory
// had its name by removing it first, so a link or a file with other names
// never carries a body out of the target, unless the system keeps that
// file; and none of the run's own open files (the dump's streams, the log)
// is ever replaced.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "report/failure.h"
#include "target/entry_gate.h"
#include "target/made_entries.h"

// The three streams, the log and the report.
constexpr int kMaxOwnFiles = 5;

// Where an entry is made: the open directory, the depth of its entries, and
// whether this run made that directory. Entries of the dump are tracked, so
// none replaces another; the run's own log is not one of them.
struct EntryPlace {
  Handle dir;
  int depth = 0;
  bool made_by_run = false;
  bool tracked = true;

  // A file of the run's own in dir, such as the log.
  static EntryPlace own(Handle dir) { return EntryPlace{dir, 0, false, false}; }
};

// Creates a file by bare name in a directory this run made, where every
// name is the run's: an existing one is refused (never replaced), one gone
// meanwhile is tried again. Keeps no state, so writers call it too; none on
// failure, with *failure telling why.
Handle create_in_made_dir(Platform& platform, Handle dir, const char16_t* name, Failure* failure);

class EntryGuard {
 public:
  explicit EntryGuard(Platform& platform) : platform_(platform), gate_(platform) {}

  // Takes the memory for the entries made in directories that were there
  // before the run; false when it cannot be had.
  bool reserve() { return made_.reserve(); }

  // Registers one of the run's own open files, so no entry replaces it.
  // False when the file cannot be told apart from others: the run must not
  // start then. A pipe or device needs none: no entry can take its place.
  bool protect(Handle h);

  // Whether a name is not a plain entry name here; failure() then tells why.
  bool refuses(const char16_t* name) { return refuse_invalid(name); }

  // --resume: whether the file a cut run restored from this record is there
  // whole (see EntryGate::holds_restored) and is not the run's own or one
  // this run already restored or kept. A kept file counts as this run's
  // from then on, so no later entry replaces it.
  bool keeps(const EntryPlace& at, const char16_t* name, const FsNode& node);

  // Each of these returns none on failure, and failure() then tells why.
  // Creates a file by bare name, replacing what had the name unless the
  // rules above keep it.
  Handle create_file(const EntryPlace& at, const char16_t* name);
  // Creates a directory and opens it. failure().name_exists tells an
  // existing name; failure().dir_exists a directory made but not opened.
  Handle make_dir(const EntryPlace& at, const char16_t* name);
  // Opens the existing directory that kept make_dir from making one, to
  // restore into it: refused when this run made it. When it is no
  // directory, failure() is make_dir's ("exists"); when it is a directory
  // that cannot be opened, failure().dir_exists is set.
  Handle reuse_dir(const EntryPlace& at, const char16_t* name);
  // Gives the run's own file `from` in dir the name `to` there, replacing
  // what had it under the rules above (a link itself; never a directory or
  // one of the run's own files). False, with failure() telling why, when it
  // keeps its name.
  bool put_in_place(Handle dir, const char16_t* from, const char16_t* to);
  // Opens an existing directory to enter it, never through a link.
  Handle open_dir(Handle dir, const char16_t* name);
  // The walk has left the directories deeper than depth.
  void leave_below(int depth) { made_.leave_below(depth); }

  // Why the last of the operations above failed.
  const Failure& failure() const { return failure_; }

 private:
  bool refuse_invalid(const char16_t* name);
  bool is_own(const FileIdentity& id) const;
  bool made_by_run(const EntryPlace& at, const FileIdentity& id) const;
  // Keeps a new entry's identity where names are not all the run's.
  void note_made(const EntryPlace& at, Handle h);
  void note_made(const EntryPlace& at, const FileIdentity& id);
  // Removes what has the name so a new file can take it; false when it must
  // stay.
  bool make_room(const EntryPlace& at, const char16_t* name);
  // Whether what inspect found at a name may give way; false with the
  // refusal kept.
  bool may_replace(const EntryPlace& at, const EntryInfo& info);
  bool refuse(Refusal why);        // always false
  bool system_failed();            // always false
  Handle failed_handle(Handle h);  // h, with the system's failure kept when it is none

  Platform& platform_;
  EntryGate gate_;
  FileIdentity own_[kMaxOwnFiles];
  int own_count_ = 0;
  Failure failure_;
  MadeEntries made_;
};

// The one way every job reaches an entry of the target: the restore, which
// makes and replaces entries; --resume, which keeps the files a cut run
// finished; --compare, which reads them; and --only, which restores some of
// them. Each asks in the same order:
//
//   1. the name: a name the restore refuses (see entry_name.h) is never
//      opened, looked up or listed, so nothing outside the directory is ever
//      reached through one ("..", "a/b", an absolute name);
//   2. the entry, through the open directory: what it is without following
//      it (kind, names, size, times) and, for an open, whether the handle
//      shows the entry itself and not what a link there leads to;
//   3. only then the job's own question: make, replace, keep or compare.
//
// The restore's further rules for existing entries (what it replaces, what
// is the run's own) build on this in EntryGuard.
#pragma once

#include "dump/fs_node.h"
#include "platform/platform.h"
#include "report/failure.h"

class EntryGate {
 public:
  explicit EntryGate(Platform& platform) : platform_(platform) {}

  // Step 1: whether a name is not a plain entry name here (then *why is
  // set and nothing was asked of the system).
  bool refuses(const char16_t* name, Failure* why);

  // Steps 1 and 2 for an open: the existing directory or file of this name
  // in dir, never through a link, and shown as itself. None on failure, with
  // *why: the refusal (kNotShown for a link the system followed, or, with
  // cannot_tell, where it cannot tell: Wine, deep down) or the system's
  // failure.
  Handle open_dir(Handle dir, const char16_t* name, Failure* why);
  Handle open_file(Handle dir, const char16_t* name, Failure* why);

  // --resume's question, after steps 1 and 2: whether dir holds, by this
  // name, the file a restore of the record leaves: a regular file, shown as
  // itself, with one name, the record's size, last-write time and attribute
  // word (read from the file only where the word holds more than the look
  // at its name tells). *id is its identity when it does.
  bool holds_restored(Handle dir, const char16_t* name, const FsNode& node, FileIdentity* id);

 private:
  // The handle just opened by name in dir, when it shows that entry
  // itself; else it is closed (if open) and none returned, with *why.
  Handle shown_as_itself(Handle dir, const char16_t* name, Handle opened, Failure* why);
  // Opens the file again to read what the look by name could not tell.
  bool word_matches(Handle dir, const char16_t* name, const FsNode& node, const FileIdentity& id);

  Platform& platform_;
};

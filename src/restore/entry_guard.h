// The restore's rules for touching the target, kept in one place above the
// platform: a name that is not a plain entry is refused; a link is never
// followed or written through; a file replaces whatever non-directory had
// its name by removing it first, so a link or a file with other names never
// carries a body out of the target; and none of the run's own open files
// (the dump's streams, the log) is ever replaced.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int kMaxOwnFiles = 4;

class EntryGuard {
 public:
  explicit EntryGuard(Platform& platform) : platform_(platform) {}

  // Registers one of the run's own open files, so no entry replaces it.
  // False when the file cannot be told apart from others: the run must not
  // start then.
  bool protect(Handle h);

  // Creates a file by bare name in dir, replacing what had the name unless
  // it is a directory, one of the run's own files, an entry the system
  // cannot show as itself, or a file the system keeps. None on failure, with
  // the platform's error text telling why.
  Handle create_file(Handle dir, const char16_t* name);
  // Creates a directory and opens it. None on failure; failed_because_exists
  // then tells an existing name from a real failure.
  Handle make_dir(Handle dir, const char16_t* name);
  // Opens an existing directory, never through a link.
  Handle open_dir(Handle dir, const char16_t* name);

 private:
  bool refuse_invalid(const char16_t* name);
  bool is_own(const FileIdentity& id) const;
  // Removes what has the name so a new file can take it; false when it must
  // stay.
  bool make_room(Handle dir, const char16_t* name);

  Platform& platform_;
  FileIdentity own_[kMaxOwnFiles];
  int own_count_ = 0;
};

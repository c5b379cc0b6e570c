// The restore's rules for touching the target, kept in one place above the
// platform: a name that is not a plain entry is refused; a link is never
// followed or written through; an entry the system cannot show as itself is
// neither entered nor replaced; a file replaces whatever non-directory had
// its name by removing it first, so a link or a file with other names never
// carries a body out of the target, unless the system keeps that file; and
// none of the run's own open files (the dump's streams, the log) is ever
// replaced.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "report/failure.h"

constexpr int kMaxOwnFiles = 4;

class EntryGuard {
 public:
  explicit EntryGuard(Platform& platform) : platform_(platform) {}

  // Registers one of the run's own open files, so no entry replaces it.
  // False when the file cannot be told apart from others: the run must not
  // start then.
  bool protect(Handle h);

  // Each of these returns none on failure, and failure() then tells why.
  // Creates a file by bare name in dir, replacing what had the name unless
  // the rules above keep it.
  Handle create_file(Handle dir, const char16_t* name);
  // Creates a directory and opens it; failure().name_exists tells an
  // existing name from a real failure.
  Handle make_dir(Handle dir, const char16_t* name);
  // Opens an existing directory, never through a link.
  Handle open_dir(Handle dir, const char16_t* name);

  // Why the last of the operations above failed.
  const Failure& failure() const { return failure_; }

 private:
  bool refuse_invalid(const char16_t* name);
  bool is_own(const FileIdentity& id) const;
  // Removes what has the name so a new file can take it; false when it must
  // stay.
  bool make_room(Handle dir, const char16_t* name);
  bool refuse(Refusal why);      // always false
  bool system_failed();          // always false
  Handle failed_handle(Handle h);  // h, with the system's failure kept when it is none

  Platform& platform_;
  FileIdentity own_[kMaxOwnFiles];
  int own_count_ = 0;
  Failure failure_;
};

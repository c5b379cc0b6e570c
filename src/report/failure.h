// Why an operation on the target failed: one of the restore's own rules
// refused it, or the system failed it. The log and the inspection word both
// kinds the same way: a refusal in the program's own words, a system
// failure in the system's.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum class Refusal : std::uint8_t {
  kNone,          // not refused: the system failed the operation
  kInvalidName,   // not a plain entry name on this system
  kIsDirectory,   // a file would take the place of a directory
  kOwnFile,       // the name leads to one of the run's own open files
  kNotShown,      // the system cannot show the entry as itself (it follows a link)
  kKeptBySystem,  // the system keeps the file (Windows: read-only, hidden or system)
  kMadeThisRun,   // an entry this run restored has the name
  kNotBelowDirectory,  // the record before it is not a directory, so there is nothing to enter
};

struct Failure {
  Refusal refusal = Refusal::kNone;
  SystemError system;
  // The system failed a creation because the name exists.
  bool name_exists = false;
  // The directory exists (the run made it, or found it) but could not be
  // opened.
  bool dir_exists = false;
  // With kNotShown: the system could not tell what the handle shows (Wine,
  // deep down), rather than showing something else.
  bool cannot_tell = false;

  static Failure refused(Refusal why) {
    Failure f;
    f.refusal = why;
    return f;
  }
  // The failure the platform reported last.
  static Failure of_last_call(Platform& platform) {
    Failure f;
    f.system = platform.last_error();
    return f;
  }
};

// Room for the words of any failure, terminator included.
constexpr std::uint32_t kFailureTextBytes = 32768;

// Writes the words for a failure into out: the restore's own for a refusal,
// the system's text otherwise, with control characters (the line break at
// the end of a Windows message among them) turned into spaces, so a line
// stays one line.
void failure_text(Platform& platform, const Failure& failure, char* out, std::uint32_t capacity);
// Drops the spaces at the end of a text, for a message on the console.
void trim_trailing_spaces(char* text);
// The words for a failure in a message on the console: as failure_text,
// without the spaces a system's closing line break leaves.
void console_failure_text(Platform& platform, const Failure& failure, char* out, std::uint32_t capacity);

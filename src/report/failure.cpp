#include "report/failure.h"

#include <cstring>

namespace {

const char* refusal_words(Refusal why) {
  switch (why) {
    case Refusal::kInvalidName:
      return "the name is refused on this system";
    case Refusal::kIsDirectory:
      return "a directory has this name";
    case Refusal::kOwnFile:
      return "the name leads to one of this run's own files";
    case Refusal::kNotShown:
      return "the entry cannot be shown as itself";
    case Refusal::kKeptBySystem:
      return "the system keeps this file (read-only, hidden or system)";
    case Refusal::kMadeThisRun:
      return "an entry restored in this run has this name";
    case Refusal::kNotBelowDirectory:
      return "the record before it is not a directory";
    case Refusal::kNone:
      break;
  }
  return "";
}

}  // namespace

void failure_text(Platform& platform, const Failure& failure, char* out, std::uint32_t capacity) {
  if (capacity == 0) return;
  if (failure.refusal != Refusal::kNone) {
    const char* words = refusal_words(failure.refusal);
    const std::size_t n = std::strlen(words) < capacity - 1 ? std::strlen(words) : capacity - 1;
    std::memcpy(out, words, n);
    out[n] = 0;
    return;
  }
  platform.error_text(failure.system, out, capacity);
  for (char* p = out; *p != 0; ++p) {
    if (static_cast<unsigned char>(*p) < 0x20) *p = ' ';
  }
}

void trim_trailing_spaces(char* text) {
  char* end = text;
  for (char* p = text; *p != 0; ++p) {
    if (*p != ' ') end = p + 1;
  }
  *end = 0;
}

void console_failure_text(Platform& platform, const Failure& failure, char* out, std::uint32_t capacity) {
  failure_text(platform, failure, out, capacity);
  trim_trailing_spaces(out);
}

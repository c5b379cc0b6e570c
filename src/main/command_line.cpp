#include "main/command_line.h"

// --- parallel restore (-j): to be folded into the new option parser ---
namespace {

constexpr int kMostJobs = 1000;

// A whole decimal number from 1 to kMostJobs, or 0.
int jobs_value(const char16_t* text) {
  int value = 0;
  for (const char16_t* p = text; *p != 0; ++p) {
    if (*p < u'0' || *p > u'9' || p - text >= 4) return 0;
    value = value * 10 + (*p - u'0');
  }
  return value <= kMostJobs ? value : 0;
}

// Takes -j N, --jobs N and --jobs=N from the front of the arguments; returns
// the index of the first other argument, or -1 for a bad number.
int take_jobs(Platform& platform, CommandLine& line) {
  const int count = platform.arg_count();
  int i = 0;
  char16_t text[16];
  while (i < count) {
    const bool separate = platform.arg_is(i, "-j") || platform.arg_is(i, "--jobs");
    if (separate) {
      if (i + 1 >= count || platform.arg_to_name(i + 1, text, 16) == 0) return -1;
      line.jobs = jobs_value(text);
      i += 2;
    } else {
      if (platform.arg_to_name(i, text, 16) == 0) break;
      const char16_t prefix[] = u"--jobs=";
      int k = 0;
      while (prefix[k] != 0 && text[k] == prefix[k]) ++k;
      if (prefix[k] != 0) break;
      line.jobs = jobs_value(text + k);
      i += 1;
    }
    if (line.jobs == 0) return -1;
  }
  return i;
}

}  // namespace

CommandLine parse_command_line(Platform& platform) {
  CommandLine line;
  const int first = take_jobs(platform, line);
  if (first < 0) {
    line.mode = Mode::kUsageError;
    line.problem = "fsrestore: -j/--jobs needs a number of writers from 1 to 1000\n";
    return line;
  }
  const int count = platform.arg_count() - first;
  if (count == 0) return line;
  const char* native = platform.native_help_switch();
  if (platform.arg_is(first, "--help") || platform.arg_is(first, "-h") ||
      (native && platform.arg_is(first, native))) {
    line.mode = Mode::kHelp;
  } else if (platform.arg_is(first, "--version")) {
    line.mode = Mode::kVersion;
  } else if (platform.arg_is(first, "--list") || platform.arg_is(first, "--check")) {
    line.mode = platform.arg_is(first, "--list") ? Mode::kList : Mode::kCheck;
    if (count > 1) line.base_arg = first + 1;
  } else {
    line.base_arg = first;
    if (count > 1) line.target_arg = first + 1;
  }
  return line;
}

// What the command line asks for: one parser for every mode, by the GNU
// conventions. Options may stand before, between and after the operands;
// "--" ends them, so every argument after it is an operand ("--list"
// included). A long option takes its value as "--name=VALUE" or as the next
// argument, a short one as "-nVALUE" or the next argument, and a value is
// never an operand; short options without values may be bundled ("-qh").
// Long names are matched whole, never by a prefix: "--lis" is unknown. A
// lone "-" is an operand.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "restore/part_filter.h"  // kOnlyPaths

// One option a program knows.
struct OptionSpec {
  int id;
  char short_name;        // 0: none
  const char* long_name;  // without the leading "--"; nullptr: none
  bool takes_value;
};

// Where an option's value is: argument `arg` from UTF-16 unit `offset` on.
struct ArgSlice {
  int arg = -1;
  std::uint32_t offset = 0;
};

// Room for the words of a usage error, terminator included.
constexpr std::uint32_t kUsageErrorBytes = 160;

// The id next() gives for an operand; its value is the whole argument.
constexpr int kOperand = -1;

// Walks the command line in order, one option or operand per next().
class OptionParser {
 public:
  OptionParser(Platform& platform, const OptionSpec* specs, int spec_count)
      : platform_(platform), specs_(specs), spec_count_(spec_count) {}

  // The next option, true with its id and, if it takes one, its value; or
  // the next operand, true with kOperand. False at the end of the command
  // line, or at a usage error (then error() is not empty).
  bool next(int* id, ArgSlice* value);
  // Also counts as an option before "--" (the system's own help spelling,
  // "/?"); next() then gives `id` for it.
  void also_accept(const char* whole_argument, int id) {
    extra_argument_ = whole_argument;
    extra_id_ = id;
  }

  // "unknown option '--lis'" and the like; "" while there was none.
  const char* error() const { return error_; }

 private:
  bool next_in_bundle(int* id, ArgSlice* value);
  bool operand(int* id, ArgSlice* value);
  // The value of the option just matched: attached to it from unit `at` of
  // the argument on, or the next argument.
  bool take_value(bool attached, std::uint32_t at, const char* before, const char16_t* option, std::uint32_t length,
                  ArgSlice* value);
  bool fail(const char* before, const char16_t* option, std::uint32_t length, const char* after);

  Platform& platform_;
  const OptionSpec* specs_;
  int spec_count_;
  const char* extra_argument_ = nullptr;
  int extra_id_ = 0;
  int arg_ = 0;
  // Within a bundle of short options: where the next one is; 0 outside.
  std::uint32_t bundle_at_ = 0;
  bool options_ended_ = false;  // after "--"
  bool failed_ = false;
  char error_[kUsageErrorBytes] = {};
};

// Converts argument i from `offset` on into out (UTF-16, terminated);
// false when it does not fit.
bool arg_text(Platform& platform, ArgSlice slice, char16_t* out, std::uint32_t capacity);

// --- fsrestore's own command line ---

enum class Mode { kRestore, kList, kCheck, kCompare, kHelp, kVersion, kUsageError };

// The most writers -j takes (more than kMaxWriters run as kMaxWriters).
constexpr int kMostJobs = 1000;

struct CommandLine {
  Mode mode = Mode::kRestore;
  int base_arg = -1;    // the argument holding the base path; -1: none
  int target_arg = -1;  // the argument naming the target (restore, compare); -1: none
  bool strict = false;  // a restore that logged anything ends with status 3
  // Only the job's answer is printed: no basepath and progress lines, no
  // warnings about what would not restore on another system.
  bool quiet = false;
  bool resume = false;  // a restore skips the files already in the target whole
  // -j N, --jobs N, --jobs=N: the writers of a restore; 0: not given (the
  // processors the process may use).
  int jobs = 0;
  // --only: the parts of the dump a restore takes, as --list writes paths.
  ArgSlice only[kOnlyPaths];
  int only_count = 0;
  // --errors FILE: where a restore writes its log (arg -1: "$errors" in the
  // starting directory).
  ArgSlice errors;
  // --report FILE: where a restore writes its report (arg -1: none).
  ArgSlice report;
  char error[kUsageErrorBytes] = {};  // with kUsageError: what was wrong
};

CommandLine parse_command_line(Platform& platform);

// Tells each operand the mode leaves out (a third, or a second with --list
// and --check) on standard error, one line each, the argument as
// --list writes a path: "fsrestore: ignoring the extra argument 'x'".
void warn_ignored_operands(Platform& platform, const CommandLine& line);

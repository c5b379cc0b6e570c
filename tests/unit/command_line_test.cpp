// The command line: options before the arguments, "--" ends them, long
// names matched whole, values attached or in the next argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "main/command_line.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, EachArgumentListGivesItsModeAndArgumentsOrAUsageError) {
  struct Case {
    Args args;
    Mode mode;
    int base, target;
    bool strict, quiet;
    const char* error;
  } cases[] = {
      {{}, Mode::kRestore, -1, -1, false, false, ""},
      {{"d/", "t", "ignored"}, Mode::kRestore, 0, 1, false, false, ""},
      {{"--strict", "-q", "d/", "t"}, Mode::kRestore, 2, 3, true, true, ""},
      {{"--quiet", "--", "--list"}, Mode::kRestore, 2, -1, false, true, ""},
      {{"d/", "--list"}, Mode::kRestore, 0, 1, false, false, ""},  // after an argument, a name
      {{"-", "t"}, Mode::kRestore, 0, 1, false, false, ""},         // a lone "-" is an argument
      {{"--list"}, Mode::kList, -1, -1, false, false, ""},
      {{"--list", "d/", "t"}, Mode::kList, 1, -1, false, false, ""},
      {{"--check", "--", "-d/"}, Mode::kCheck, 2, -1, false, false, ""},
      {{"--check", "--check", "d/"}, Mode::kCheck, 2, -1, false, false, ""},
      {{"-qh"}, Mode::kHelp, -1, -1, false, false, ""},
      {{"d/", "--help"}, Mode::kRestore, 0, 1, false, false, ""},
      {{"--strict", "-V", "--bogus"}, Mode::kVersion, -1, -1, false, false, ""},
      {{"--lis"}, Mode::kUsageError, -1, -1, false, false, "unknown option '--lis'"},
      {{"--lis=x", "d/"}, Mode::kUsageError, -1, -1, false, false, "unknown option '--lis'"},
      {{"-v"}, Mode::kUsageError, -1, -1, false, false, "unknown option '-v'"},
      {{"-qx", "d/"}, Mode::kUsageError, -1, -1, false, false, "unknown option '-x'"},
      {{"--help=1"}, Mode::kUsageError, -1, -1, false, false, "option '--help' takes no value"},
      {{"--list", "--check"}, Mode::kUsageError, -1, -1, false, false, "--list and --check exclude each other"},
      {{"--check", "-q", "d/"}, Mode::kUsageError, -1, -1, false, false,
       "--quiet goes with a restore only, not with --check"},
      {{"--\x01\xc3\xa9"}, Mode::kUsageError, -1, -1, false, false, "unknown option '--\\x01\xc3\xa9'"},
  };
  for (const Case& c : cases) {
    const std::string shown = testing::PrintToString(c.args);
    FakePlatform fake;
    fake.args = c.args;
    const CommandLine line = parse_command_line(fake);
    EXPECT_EQ(line.mode, c.mode) << shown;
    EXPECT_STREQ(line.error, c.error) << shown;
    if (c.mode == Mode::kUsageError || c.mode == Mode::kHelp || c.mode == Mode::kVersion) continue;
    EXPECT_EQ(line.base_arg, c.base) << shown;
    EXPECT_EQ(line.target_arg, c.target) << shown;
    EXPECT_EQ(line.strict, c.strict) << shown;
    EXPECT_EQ(line.quiet, c.quiet) << shown;
  }
}

// Options with values, as later options will take them: a table of the
// program's own shape with a counted and a repeatable option.
TEST(OptionParser, ValuesAreTakenAttachedOrFromTheNextArgument) {
  enum { kJobs, kOnly, kQuiet };
  const OptionSpec specs[] = {{kJobs, 'j', "jobs", true}, {kOnly, 0, "only", true}, {kQuiet, 'q', "quiet", false}};
  struct Case {
    Args args;
    const char* seen;  // each option as id=value, then "|" and the first argument
    const char* error;
  } cases[] = {
      {{"--jobs", "4", "d/"}, "0=4 |2", ""},
      {{"--jobs=4", "d/"}, "0=4 |1", ""},
      {{"--jobs=", "d/"}, "0= |1", ""},
      {{"-j", "4"}, "0=4 |2", ""},
      {{"-j4", "-qj", "-5", "d/"}, "0=4 2 0=-5 |3", ""},
      {{"-qj8"}, "2 0=8 |1", ""},
      {{"--only", "a b", "--only=c=d", "--", "--only"}, "1=a b 1=c=d |4", ""},
      {{"--jobs", "--", "d/"}, "0=-- |2", ""},  // a value may look like an option
      {{"-q", "--jobs"}, "2 ", "option '--jobs' needs a value"},
      {{"-qj"}, "2 ", "option '-j' needs a value"},
      {{"--only"}, "", "option '--only' needs a value"},
  };
  for (const Case& c : cases) {
    const std::string shown = testing::PrintToString(c.args);
    FakePlatform fake;
    fake.args = c.args;
    OptionParser parser(fake, specs, 3);
    std::string seen;
    int id = -1;
    ArgSlice value;
    while (parser.next(&id, &value)) {
      seen += std::to_string(id);
      if (value.arg >= 0) {
        char16_t text[64];
        ASSERT_TRUE(arg_text(fake, value, text, 64)) << shown;
        seen += '=';
        seen += FakePlatform::utf8(text);
      }
      seen += " ";
    }
    if (*c.error == 0) {
      seen += '|';
      seen += std::to_string(parser.first_operand());
    }
    EXPECT_EQ(seen, c.seen) << shown;
    EXPECT_STREQ(parser.error(), c.error) << shown;
  }
}

}  // namespace

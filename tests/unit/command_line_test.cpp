// The command line: options anywhere among the operands, "--" ends them,
// long names matched whole, values attached or in the next argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "main/command_line.h"

namespace {

using Args = std::vector<std::string>;

Args only_times(int n) {
  Args args;
  for (int i = 0; i < n; ++i) args.insert(args.end(), {"--only", "p"});
  return args;
}

TEST(CommandLine, EachArgumentListGivesItsModeAndArgumentsOrAUsageError) {
  struct Case {
    Args args;
    Mode mode;
    int base, target;
    bool strict, quiet;
    const char* error;
    const char* warned = "";  // standard error after warn_ignored_operands
    int errors = -1;          // the argument holding --errors' value
  } cases[] = {
      {{}, Mode::kRestore, -1, -1, false, false, ""},
      {{"d/", "t", "ignored"}, Mode::kRestore, 0, 1, false, false, "",
       "fsrestore: ignoring the extra argument 'ignored'\n"},
      {{"--strict", "-q", "d/", "t"}, Mode::kRestore, 2, 3, true, true, ""},
      {{"d/", "-q", "t", "--strict"}, Mode::kRestore, 0, 2, true, true, ""},  // between and after
      {{"d/", "-j", "4", "t"}, Mode::kRestore, 0, 3, false, false, ""},      // a value is no operand
      {{"--quiet", "--", "--list"}, Mode::kRestore, 2, -1, false, true, ""},
      {{"--errors", "logs/x", "d/", "--errors=y"}, Mode::kRestore, 2, -1, false, false, "", "", 3},
      {{"d/", "--", "--", "-q", "x"}, Mode::kRestore, 0, 2, false, false, "",
       "fsrestore: ignoring the extra argument '-q'\nfsrestore: ignoring the extra argument 'x'\n"},
      {{"d/", "--list"}, Mode::kList, 0, -1, false, false, ""},
      {{"-", "t"}, Mode::kRestore, 0, 1, false, false, ""},  // a lone "-" is an operand
      {{"--list"}, Mode::kList, -1, -1, false, false, ""},
      {{"--list", "d/", "t"}, Mode::kList, 1, -1, false, false, "", "fsrestore: ignoring the extra argument 't'\n"},
      {{"--check", "--", "-d/"}, Mode::kCheck, 2, -1, false, false, ""},
      {{"--check", "--check", "d/"}, Mode::kCheck, 2, -1, false, false, ""},
      {{"--check", "-q", "d/"}, Mode::kCheck, 2, -1, false, true, ""},
      {{"-qh"}, Mode::kHelp, -1, -1, false, false, ""},
      {{"d/", "--help"}, Mode::kHelp, -1, -1, false, false, ""},
      {{"--strict", "-V", "--bogus"}, Mode::kVersion, -1, -1, false, false, ""},
      {{"--lis"}, Mode::kUsageError, -1, -1, false, false, "unknown option '--lis'"},
      {{"--lis=x", "d/"}, Mode::kUsageError, -1, -1, false, false, "unknown option '--lis'"},
      {{"-v"}, Mode::kUsageError, -1, -1, false, false, "unknown option '-v'"},
      {{"-qx", "d/"}, Mode::kUsageError, -1, -1, false, false, "unknown option '-x'"},
      {{"--help=1"}, Mode::kUsageError, -1, -1, false, false, "option '--help' takes no value"},
      {{"--list", "--check"}, Mode::kUsageError, -1, -1, false, false, "--list and --check exclude each other"},
      {{"d/", "--strict", "--check"}, Mode::kUsageError, -1, -1, false, false,
       "--strict goes with a restore only, not with --check"},
      {{"--compare", "--errors", "x"}, Mode::kUsageError, -1, -1, false, false,
       "--errors goes with a restore only, not with --compare"},
      {only_times(kOnlyPaths), Mode::kRestore, -1, -1, false, false, ""},
      {only_times(kOnlyPaths + 1), Mode::kUsageError, -1, -1, false, false, "--only is given more than 64 times"},
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
    EXPECT_EQ(line.errors.arg, c.errors) << shown;
    warn_ignored_operands(fake, line);
    EXPECT_EQ(fake.errors_out, c.warned) << shown;
  }
}

// Options with values, as later options will take them: a table of the
// program's own shape with a counted and a repeatable option.
TEST(OptionParser, ValuesAreTakenAttachedOrFromTheNextArgument) {
  enum { kJobs, kOnly, kQuiet };
  const OptionSpec specs[] = {{kJobs, 'j', "jobs", true}, {kOnly, 0, "only", true}, {kQuiet, 'q', "quiet", false}};
  struct Case {
    Args args;
    const char* seen;  // in order, each option as id=value, each operand as @argument
    const char* error;
  } cases[] = {
      {{"--jobs", "4", "d/"}, "0=4 @2 ", ""},
      {{"--jobs=4", "d/"}, "0=4 @1 ", ""},
      {{"--jobs=", "d/"}, "0= @1 ", ""},
      {{"-j", "4"}, "0=4 ", ""},
      {{"-j4", "-qj", "-5", "d/"}, "0=4 2 0=-5 @3 ", ""},
      {{"-qj8"}, "2 0=8 ", ""},
      {{"--only", "a b", "--only=c=d", "--", "--only"}, "1=a b 1=c=d @4 ", ""},
      {{"--jobs", "--", "d/"}, "0=-- @2 ", ""},  // a value may look like an option
      {{"d/", "-j", "4", "-", "--only", "x", "--", "-q", "--"}, "@0 0=4 @3 1=x @7 @8 ", ""},
      {{"d/", "--bogus", "e/"}, "@0 ", "unknown option '--bogus'"},
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
      if (id == kOperand) {
        seen += '@';
        seen += std::to_string(value.arg);
        seen += ' ';
        continue;
      }
      seen += std::to_string(id);
      if (value.arg >= 0) {
        char16_t text[64];
        ASSERT_TRUE(arg_text(fake, value, text, 64)) << shown;
        seen += '=';
        seen += FakePlatform::utf8(text);
      }
      seen += " ";
    }
    EXPECT_EQ(seen, c.seen) << shown;
    EXPECT_STREQ(parser.error(), c.error) << shown;
  }
}

}  // namespace

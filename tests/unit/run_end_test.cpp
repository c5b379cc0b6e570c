// What a restore tells at its end and when it is cut short: the summary on
// standard error, the status with --strict, the console with --quiet, and
// the last line an interruption leaves in the log.
#include <gtest/gtest.h>

#include "test_restorer.h"

namespace {

TEST(RunEnd, TheSummaryCountsEntryAndDumpLinesAndStrictTurnsThemIntoStatusThree) {
  struct Case {
    const char* what;
    int bad_files;
    bool stray;
    bool strict;
    int status;
    const char* err;
  } cases[] = {
      {"clean", 0, false, false, 0, ""},
      {"clean, strict", 0, false, true, 0, ""},
      {"one entry", 1, false, false, 0, "fsrestore: 1 entry not restored whole; see $errors\n"},
      {"two entries, strict", 2, false, true, 3, "fsrestore: 2 entries not restored whole; see $errors\n"},
      {"damaged dump, strict", 0, true, true, 3, "fsrestore: the dump is damaged or unreadable; see $errors\n"},
      {"both", 2, true, false, 0,
       "fsrestore: 2 entries not restored whole; see $errors\n"
       "fsrestore: the dump is damaged or unreadable; see $errors\n"},
  };
  for (const Case& c : cases) {
    auto r = TestRestorer::make();
    TestDump d;
    for (int i = 0; i < c.bad_files; ++i) d.file(0, u"..", "x");  // a name refused everywhere
    d.file(0, u"good", "2");
    if (c.stray) d.nodes += "abc";
    r->fake.add_dump(d.nodes, d.names, d.content);
    r->fake.mkdir_p(u"target");
    r->fake.args = {"", "target"};
    const CommandLine line = parse_command_line(r->fake);
    RestoreOptions options;
    options.strict = c.strict;
    EXPECT_EQ(r->driver.run(line.base_arg, line.target_arg, options), c.status) << c.what;
    EXPECT_EQ(r->fake.errors_out, c.err) << c.what;
    EXPECT_TRUE(r->fake.console.ends_with("\r\n")) << c.what;
  }
}

TEST(RunEnd, QuietPrintsNothingOnStandardOutputButStillTellsOnStandardError) {
  for (bool start_fails : {false, true}) {
    auto r = TestRestorer::make();
    if (start_fails) r->fake.fail(FakePlatform::Op::kOpenTarget);
    TestDump d;
    d.file(0, u"..", "x").file(0, u"good", "2");
    r->fake.add_dump(d.nodes, d.names, d.content);
    r->fake.mkdir_p(u"target");
    r->fake.args = {"", "target"};
    RestoreOptions quiet;
    quiet.quiet = true;
    EXPECT_EQ(r->driver.run(0, 1, quiet), start_fails ? 1 : 0);
    EXPECT_EQ(r->fake.console, "");
    EXPECT_EQ(r->fake.errors_out, start_fails ? "fsrestore: cannot enter the target target: injected failure\n"
                                              : "fsrestore: 1 entry not restored whole; see $errors\n");
  }
}

// The last words are said where the signal would arrive: inside the
// platform call named, for the entry named. They name the first file not
// finished: with writers, one handed out before the entry being read.
TEST(RunEnd, AnInterruptionLeavesALineNamingTheFileItCut) {
  struct Case {
    const char* op;
    const char* entry;  // "" for any
    const char* line;
    const char* with_writers;  // nullptr: the same line
  } cases[] = {
      {"open_stream", "", "interrupted before the first entry\n", nullptr},
      {"write", "big", "interrupted while restoring <big>, attr=0021, size=5\n", nullptr},
      {"create_file", "big", "interrupted while restoring <big>, attr=0021, size=5\n", nullptr},
      {"make_dir", "d", "interrupted between entries\n", nullptr},
      {"close", "small", "interrupted while restoring <small>, attr=0020, size=1\n", nullptr},
      {"write", "b", "interrupted while restoring <b>, attr=0021, size=2\n", nullptr},
      {"create_file", "late", "interrupted while restoring <late>, attr=0020, size=3\n",
       "interrupted while restoring <a>, attr=0020, size=1\n"},
  };
  for (bool writers : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.op << " " << c.entry << (writers ? " with writers" : ""));
      auto r = TestRestorer::make();
      if (writers) r->with_writers();
      bool said = false;
      r->fake.on_call = [&](const char* op, const FakePlatform::Node* touched) {
        if (said || std::string(op) != c.op) return;
        if (*c.entry != 0 && (touched == nullptr || FakePlatform::utf8(touched->name) != c.entry)) return;
        said = true;
        r->driver.say_interrupted();
      };
      TestDump d;
      d.file(0, u"small", "1").file(0, u"big", "12345", 0x21).dir(0, u"d");
      d.file(1, u"a", "1").file(1, u"b", "22", 0x21).file(0, u"late", "333");
      EXPECT_EQ(r->run(d), 0);
      EXPECT_TRUE(said);
      EXPECT_EQ(r->fake.log_text(), writers && c.with_writers != nullptr ? c.with_writers : c.line);
    }
  }
}

// With writers, a directory the walk has left gets its times as soon as its
// last file is finished, not when the batch holding that file ends: an
// interruption that names a later file of the same batch finds it whole.
TEST(RunEnd, ADirectoryLeftBeforeTheNamedFileHasItsTimes) {
  auto r = TestRestorer::make();
  r->with_writers();
  bool said = false, timed = false;
  r->fake.on_call = [&](const char* op, const FakePlatform::Node* touched) {
    if (said || std::string(op) != "write" || touched == nullptr || touched->name != u"big") return;
    said = true;
    timed = r->fake.find(u"target/p/d")->times_set;
    r->driver.say_interrupted();
  };
  TestDump d;
  d.dir(0, u"p").dir(1, u"d").file(2, u"a", "1").file(1, u"big", "12345");
  EXPECT_EQ(r->run(d), 0);
  EXPECT_TRUE(said);
  EXPECT_TRUE(timed);
  EXPECT_EQ(r->fake.log_text(), "interrupted while restoring <big>, attr=0020, size=5\n");
}

}  // namespace

// What a restore tells at its end and when it is cut short: the summary on
// standard error, the status with --strict, the console with --quiet, and
// the last line an interruption leaves in the log.
#include <gtest/gtest.h>

#include <regex>

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
      {"one entry", 1, false, false, 0,
       "fsrestore: ..: cannot create: the name is refused on this system\n"
       "fsrestore: 1 of 2 entries not restored; see $errors\n"},
      {"two entries, strict", 2, false, true, 3,
       "fsrestore: ..: cannot create: the name is refused on this system\n"
       "fsrestore: ..: cannot create: the name is refused on this system\n"
       "fsrestore: 2 of 3 entries not restored; see $errors\n"},
      {"damaged dump, strict", 0, true, true, 3, "fsrestore: the dump is damaged or unreadable; see $errors\n"},
      {"both", 2, true, false, 0,
       "fsrestore: ..: cannot create: the name is refused on this system\n"
       "fsrestore: ..: cannot create: the name is refused on this system\n"
       "fsrestore: 2 of 3 entries not restored; see $errors\n"
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
                                              : "fsrestore: ..: cannot create: the name is refused on this system\n"
                                                "fsrestore: 1 of 2 entries not restored; see $errors\n");
  }
}

// Standard error names each entry not restored by its path, in the dump's
// order, and the report holds one object for each, then the subtree passed
// over and the totals: the same with writers, whose batches finish newest
// first here.
TEST(RunEnd, EachLossIsNamedByItsPathInTheDumpsOrderWithWritersToo) {
  std::string first_report;
  for (bool writers : {false, true}) {
    SCOPED_TRACE(writers ? "with writers" : "one thread");
    auto r = TestRestorer::make();
    if (writers) r->with_writers();
    r->fake.fail(Op::kCreateFile, u"bad", -1, "Permission denied");
    r->fake.fail(Op::kMakeDir, u"locked", -1, "Permission denied");
    TestDump d;
    d.dir(0, u"a").file(1, u"x", "x").dir(1, u"b").file(2, u"bad", "1").file(2, u"y", "y");
    d.dir(0, u"locked").file(1, u"i", "i").dir(1, u"j").file(0, u"..", "z").file(0, u"ok", "ok");
    EXPECT_EQ(r->run(d, {"", "target", "--report", "r.jsonl"}), 0);
    EXPECT_EQ(r->fake.errors_out,
              "fsrestore: a/b/bad: cannot create: Permission denied\n"
              "fsrestore: locked: cannot make directory: Permission denied; 2 entries below it not restored\n"
              "fsrestore: ..: cannot create: the name is refused on this system\n"
              "fsrestore: 5 of 10 entries not restored; see $errors\n");
    // The fake numbers its failures in the order of the calls, which writers change.
    const std::string report =
        std::regex_replace(r->fake.find(u"r.jsonl")->body, std::regex(R"("code":[0-9]+)"), R"("code":N)");
    std::size_t at = 0;
    for (const char* object : {R"({"schema":1,"kind":"createfile","path":"a/b/bad","words":"Permission denied",)",
                               R"("code_system":"fake","size":1,"attr":32})",
                               R"({"schema":1,"kind":"mkdir","path":"locked",)", R"("size":null,"attr":16})",
                               R"({"schema":1,"kind":"subtree","path":"locked","entries":2})",
                               R"({"schema":1,"kind":"createfile","path":"..","words":"the name is refused on this )"
                               R"(system","code":null,"code_system":"fsrestore","size":1,"attr":32})",
                               R"({"schema":1,"kind":"totals","entries":10,"restored":5,"not_restored":5,"kept":0,)"
                               R"("passed_over":0,"bytes":7,"status":0,"interrupted":null,"interrupted_path":null})"
                               "\n"}) {
      at = report.find(object, at);
      ASSERT_NE(at, std::string::npos) << object << " in\n" << report;
    }
    if (writers) {
      EXPECT_EQ(report, first_report);
    }
    first_report = report;
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
      EXPECT_EQ(r->run(d, {"", "target", "--report", "r.jsonl"}), 0);
      EXPECT_TRUE(said);
      const std::string line = writers && c.with_writers != nullptr ? c.with_writers : c.line;
      EXPECT_EQ(r->fake.log_text(), line);
      // The report's last words say the same, the file by its path; before
      // the first entry there is no report yet (the run here goes on, and
      // makes it later).
      const std::size_t name = line.find('<');
      if (name == std::string::npos) {
        const std::string where = line.substr(12, line.size() - 13);
        const std::string want = R"("status":null,"interrupted":")" + where + R"(","interrupted_path":null})";
        const std::string& report = r->fake.find(u"r.jsonl")->body;
        EXPECT_EQ(report.find(want) == std::string::npos, where == "before the first entry") << want;
      } else {
        const std::string file = line.substr(name + 1, line.find('>') - name - 1);
        const std::string path = file == "a" || file == "b" ? "d/" + file : file;
        const std::string want = R"("status":null,"interrupted":"while restoring","interrupted_path":")" + path;
        EXPECT_NE(r->fake.find(u"r.jsonl")->body.find(want + "\"}"), std::string::npos) << want;
      }
      // Interrupted in its start too, the log is in its place.
      EXPECT_EQ(r->fake.find(u"$errors")->kind, FakePlatform::Kind::kFile);
      EXPECT_EQ(r->fake.find(u"$errors.4242.tmp"), nullptr);
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

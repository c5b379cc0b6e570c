#include <gtest/gtest.h>

#include "test_restorer.h"

namespace {

// The cursor, the writer and the driver together over the fake tree; the
// recorded walk is what matters here, so bodies are empty and the tests look
// at the cursor's calls only.
std::vector<std::string> walk(const FakePlatform& fake) {
  std::vector<std::string> out;
  for (const std::string& c : fake.calls) {
    if (c.rfind("enter_dir", 0) == 0 || c.rfind("leave_dir", 0) == 0 || c.rfind("set_times", 0) == 0 ||
        c.rfind("close", 0) == 0 || c.rfind("make_dir", 0) == 0 || c.rfind("create_file", 0) == 0) {
      if (c.rfind("close $", 0) != 0) out.push_back(c);
    }
  }
  return out;
}

using Calls = std::vector<std::string>;

TEST(DirCursor, SiblingDirectoriesAreLeftAndTimedWhenTheNextSiblingArrives) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"A").file(1, u"f", "").dir(0, u"B").file(1, u"g", "");
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir A", "enter_dir A", "create_file f", "set_times f", "close f",
                                  "leave_dir", "set_times A", "close A", "make_dir B", "enter_dir B",
                                  "create_file g", "set_times g", "close g", "leave_dir", "set_times B",
                                  "close B"}));
  EXPECT_EQ(r->fake.cwd_path(), "/target");
  EXPECT_EQ(r->fake.log_text(), "");
}

TEST(DirCursor, AFallOfSeveralLevelsStepsUpAndTimesInnermostFirst) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").dir(1, u"b").dir(2, u"c").file(2, u"f", "").file(0, u"g", "");
  r->run(d);
  EXPECT_EQ(walk(r->fake),
            (Calls{"make_dir a", "enter_dir a", "make_dir b", "enter_dir b", "make_dir c", "set_times c", "close c",
                   "create_file f", "set_times f", "close f", "leave_dir", "set_times b", "close b", "leave_dir",
                   "set_times a", "close a", "create_file g", "set_times g", "close g"}));
  EXPECT_EQ(r->fake.cwd_path(), "/target");
  EXPECT_EQ(r->fake.open_handles(), 0);
}

TEST(DirCursor, FirstRecordAtDepthOneTriesTheStreamPathAndSkipsUntilDepthZero) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(1, u"lost", "abc").file(1, u"lost2", "").file(0, u"kept", "xy");
  r->run(d);
  EXPECT_EQ(walk(r->fake), (Calls{"enter_dir $fsnodes", "create_file kept", "set_times kept", "close kept"}));
  EXPECT_EQ(r->fake.log_text(), "chdir error with <$fsnodes> attr=0020: No such file or directory\n");
  EXPECT_EQ(r->fake.find(u"target/kept")->body, "xy");  // the skipped body was consumed
  EXPECT_EQ(r->counters.files, 3);
  EXPECT_EQ(r->counters.outbytes, 5u);
}

TEST(DirCursor, ADirectoryThatCannotBeEnteredIsLoggedOnceAndItsSubtreeSkipped) {
  auto r = TestRestorer::make();
  r->fake.fail("enter_dir", u"locked", -1, "Permission denied");
  TestDump d;
  d.dir(0, u"locked", 0x11).file(1, u"in", "12345", 0x21).dir(1, u"sub").file(2, u"deep", "678").file(0, u"after",
                                                                                                        "9");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(), "chdir error with <locked> attr=0021: Permission denied\n");
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir locked", "enter_dir locked", "set_times locked", "close locked",
                                  "create_file after", "set_times after", "close after"}));
  EXPECT_EQ(r->fake.find(u"target/after")->body, "9");
  EXPECT_EQ(r->counters.dirs, 2);
  EXPECT_EQ(r->counters.files, 3);
  EXPECT_EQ(r->counters.outbytes, 9u);
  EXPECT_EQ(r->fake.cwd_path(), "/target");
}

TEST(DirCursor, AFailedStepUpSkipsEverythingAfterAndNeverStepsUpAgain) {
  auto r = TestRestorer::make();
  r->fake.fail("leave_dir", u"", 1, "No such device");
  TestDump d;
  d.dir(0, u"a").dir(1, u"b").file(2, u"f", "1").file(0, u"g", "2").dir(0, u"h").file(1, u"i", "3");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(), "chdir error with <..>: No such device\n");
  EXPECT_EQ(r->fake.calls_of("leave_dir").size(), 1u);
  EXPECT_EQ(r->fake.calls_of("create_file"), (Calls{"create_file f"}));
  EXPECT_TRUE(r->fake.find(u"target/a")->times_set);  // handles are still closed with their times
  EXPECT_TRUE(r->fake.find(u"target/a/b")->times_set);
  EXPECT_EQ(r->counters.files, 3);
  EXPECT_EQ(r->counters.outbytes, 3u);
  EXPECT_EQ(r->fake.open_handles(), 0);
}

TEST(DirCursor, ADepthJumpEntersOneDirectoryAndNeverClimbsAboveTheTarget) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").file(3, u"deep", "x").dir(3, u"d3").file(4, u"deeper", "y").file(0, u"top", "z");
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("enter_dir"), (Calls{"enter_dir a", "enter_dir d3"}));
  EXPECT_EQ(r->fake.calls_of("leave_dir").size(), 2u);
  EXPECT_EQ(r->fake.find(u"target/a/deep")->body, "x");
  EXPECT_EQ(r->fake.find(u"target/a/d3/deeper")->body, "y");
  EXPECT_EQ(r->fake.find(u"target/top")->body, "z");
  EXPECT_EQ(r->fake.cwd_path(), "/target");
}

TEST(DirCursor, EntriesOnALevelPassedOverByAJumpAreSkipped) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").file(2, u"jumped", "1").file(1, u"between", "2").file(0, u"top", "3");
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("leave_dir").size(), 1u);
  EXPECT_EQ(r->fake.find(u"target/a/jumped")->body, "1");
  EXPECT_EQ(r->fake.calls_of("create_file between").size(), 0u);  // would land one level too high
  EXPECT_EQ(r->fake.find(u"target/top")->body, "3");
}

TEST(DirCursor, DepthTwoHundredFiftyFiveIsUsable) {
  auto r = TestRestorer::make();
  TestDump d;
  for (int depth = 0; depth <= 255; ++depth) d.dir(static_cast<std::uint8_t>(depth), u"d");
  d.file(255, u"bottom", "b").file(0, u"top", "t");
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("enter_dir").size(), 255u);
  EXPECT_EQ(r->fake.calls_of("leave_dir").size(), 255u);
  std::u16string path = u"target";  // the directory holding depth 255
  for (int depth = 0; depth < 255; ++depth) path += u"/d";
  ASSERT_NE(r->fake.find(path + u"/bottom"), nullptr);
  EXPECT_TRUE(r->fake.find(path + u"/d")->times_set);
  EXPECT_EQ(r->fake.cwd_path(), "/target");
  EXPECT_EQ(r->fake.open_handles(), 0);
}

TEST(DirCursor, AnExistingDirectoryIsReusedWithoutTimesAndAFileInTheWayIsLogged) {
  auto r = TestRestorer::make();
  r->fake.mkdir_p(u"target/old");
  r->fake.add_file(u"target/plain", "was here");
  TestDump d;
  d.dir(0, u"old").file(1, u"new", "n").dir(0, u"plain").file(1, u"under", "u").file(0, u"last", "l");
  r->run(d);
  EXPECT_EQ(r->fake.find(u"target/old/new")->body, "n");
  EXPECT_FALSE(r->fake.find(u"target/old")->times_set);
  EXPECT_EQ(r->fake.log_text(), "chdir error with <plain> attr=0020: Not a directory\n");
  EXPECT_EQ(r->fake.find(u"target/plain")->body, "was here");
  EXPECT_EQ(r->fake.find(u"target/last")->body, "l");
}

TEST(DirCursor, RefusedDirectoryNamesAreNeverEnteredAndTheirSubtreesSkipped) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"..").file(1, u"escape", "e").dir(0, u"a/b").file(1, u"escape2", "f").file(0, u"ok", "g");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(),
            "chdir error with <..> attr=0020: Invalid argument\n"
            "chdir error with <a/b> attr=0020: Invalid argument\n");
  EXPECT_EQ(r->fake.calls_of("leave_dir").size(), 0u);
  EXPECT_EQ(r->fake.calls_of("create_file"), (Calls{"create_file ok"}));
  EXPECT_EQ(r->fake.find(u"target/ok")->body, "g");
  EXPECT_EQ(r->fake.cwd_path(), "/target");
}

}  // namespace

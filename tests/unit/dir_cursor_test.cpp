#include <gtest/gtest.h>

#include "test_restorer.h"

namespace {

// The cursor, the writer and the driver together over the fake tree; the
// recorded walk is what matters here, so bodies are empty and the tests look
// at the cursor's calls only.
std::vector<std::string> walk(const FakePlatform& fake) {
  std::vector<std::string> out;
  for (const std::string& c : fake.calls) {
    if (c.rfind("open_dir", 0) == 0 || c.rfind("set_times", 0) == 0 || c.rfind("close", 0) == 0 ||
        c.rfind("make_dir", 0) == 0 || c.rfind("create_file", 0) == 0) {
      if (c.rfind("close $", 0) != 0 && c != "create_file $errors") out.push_back(c);
    }
  }
  return out;
}

using Calls = std::vector<std::string>;

// At the end only the starting directory and the target stay open: the
// streams and the log are closed, and so is every directory entered.
void expect_only_start_and_target_open(const FakePlatform& fake) {
  EXPECT_EQ(fake.open_labels(), (Calls{".", "target"}));
  EXPECT_EQ(fake.bad_handle_uses, 0);
}

TEST(DirCursor, ADirectoryJustMadeIsEnteredThroughItsOwnHandleAndTimedWhenLeft) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"A").file(1, u"f", "").dir(0, u"B").file(1, u"g", "");
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir A", "create_file f", "set_times f", "close f", "set_times A", "close A",
                                  "make_dir B", "create_file g", "set_times g", "close g", "set_times B",
                                  "close B"}));
  EXPECT_EQ(r->fake.find(u"target/A/f")->parent, r->fake.find(u"target/A"));
  EXPECT_EQ(r->fake.log_text(), "");
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, AFallOfSeveralLevelsTimesInnermostFirst) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").dir(1, u"b").dir(2, u"c").file(2, u"f", "").file(0, u"g", "");
  r->run(d);
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir a", "make_dir b", "make_dir c", "set_times c", "close c",
                                  "create_file f", "set_times f", "close f", "set_times b", "close b",
                                  "set_times a", "close a", "create_file g", "set_times g", "close g"}));
  ASSERT_NE(r->fake.find(u"target/a/b/f"), nullptr);
  ASSERT_NE(r->fake.find(u"target/g"), nullptr);
  expect_only_start_and_target_open(r->fake);
}

// An existing directory is reused as it is and takes the record's times
// after its contents; a file in a directory's place gets a line for the
// directory and one for its skipped subtree.
TEST(DirCursor, AnExistingDirectoryIsReusedAndTimedAndAFileInItsPlaceIsLogged) {
  auto r = TestRestorer::make();
  r->fake.mkdir_p(u"target/old/inner");
  r->fake.add_file(u"target/plain", "was here");
  TestDump d;
  d.dir(0, u"old").dir(1, u"inner").file(2, u"new", "n").dir(0, u"plain").file(1, u"under", "u").file(0, u"last",
                                                                                                      "l");
  r->run(d);
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir old", "open_dir old", "make_dir inner", "open_dir inner",
                                  "create_file new", "set_times new", "close new", "set_times inner",
                                  "close inner", "set_times old", "close old", "make_dir plain", "open_dir plain",
                                  "create_file last", "set_times last", "close last"}));
  EXPECT_EQ(r->fake.find(u"target/old/inner/new")->body, "n");
  EXPECT_TRUE(r->fake.find(u"target/old")->times_set);
  EXPECT_FALSE(r->fake.find(u"target/old")->attr_set);  // its attributes as they were
  EXPECT_EQ(r->fake.log_text(),
            "mkdir error with <plain>, attr=0010: File exists\n"
            "chdir error with <plain> attr=0020: File exists\n");
  EXPECT_EQ(r->fake.find(u"target/plain")->body, "was here");
  EXPECT_EQ(r->fake.find(u"target/last")->body, "l");
  expect_only_start_and_target_open(r->fake);
}

// Nothing already in the target is entered for records no directory record
// of the dump leads to: not a directory named like the node stream for a
// first record below the top, not a directory named like a file.
TEST(DirCursor, RecordsBelowNoDirectoryOfTheDumpAreSkippedNotPutIntoTheTarget) {
  auto r = TestRestorer::make();
  r->fake.mkdir_p(u"target/$fsnodes");
  r->fake.mkdir_p(u"target/kept");
  TestDump d;
  d.file(1, u"lost", "abc").file(1, u"lost2", "").file(0, u"kept", "xy").file(1, u"below", "");
  r->run(d);
  EXPECT_EQ(walk(r->fake), (Calls{"create_file kept"}));
  EXPECT_EQ(r->fake.log_text(),
            "nodes error: the first record has depth 1, not 0\n"
            "createfile error with <kept>, attr=0020, size=2: a directory has this name\n"
            "chdir error with <kept> attr=0020: the record before it is not a directory\n");
  EXPECT_TRUE(r->fake.find(u"target/$fsnodes")->children.empty());
  EXPECT_TRUE(r->fake.find(u"target/kept")->children.empty());
  EXPECT_EQ(r->counters.files, 4);
  EXPECT_EQ(r->counters.outbytes, 5u);
}

TEST(DirCursor, AFirstRecordBelowTheTopIsSkippedUntilDepthZero) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(1, u"lost", "abc").file(1, u"lost2", "").file(0, u"kept", "xy");
  r->run(d);
  EXPECT_EQ(walk(r->fake), (Calls{"create_file kept", "set_times kept", "close kept"}));
  EXPECT_EQ(r->fake.find(u"target/kept")->body, "xy");  // the skipped body was consumed
  EXPECT_EQ(r->counters.files, 3);
  EXPECT_EQ(r->counters.outbytes, 5u);
}

TEST(DirCursor, ADirectoryThatCannotBeEnteredIsLoggedOnceAndItsSubtreeSkipped) {
  auto r = TestRestorer::make();
  r->fake.mkdir_p(u"target/locked");
  r->fake.fail(Op::kOpenDir, u"locked", -1, "Permission denied");
  TestDump d;
  d.dir(0, u"locked", 0x11).file(1, u"in", "12345", 0x21).dir(1, u"sub").file(2, u"deep", "678").file(0, u"after",
                                                                                                        "9");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(), "chdir error with <locked> attr=0021: Permission denied\n");
  EXPECT_EQ(walk(r->fake), (Calls{"make_dir locked", "open_dir locked", "create_file after", "set_times after",
                                  "close after"}));
  EXPECT_EQ(r->fake.find(u"target/after")->body, "9");
  EXPECT_EQ(r->counters.dirs, 2);
  EXPECT_EQ(r->counters.files, 3);
  EXPECT_EQ(r->counters.outbytes, 9u);
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, ADepthJumpIsLoggedEntersOneDirectoryAndNeverClimbsAboveTheTarget) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").file(3, u"deep", "x").dir(3, u"d3").file(4, u"deeper", "y").file(0, u"top", "z");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(), "nodes error: depth rises from 0 to 3 at record 2\n");
  EXPECT_EQ(r->fake.find(u"target/a/deep")->body, "x");
  EXPECT_EQ(r->fake.find(u"target/a/d3/deeper")->body, "y");
  EXPECT_EQ(r->fake.find(u"target/top")->body, "z");
  EXPECT_TRUE(r->fake.find(u"target/a")->times_set);
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, EntriesOnALevelPassedOverByAJumpAreSkippedAndTheJumpIsLogged) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"a").file(2, u"jumped", "1").file(1, u"between", "2").file(0, u"top", "3");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(), "nodes error: depth rises from 0 to 2 at record 2\n");
  EXPECT_EQ(r->fake.find(u"target/a/jumped")->body, "1");
  EXPECT_EQ(r->fake.calls_of("create_file between").size(), 0u);  // would land one level too high
  EXPECT_EQ(r->fake.find(u"target/top")->body, "3");
  EXPECT_EQ(r->counters.outbytes, 3u);
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, TwoHundredFiftyFiveLevelsHoldOneHandleEachAndReleaseThemAll) {
  auto r = TestRestorer::make();
  TestDump d;
  for (int depth = 0; depth <= 255; ++depth) d.dir(static_cast<std::uint8_t>(depth), u"d");
  d.file(255, u"bottom", "b").file(0, u"top", "t");
  int most_open = 0;
  r->fake.on_call = [&](const char*, const FakePlatform::Node*) {
    most_open = std::max(most_open, r->fake.open_handles());
  };
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("open_dir").size(), 0u);
  std::u16string path = u"target";  // the directory holding depth 255
  for (int depth = 0; depth < 255; ++depth) path += u"/d";
  ASSERT_NE(r->fake.find(path + u"/bottom"), nullptr);
  EXPECT_TRUE(r->fake.find(path + u"/d")->times_set);
  EXPECT_TRUE(r->fake.find(u"target/d")->times_set);
  // Three streams, the log, the start and the target, and the 256 held
  // directories; the deepest is closed before the bottom file is made.
  EXPECT_EQ(most_open, 6 + 256);
  EXPECT_EQ(r->fake.log_text(), "");
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, ExistingLevelsAreOpenedOneHandleEachAndClosedOnTheWayUp) {
  auto r = TestRestorer::make();
  std::u16string path = u"target";
  for (int depth = 0; depth < 40; ++depth) path += u"/e";
  r->fake.mkdir_p(path);
  TestDump d;
  for (int depth = 0; depth < 40; ++depth) d.dir(static_cast<std::uint8_t>(depth), u"e");
  d.file(40, u"f", "x").dir(0, u"second").file(1, u"g", "y");
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("open_dir e").size(), 40u);
  EXPECT_EQ(r->fake.calls_of("close e").size(), 40u);
  EXPECT_EQ(r->fake.find(path + u"/f")->body, "x");
  EXPECT_EQ(r->fake.find(u"target/second/g")->body, "y");
  expect_only_start_and_target_open(r->fake);
}

TEST(DirCursor, RefusedDirectoryNamesReachNoCallAndTheirSubtreesAreSkipped) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"..").file(1, u"escape", "e").dir(0, u"a/b").file(1, u"escape2", "f").file(0, u"ok", "g");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(),
            "mkdir error with <..>, attr=0010: the name is refused on this system\n"
            "chdir error with <..> attr=0020: the name is refused on this system\n"
            "mkdir error with <a/b>, attr=0010: the name is refused on this system\n"
            "chdir error with <a/b> attr=0020: the name is refused on this system\n");
  EXPECT_EQ(walk(r->fake), (Calls{"create_file ok", "set_times ok", "close ok"}));
  EXPECT_EQ(r->fake.find(u"target/ok")->body, "g");
  EXPECT_EQ(r->fake.anomalies, Calls{});
}

TEST(DirCursor, ADirectorySwappedForALinkWhileTheRunIsInsideIsNeverLeftByName) {
  // Someone moves the directory being filled away and puts a link to a
  // directory outside in its place: the walk stays with what it opened.
  auto r = TestRestorer::make();
  FakePlatform::Node* outside = r->fake.mkdir_p(u"outside");
  TestDump d;
  d.dir(0, u"a").dir(1, u"b").file(2, u"f", "1").file(1, u"g", "2").file(0, u"h", "3");
  bool swapped = false;
  r->fake.before_call = [&](Op op) {
    if (op == Op::kCreateFile && !swapped && r->fake.find(u"target/a/b") != nullptr) {
      swapped = true;
      r->fake.swap_for_link(r->fake.find(u"target/a"), outside);
    }
  };
  r->run(d);
  EXPECT_TRUE(outside->children.empty());
  EXPECT_EQ(r->fake.find(u"target/h")->body, "3");
  EXPECT_EQ(r->fake.find(u"target/a")->kind, FakePlatform::Kind::kLink);
  expect_only_start_and_target_open(r->fake);
}

}  // namespace

namespace {

// One entry of a run never takes the place of another: a later file of a
// name the run already restored is refused, a later directory too (with its
// subtree), whether the names are equal or the file system folds them into
// one; each directory left out says so, and one that exists but could not
// be opened says only that.
TEST(OneEntryNeverEatsAnother, LaterEntriesOfATakenNameAreRefusedAndEveryMissingDirectoryIsLogged) {
  const std::string made = "an entry restored in this run has this name";
  struct Case {
    const char* what;
    bool fold_case;
    TestDump dump;
    std::string log;
    std::vector<std::pair<std::u16string, std::string>> bodies;
  };
  std::vector<Case> cases = {
      {"the same file twice in a new directory", false,
       TestDump().dir(0, u"d").file(1, u"a", "1").file(1, u"a", "2"),
       "createfile error with <a>, attr=0020, size=1: " + made + "\n",
       {{u"target/d/a", "1"}}},
      {"files that differ by case in the target", true,
       TestDump().file(0, u"README", "1").file(0, u"readme", "2"),
       "createfile error with <readme>, attr=0020, size=1: " + made + "\n",
       {{u"target/README", "1"}}},
      {"directories that differ by case, with their subtrees", true,
       TestDump().dir(0, u"Docs").file(1, u"a.txt", "1").dir(0, u"docs").file(1, u"A.TXT", "2").file(0, u"z", "3"),
       "mkdir error with <docs>, attr=0010: " + made + "\nchdir error with <docs> attr=0020: " + made + "\n",
       {{u"target/Docs/a.txt", "1"}, {u"target/z", "3"}}},
      {"a file, then a directory of its name", false,
       TestDump().file(0, u"x", "1").dir(0, u"x"),
       "mkdir error with <x>, attr=0010: " + made + "\n",
       {{u"target/x", "1"}}},
  };
  for (Case& c : cases) {
    auto r = TestRestorer::make();
    r->fake.fold_case = c.fold_case;
    r->run(c.dump);
    EXPECT_EQ(r->fake.log_text(), c.log) << c.what;
    for (const auto& [path, body] : c.bodies) {
      ASSERT_NE(r->fake.find(path), nullptr) << c.what;
      EXPECT_EQ(r->fake.find(path)->body, body) << c.what;
    }
  }
}

TEST(OneEntryNeverEatsAnother, DirectoriesThatAreNotThereAfterwardsHaveAMkdirLineAndOnlyThey) {
  auto r = TestRestorer::make();
  r->fake.add_file(u"target/file", "was here");
  r->fake.add_fifo(u"target/fifo");
  r->fake.fail(Op::kOpenMadeDir, u"unopened", 1, "Too many open files");
  TestDump d;
  d.dir(0, u"file").dir(0, u"fifo").dir(0, u"unopened").file(1, u"in", "x");
  r->run(d);
  EXPECT_EQ(r->fake.log_text(),
            "mkdir error with <file>, attr=0010: File exists\n"
            "mkdir error with <fifo>, attr=0010: File exists\n"
            "chdir error with <unopened> attr=0020: Too many open files\n");
  EXPECT_EQ(r->fake.find(u"target/file")->body, "was here");
  EXPECT_TRUE(r->fake.find(u"target/unopened")->directory());
}

}  // namespace

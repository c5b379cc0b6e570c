#include <gtest/gtest.h>

#include "test_restorer.h"

namespace {

using Calls = std::vector<std::string>;

// The cursor, the writer and the driver together over the fake tree; what
// matters here is the walk: the calls that make, enter, time and leave
// directories and files, without the streams and the log.
Calls walk(const FakePlatform& fake) {
  Calls out;
  for (const std::string& c : fake.calls) {
    for (const char* op : {"open_dir", "set_times", "close", "make_dir", "create_file"}) {
      if (c.starts_with(op) && !c.starts_with("close $") && !c.starts_with("create_file $errors")) out.push_back(c);
    }
  }
  return out;
}

// At the end only the starting directory and the target stay open: the
// streams and the log are closed, and so is every directory entered.
void expect_only_start_and_target_open(const FakePlatform& fake, const std::string& what = "") {
  EXPECT_EQ(fake.open_labels(), (Calls{".", "target"})) << what;
  EXPECT_EQ(fake.bad_handle_uses, 0) << what;
}

struct WalkCase {
  const char* what;
  std::function<void(FakePlatform&)> prepare;  // the target, and failures, before the run
  TestDump dump;
  Calls walk;
  std::string log, tree;
};

// Every record is counted and every body consumed, whatever was skipped;
// a name reaches the system only as a plain entry.
TEST(DirCursor, WalksEntersSkipsAndLeavesInStepWithTheRecords) {
  const WalkCase cases[] = {
      {"a directory just made is entered through its own handle and timed when left",
       nullptr,
       TestDump().dir(0, u"A").file(1, u"f", "").dir(0, u"B").file(1, u"g", ""),
       {"make_dir A", "create_file f", "set_times f", "close f", "set_times A", "close A", "make_dir B",
        "create_file g", "set_times g", "close g", "set_times B", "close B"},
       "",
       "A/*!, A/f=*!, B/*!, B/g=*!"},
      {"a fall of several levels times the innermost first",
       nullptr,
       TestDump().dir(0, u"a").dir(1, u"b").dir(2, u"c").file(2, u"f", "").file(0, u"g", ""),
       {"make_dir a", "make_dir b", "make_dir c", "set_times c", "close c", "create_file f", "set_times f",
        "close f", "set_times b", "close b", "set_times a", "close a", "create_file g", "set_times g", "close g"},
       "",
       "a/*!, a/b/*!, a/b/c/*!, a/b/f=*!, g=*!"},
      {"an existing directory is reused with its attributes and takes the record's times; a file in a "
       "directory's place gets a line for the directory and one for its subtree",
       [](FakePlatform& f) {
         f.mkdir_p(u"target/old/inner");
         f.add_file(u"target/plain", "was here");
       },
       TestDump().dir(0, u"old").dir(1, u"inner").file(2, u"new", "n").dir(0, u"plain").file(1, u"under", "u").file(
           0, u"last", "l"),
       {"make_dir old", "open_dir old", "make_dir inner", "open_dir inner", "create_file new", "set_times new",
        "close new", "set_times inner", "close inner", "set_times old", "close old", "make_dir plain",
        "open_dir plain", "create_file last", "set_times last", "close last"},
       "mkdir error with <plain>, attr=0010: File exists\nchdir error with <plain> attr=0020: File exists\n",
       "last=l*!, old/!, old/inner/!, old/inner/new=n*!, plain=was here"},
      {"a first record below the top enters nothing, not even a directory named like the node stream",
       [](FakePlatform& f) { f.mkdir_p(u"target/$fsnodes"); },
       TestDump().file(1, u"lost", "abc").file(1, u"lost2", "").file(0, u"kept", "xy"),
       {"create_file kept", "set_times kept", "close kept"},
       "nodes error: the first record has depth 1, not 0\n",
       "$fsnodes/, kept=xy*!"},
      {"a record below a file enters nothing, not even a directory of the file's name",
       [](FakePlatform& f) { f.mkdir_p(u"target/kept"); },
       TestDump().file(0, u"kept", "xy").file(1, u"below", ""),
       {"create_file kept"},
       "createfile error with <kept>, attr=0020, size=2: a directory has this name\n"
       "chdir error with <kept> attr=0020: the record before it is not a directory\n",
       "kept/"},
      {"a directory that cannot be entered is logged once and its subtree skipped",
       [](FakePlatform& f) {
         f.mkdir_p(u"target/locked");
         f.fail(Op::kOpenDir, u"locked", -1, "Permission denied");
       },
       TestDump().dir(0, u"locked", 0x11).file(1, u"in", "12345", 0x21).dir(1, u"sub").file(2, u"deep", "678").file(
           0, u"after", "9"),
       {"make_dir locked", "open_dir locked", "create_file after", "set_times after", "close after"},
       "chdir error with <locked> attr=0021: Permission denied\n",
       "after=9*!, locked/"},
      {"refused directory names reach no call and their subtrees are skipped",
       nullptr,
       TestDump().dir(0, u"..").file(1, u"escape", "e").dir(0, u"a/b").file(1, u"escape2", "f").file(0, u"ok", "g"),
       {"create_file ok", "set_times ok", "close ok"},
       "mkdir error with <..>, attr=0010: the name is refused on this system\n"
       "chdir error with <..> attr=0020: the name is refused on this system\n"
       "mkdir error with <a/b>, attr=0010: the name is refused on this system\n"
       "chdir error with <a/b> attr=0020: the name is refused on this system\n",
       "ok=g*!"},
      {"a depth jump enters one directory and never climbs above the target",
       nullptr,
       TestDump().dir(0, u"a").file(3, u"deep", "x").dir(3, u"d3").file(4, u"deeper", "y").file(0, u"top", "z"),
       {"make_dir a", "create_file deep", "set_times deep", "close deep", "make_dir d3", "create_file deeper",
        "set_times deeper", "close deeper", "set_times d3", "close d3", "set_times a", "close a", "create_file top",
        "set_times top", "close top"},
       "nodes error: depth rises from 0 to 3 at record 2\n",
       "a/*!, a/d3/*!, a/d3/deeper=y*!, a/deep=x*!, top=z*!"},
      {"entries on a level passed over by a jump are skipped: they would land one level too high",
       nullptr,
       TestDump().dir(0, u"a").file(2, u"jumped", "1").file(1, u"between", "2").file(0, u"top", "3"),
       {"make_dir a", "create_file jumped", "set_times jumped", "close jumped", "set_times a", "close a",
        "create_file top", "set_times top", "close top"},
       "nodes error: depth rises from 0 to 2 at record 2\n",
       "a/*!, a/jumped=1*!, top=3*!"},
  };
  for (const WalkCase& c : cases) {
    auto r = TestRestorer::make();
    if (c.prepare) c.prepare(r->fake);
    EXPECT_EQ(r->run(c.dump), 0) << c.what;
    EXPECT_EQ(walk(r->fake), c.walk) << c.what;
    EXPECT_EQ(r->fake.log_text(), c.log) << c.what;
    EXPECT_EQ(r->tree(), c.tree) << c.what;
    EXPECT_EQ(r->counted(), c.dump.counts()) << c.what;
    EXPECT_EQ(r->fake.anomalies, Calls{}) << c.what;
    expect_only_start_and_target_open(r->fake, c.what);
  }
}

// The top 40 levels exist already and are opened; the rest are made.
TEST(DirCursor, TwoHundredFiftyFiveLevelsHoldOneHandleEachAndReleaseThemAll) {
  auto r = TestRestorer::make();
  std::u16string existing = u"target";
  for (int depth = 0; depth < 40; ++depth) existing += u"/d";
  r->fake.mkdir_p(existing);
  TestDump d;
  for (int depth = 0; depth <= 255; ++depth) d.dir(static_cast<std::uint8_t>(depth), u"d");
  d.file(255, u"bottom", "b").dir(0, u"second").file(1, u"top", "t");
  int most_open = 0;
  r->fake.on_call = [&](const char*, const FakePlatform::Node*) {
    most_open = std::max(most_open, r->fake.open_handles());
  };
  r->run(d);
  EXPECT_EQ(r->fake.calls_of("open_dir d").size(), 40u);
  EXPECT_EQ(r->fake.calls_of("close d").size(), 256u);
  std::u16string path = u"target";  // the directory holding depth 255
  for (int depth = 0; depth < 255; ++depth) path += u"/d";
  EXPECT_EQ(r->fake.find(path + u"/bottom")->body, "b");
  EXPECT_TRUE(r->fake.find(path + u"/d")->times_set);
  EXPECT_TRUE(r->fake.find(existing + u"/d")->times_set);
  EXPECT_TRUE(r->fake.find(existing)->times_set);  // reused, and timed after its contents
  EXPECT_EQ(r->fake.find(u"target/second/top")->body, "t");
  // Three streams, the log, the start and the target, and the 256 held
  // directories; the deepest is closed before the bottom file is made.
  EXPECT_EQ(most_open, 6 + 256);
  EXPECT_EQ(r->fake.log_text(), "");
  expect_only_start_and_target_open(r->fake);
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
  EXPECT_EQ(r->tree(), "a@, h=3*!");
  expect_only_start_and_target_open(r->fake);
}

}  // namespace

namespace {

// One entry of a run never takes the place of another: a later file of a
// name the run already restored is refused, a later directory too (with its
// subtree), whether the names are equal or the file system folds them into
// one; each directory left out says so, and one that exists but could not
// be opened says only that. With writers too, where the two names may go to
// writers in different batches, which they finish newest first.
TEST(OneEntryNeverEatsAnother, LaterEntriesOfATakenNameAreRefusedAndEveryMissingDirectoryIsLogged) {
  const std::string made = "an entry restored in this run has this name";
  // A new directory with `first`, a batch's worth of other files, `second`.
  const auto batch_apart = [](const std::u16string& first, const std::u16string& second) {
    TestDump d;
    d.dir(0, u"d").file(1, first, "1");
    for (char16_t i = 0; i < 70; ++i) d.file(1, {u'f', static_cast<char16_t>(u'0' + i / 10), static_cast<char16_t>(u'0' + i % 10)}, "");
    return d.file(1, second, "2");
  };
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
      {"the same file twice, a batch apart", false, batch_apart(u"a", u"a"),
       "createfile error with <a>, attr=0020, size=1: " + made + "\n",
       {{u"target/d/a", "1"}}},
      {"files that differ by case, a batch apart", true, batch_apart(u"Read.me", u"READ.ME"),
       "createfile error with <READ.ME>, attr=0020, size=1: " + made + "\n",
       {{u"target/d/Read.me", "1"}}},
  };
  for (bool writers : {false, true}) {
    for (Case& c : cases) {
      auto r = TestRestorer::make();
      if (writers) r->with_writers();
      r->fake.fold_case = c.fold_case;
      r->run(c.dump);
      EXPECT_EQ(r->fake.log_text(), c.log) << c.what << (writers ? ", with writers" : "");
      for (const auto& [path, body] : c.bodies) {
        ASSERT_NE(r->fake.find(path), nullptr) << c.what;
        EXPECT_EQ(r->fake.find(path)->body, body) << c.what << (writers ? ", with writers" : "");
      }
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

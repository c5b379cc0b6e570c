// Looking back at a restore: --compare tells every way a tree differs from
// its dump, --only restores a part of a dump, and --resume finishes an
// interrupted restore into the same tree one uninterrupted run gives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1715000000, 1234567);

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, lf; at < text.size(); at = lf + 1) {
    lf = text.find('\n', at);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(at, lf - at));
  }
  return lines;
}

// Runs --compare of the fixture's dump against its target; each expected
// line ending in ": " is a prefix (the times and words of the system follow).
void expect_compare(const Restore& f, const std::vector<std::string>& want, int status) {
  const RunResult r = f.s.run({"--compare", "dump/", "t"});
  EXPECT_EQ(r.status, status) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> got = lines_of(r.out);
  ASSERT_EQ(got.size(), want.size()) << r.out;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (want[i].ends_with(": ")) {
      EXPECT_TRUE(got[i].starts_with(want[i])) << got[i];
    } else {
      EXPECT_EQ(got[i], want[i]);
    }
  }
}

// A restored tree, then one change of each kind: each is told once, in the
// dump's order, the extra entry when its directory is done.
TEST(Compare, TellsEachKindOfDifferenceOnce) {
  Restore f(kT);
  CountingDump& d = f.d;
  d.file(0, u"a.txt", "same");
  d.raw_file(0, "bad/name", u"bad/name", "refused", 0x20, false);
  d.file(0, u"bytes.bin", pattern(70000, 1));
  d.dir(0, u"dir");
  d.file(1, u"inner.txt", "inner");
  d.file(1, u"inner.txt", "again", 0x20, false);
  d.file(0, u"gone.txt", "gone");
  d.dir(0, u"kind");
  d.file(0, u"ro.txt", "read-only", 0x21);
  d.file(0, u"size.txt", "size");
  d.file(0, u"time.txt", "time");
  f.log = {createfile_line("bad/name", 0x20, 7), createfile_line("inner.txt", 0x20, 5)};
  f.run();
  EXPECT_EQ(f.r.status, 0);
  const std::string refused_name = "refused bad\\x2Fname: the name is refused on this system";
  const std::string refused_twice = "refused dir/inner.txt: an entry restored in this run has this name";
  expect_compare(f, {refused_name, refused_twice, "entries=11 refused=2 differences=0"}, 0);

  const struct timespec t = unix_time(kT);
  struct Change {
    std::function<void()> make;
    std::string line;
  };
  const std::vector<Change> changes = {
      {[&] {
         std::string body = pattern(70000, 1);
         body[65540] ^= 1;
         write_file(f.t("bytes.bin"), body);
         set_mtime(f.t("bytes.bin"), t.tv_sec, t.tv_nsec);
       },
       "bytes bytes.bin: differ from byte 65540"},
      {[&] { ASSERT_EQ(unlink(f.t("gone.txt").c_str()), 0); }, "missing gone.txt"},
      {[&] {
         ASSERT_EQ(rmdir(f.t("kind").c_str()), 0);
         write_file(f.t("kind"), "");
       },
       "kind kind: directory in the dump, file on disk"},
      {[&] { ASSERT_EQ(chmod(f.t("ro.txt").c_str(), 0644), 0); }, "attr ro.txt: "},
      {[&] {
         write_file(f.t("size.txt"), "longer");
         set_mtime(f.t("size.txt"), t.tv_sec, t.tv_nsec);
       },
       "size size.txt: 4 in the dump, 6 on disk"},
      {[&] { set_mtime(f.t("time.txt"), t.tv_sec, t.tv_nsec + 100); }, "time time.txt: "},
      {[&] { write_file(f.t("extra.txt"), "not in the dump"); }, "extra extra.txt"},
  };
  std::vector<std::string> want = {refused_name};
  for (const Change& c : changes) {
    c.make();
    want.push_back(c.line);
    if (c.line.starts_with("bytes")) want.push_back(refused_twice);
  }
  want.push_back("entries=11 refused=2 differences=7");
  expect_compare(f, want, 3);
}

std::string level_name(int depth) {
  std::string n = std::to_string(depth) + "_";
  n.append(200 - n.size(), static_cast<char>('a' + depth % 26));
  return n;
}

// Depth is no limit: the tree is walked through handles as it was made.
TEST(Compare, TwoHundredFiftyFiveLevelsCompareClean) {
  Restore f(kT);
  for (int depth = 0; depth < 255; ++depth) {
    f.d.dir(depth, DumpBuilder::utf16(level_name(depth)));
    if (depth % 100 == 0) f.d.file(depth + 1, u"file.txt", "at " + std::to_string(depth), 0x21);
  }
  f.d.file(255, u"bottom.bin", pattern(300000, 255));
  f.run();
  f.expect_finished();
  expect_compare(f, {"entries=259 refused=0 differences=0"}, 0);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// Each path selects its entry, everything below it and the directories on
// the way (with their times); every other body is read past. A path that
// matches nothing is told and makes the status 3.
TEST(Only, RestoresTheNamedPartsAndTellsThePathsThatMatchNothing) {
  Restore f(kT);
  CountingDump& d = f.d;
  d.dir(0, u"a");
  d.file(1, u"x.txt", "left out", 0x20, false);
  d.dir(1, u"b");
  d.file(2, u"y.txt", "taken");
  d.dir(2, u"deeper");
  d.file(3, u"z.txt", pattern(40000, 3));
  d.file(1, u"c.txt", "left out", 0x20, false);
  d.file(0, u"top.txt", "top");
  d.dir(0, u"z", 0x10, false);
  d.file(1, u"w.txt", pattern(30000, 4), 0x20, false);
  d.file(0, u"last.txt", "after the parts", 0x20, false);
  f.run({"--only", "a/b", "--only=top.txt", "--only", "nope/x", "dump/", "t"});
  EXPECT_EQ(f.r.status, 3);
  EXPECT_EQ(f.r.err, "fsrestore: --only nope/x: no such entry in the dump\n");
  f.expect_log_and_outside();
  expect_tree(f.s.at("t"), d.expected, kT);
}

// A restore cut part-way, then resumed: the files it finished are kept, the
// one it cut is rewritten, and the tree is the one a single run leaves.
TEST(Resume, AfterAnInterruptedRunGivesTheTreeOfOneRun) {
  Restore f(kT);
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  d.dir(0, u"dir");
  for (int i = 0; i < 10; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f');  // not "f" + ...: GCC 12 warns wrongly about that
    d.file(1, DumpBuilder::utf16(name), pattern(3000, static_cast<std::uint32_t>(i)),
           static_cast<std::uint16_t>(0x20 + i % 2));
  }
  const std::size_t stall_at = static_cast<std::size_t>(d.bytes);
  d.file(1, u"stall.bin", pattern(400000, 5));
  d.file(0, u"never.txt", "never reached");
  f.prepare();
  const std::string content = s.at("dump/$content");
  const std::string body = read_file(content);
  // Cut once the ten files before it are whole: with writers they may be
  // finished after the reading thread has gone on to the stalled body.
  const auto whole = [&] {
    const struct timespec t = unix_time(kT);
    struct stat st;
    for (int i = 0; i < 10; ++i) {
      std::string name = std::to_string(i);
      name.insert(0, "t/dir/f");
      if (lstat(s.at(name).c_str(), &st) != 0 || st.st_mtim.tv_sec != t.tv_sec) return false;
    }
    return exists(s.at("t/dir/stall.bin"));
  };
  interrupt_run(s, {"dump/", "t"}, stall_at + 1000, whole, "the files before", SIGTERM);
  ASSERT_EQ(unlink(content.c_str()), 0);
  write_file(content, body);
  const RunResult r = s.run({"--resume", "-q", "dump/", "t"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "fsrestore: 10 files already restored, skipped\n");
  make_dir(s.at("one"));
  EXPECT_EQ(s.run({"-q", "dump/", "one"}).status, 0);
  TreeState one = tree_state(s.at("one")), resumed = tree_state(s.at("t"));
  one.erase(".");  // the targets themselves are not the dump's
  resumed.erase(".");
  expect_same_tree(one, resumed);
  expect_compare(f, {"entries=13 refused=0 differences=0"}, 0);
}

}  // namespace
}  // namespace e2e

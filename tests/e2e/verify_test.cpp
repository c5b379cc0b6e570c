// Looking back at a restore: --compare tells every way a tree differs from
// its dump, --only restores a part of a dump, and --resume finishes an
// interrupted restore into the same tree one uninterrupted run gives.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>
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
// With one thread and with four writers comparing the bodies, the output is
// the same byte for byte.
void expect_compare(const Restore& f, const std::vector<std::string>& want, int status) {
  const RunResult r = f.s.run({"--compare", "dump/", "t", "-j", "1"});
  const RunResult parallel = f.s.run({"--compare", "dump/", "t", "-j", "4"});
  EXPECT_EQ(parallel.out, r.out) << "-j 4";
  EXPECT_EQ(parallel.err, r.err) << "-j 4";
  EXPECT_EQ(parallel.status, r.status) << "-j 4";
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
  d.dir(0, u"ldir");
  d.file(0, u"lfile.txt", "link");
  d.file(0, u"ro.txt", "read-only", 0x21);
  d.file(0, u"size.txt", "size");
  d.file(0, u"time.txt", "time");
  f.log = {createfile_line("bad/name", 0x20, 7), createfile_line("inner.txt", 0x20, 5)};
  f.run();
  EXPECT_EQ(f.r.status, 0);
  const std::string refused_name = "refused bad\\x2Fname: the name is refused on this system";
  const std::string refused_twice = "refused dir/inner.txt: an entry restored in this run has this name";
  expect_compare(f, {refused_name, refused_twice, "entries=13 refused=2 differences=0"}, 0);
  // Links to what lies outside, with what the dump holds: told as links,
  // and nothing behind them is listed or read.
  const std::string outside = f.s.root + "/outside";
  make_dir(outside);
  write_file(outside + "/secret.txt", "private");
  write_file(outside + "/link.txt", "link");

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
      {[&] {
         ASSERT_EQ(rmdir(f.t("ldir").c_str()), 0);
         ASSERT_EQ(symlink(outside.c_str(), f.t("ldir").c_str()), 0);
       },
       "kind ldir: directory in the dump, link on disk"},
      {[&] {
         set_mtime(outside + "/link.txt", t.tv_sec, t.tv_nsec);
         ASSERT_EQ(unlink(f.t("lfile.txt").c_str()), 0);
         ASSERT_EQ(symlink((outside + "/link.txt").c_str(), f.t("lfile.txt").c_str()), 0);
       },
       "kind lfile.txt: file in the dump, link on disk"},
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
  want.push_back("entries=13 refused=2 differences=9");
  expect_compare(f, want, 3);
}

std::string level_name(int depth) {
  std::string n = std::to_string(depth) + "_";
  n.append(200 - n.size(), static_cast<char>('a' + depth % 26));
  return n;
}

// Depth is no limit: the tree is walked through handles as it was made
// (but where the system cannot show an entry as itself).
TEST(Compare, TwoHundredFiftyFiveLevelsCompareClean) {
  Restore f(kT);
  for (int depth = 0; depth < 255; ++depth) {
    f.d.dir(depth, DumpBuilder::utf16(level_name(depth)));
    if (depth % 100 == 0) f.d.file(depth + 1, u"file.txt", "at " + std::to_string(depth), 0x21);
  }
  f.d.file(255, u"bottom.bin", pattern(300000, 255));
  f.run();
  f.expect_finished();
  if (!windows()) return expect_compare(f, {"entries=259 refused=0 differences=0"}, 0);
  // Wine cannot show a directory as itself once its path passes about 4,000
  // characters: the first such one is told unreadable, nothing below it read.
  const RunResult r = f.s.run({"--compare", "dump/", "t"});
  const std::vector<std::string> got = lines_of(r.out);
  ASSERT_EQ(got.size(), 2u) << r.out;
  EXPECT_TRUE(got[0].starts_with("unreadable ") && got[0].ends_with(": the entry cannot be shown as itself"))
      << got[0];
  EXPECT_EQ(got[1], "entries=259 refused=0 differences=1");
  EXPECT_EQ(r.status, 3);
}

// Hundreds of files in several directories, a difference in every few:
// with writers comparing the bodies, the lines still come in the dump's
// order.
TEST(Compare, ManyFilesKeepTheDumpsOrderWithWriters) {
  Restore f(kT);
  const auto body = [](int dir, int i) {
    std::string text(3000, '.');
    text.replace(0, 8, std::to_string(dir * 1000 + i));
    return text;
  };
  const auto path = [](int dir, int i) {
    std::string text = "d0/f";
    text[1] = static_cast<char>('0' + dir);
    text.append(std::to_string(i)).append(".txt");
    return text;
  };
  for (int dir = 0; dir < 4; ++dir) {
    f.d.dir(0, DumpBuilder::utf16(path(dir, 0).substr(0, 2)));
    for (int i = 0; i < 100; ++i) f.d.file(1, DumpBuilder::utf16(path(dir, i).substr(3)), body(dir, i));
  }
  f.run();
  f.expect_finished();
  const struct timespec t = unix_time(kT);
  std::vector<std::string> want;
  for (int dir = 0; dir < 4; ++dir) {
    for (int i = 0; i < 100; ++i) {
      const std::string name = path(dir, i);
      std::string line;
      if ((i + dir) % 4 == 0) {
        std::string changed = body(dir, i);
        changed[2000] = '!';
        write_file(f.t(name), changed);
        set_mtime(f.t(name), t.tv_sec, t.tv_nsec);
        line.append("bytes ").append(name).append(": differ from byte 2000");
      } else if (i % 7 == 0) {
        set_mtime(f.t(name), t.tv_sec + 1, t.tv_nsec);
        line.append("time ").append(name).append(": ");
      }
      if (!line.empty()) want.push_back(line);
    }
  }
  std::string summary = "entries=404 refused=0 differences=";
  want.push_back(summary.append(std::to_string(want.size())));
  expect_compare(f, want, 3);
}

// --resume keeps a file only where the restore would have made it: a plain
// file with one name, shown as itself, with the record's size, time and
// word. Whatever else stands there with the record's size and time (a FIFO,
// a device, a hard link to a file outside, a link, one whose own size is the
// record's) is handled as the restore handles an existing entry: replaced; a name the restore refuses is refused before anything
// is opened, so nothing outside is opened, let alone kept, through it; and
// a kept file is this run's: a later record of its name does not replace it.
TEST(Resume, KeepsOnlyAFileTheRestoreWouldHaveMade) {
  Restore f(kT);
  f.watch_outside();
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  const struct timespec t = unix_time(kT);
  const std::string out = s.root + "/sentinel";
  const auto timed = [&](const std::string& path) { set_mtime(path, t.tv_sec, t.tv_nsec); };
  write_file(out + "/same.txt", "same");
  timed(out + "/same.txt");
  ASSERT_EQ(mkfifo((out + "/pipe").c_str(), 0644), 0);
  write_file(out + "/linked.txt", "linked");
  timed(out + "/linked.txt");
  write_file(out + "/hard.bin", "hard");
  timed(out + "/hard.bin");
  ASSERT_EQ(link((out + "/hard.bin").c_str(), f.t("hard").c_str()), 0);
  ASSERT_EQ(mkfifo(f.t("fifo").c_str(), 0644), 0);
  timed(f.t("fifo"));
  ASSERT_EQ(symlink((out + "/linked.txt").c_str(), f.t("link").c_str()), 0);
  timed(f.t("link"));
  write_file(f.t("kept.txt"), "kept");
  timed(f.t("kept.txt"));
  // Wine keeps neither POSIX links nor devices apart from what they are.
  std::vector<const char*> specials = {"fifo", "hard", "link"};
  if (!windows()) {
    ASSERT_EQ(symlink("target", f.t("slink").c_str()), 0);  // lstat size 6, as the record's
    timed(f.t("slink"));
    specials.push_back("slink");
    if (geteuid() == 0) {
      ASSERT_EQ(mknod(f.t("dev").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
      timed(f.t("dev"));
      specials.push_back("dev");
    }
  }
  d.raw_file(0, "../../sentinel/same.txt", u"../../sentinel/same.txt", "same", 0x20, false);
  d.raw_file(0, "../../sentinel/pipe", u"../../sentinel/pipe", "", 0x20, false);
  d.file(0, u"fifo", "");
  d.file(0, u"hard", "hard");
  d.file(0, u"link", "linked");
  for (const char* name : specials) {
    if (std::string(name) == "slink") d.file(0, u"slink", "target");
    if (std::string(name) == "dev") d.file(0, u"dev", "");
  }
  d.file(0, u"kept.txt", "kept");
  d.file(0, u"kept.txt", "more", 0x20, false);
  f.log = {createfile_line("../../sentinel/same.txt", 0x20, 4), createfile_line("../../sentinel/pipe", 0x20, 0)};
  // Wine can remove neither a FIFO nor a file link through a handle: it
  // refuses them (the restore does the same).
  if (windows()) {
    for (const char* name : {"fifo", "link"}) {
      f.log.push_back(createfile_line(name, 0x20, std::string(name) == "fifo" ? 0 : 6));
      d.expected.erase(name);
    }
  }
  f.log.push_back(createfile_line("kept.txt", 0x20, 4));
  // A writer waiting on the FIFO outside goes on only if someone opens it.
  std::atomic<bool> opened{false};
  std::thread writer([&] {
    const int fd = open((out + "/pipe").c_str(), O_WRONLY);
    opened = true;
    if (fd >= 0) close(fd);
  });
  f.run({"--resume", "-q", "dump/", "t"});
  const bool released = opened;
  const int reader = open((out + "/pipe").c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (reader >= 0) close(reader);
  EXPECT_FALSE(released) << "the FIFO outside was opened";
  EXPECT_EQ(f.r.status, 0);
  EXPECT_NE(f.r.err.find(" restored; 1 file already restored, skipped\n"), std::string::npos) << f.r.err;
  f.expect_log_and_outside();
  for (const char* name : specials) {
    struct stat st;
    if (!d.expected.count(name)) {
      ASSERT_EQ(unlink(f.t(name).c_str()), 0);
      continue;
    }
    ASSERT_EQ(lstat(f.t(name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << name;
  }
  expect_tree(f.t(""), d.expected, kT);
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
  EXPECT_EQ(f.r.err,
            "fsrestore: 6 entries restored; 5 entries skipped by --only\n"
            "fsrestore: --only nope/x: no such entry in the dump\n");
  f.expect_log_and_outside();
  expect_tree(f.s.at("t"), d.expected, kT);
}

// A path names what --list shows: after a rise of two levels, the entry in
// the directory last seen; a first record below the top by its name alone
// (found, though the restore leaves it out: it counts as not restored, at
// the top's path "."); and a path left behind leads no later record to be
// taken.
TEST(Only, PathsAreThoseListShowsAfterDepthJumps) {
  struct Case {
    std::vector<std::string> only;
    ExpectedTree restored;
    int status;
    std::string err;
  } cases[] = {
      {{"A/x", "z"},
       {{"A", std::nullopt}, {"A/x", "ax"}},
       0,
       "fsrestore: .: cannot enter: the dump's depths skip a level here; 1 entry below it not restored\n"
       "fsrestore: 1 of 3 entries not restored; see $errors\n"
       "fsrestore: the dump is damaged or unreadable; see $errors\n"
       "fsrestore: 2 entries restored; 5 entries skipped by --only\n"},
      {{"P/Q/x", "A/B"},
       {{"P", std::nullopt}, {"P/Q", std::nullopt}, {"P/Q/x", "pqx"}, {"A", std::nullopt}},
       3,
       "fsrestore: the dump is damaged or unreadable; see $errors\n"
       "fsrestore: 4 entries restored; 4 entries skipped by --only\n"
       "fsrestore: --only A/B: no such entry in the dump\n"},
  };
  for (const Case& c : cases) {
    Restore f(kT);
    CountingDump& d = f.d;
    d.file(2, u"z", "z", 0x20, false);
    d.dir(0, u"P", 0x10, false);
    d.dir(1, u"Q", 0x10, false);
    d.file(2, u"x", "pqx", 0x20, false);
    d.dir(0, u"A", 0x10, false);
    d.file(2, u"x", "ax", 0x20, false);
    d.dir(0, u"B", 0x10, false);
    d.file(1, u"y", "by", 0x20, false);
    d.expected = c.restored;
    f.log = {"nodes error: the first record has depth 2, not 0", depth_line(0, 2, 6)};
    std::vector<std::string> args;
    for (const std::string& path : c.only) args.insert(args.end(), {"--only", path});
    args.insert(args.end(), {"dump/", "t"});
    f.run(args);
    EXPECT_EQ(f.r.status, c.status) << c.only[0];
    EXPECT_EQ(f.r.err, c.err) << c.only[0];
    f.expect_log_and_outside();
    expect_tree(f.s.at("t"), d.expected, kT);
  }
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
  EXPECT_EQ(r.err, "fsrestore: 3 entries restored; 10 files already restored, skipped\n");
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

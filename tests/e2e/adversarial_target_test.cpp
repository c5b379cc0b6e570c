// A hostile target and hostile depths: links that lead out of the target,
// depth jumps that would climb above it, and the run's own streams and log
// inside it. Nothing outside the target may change, and the entries after
// each hostile one still come back.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1670000000, 2718281);
constexpr std::uint16_t kChildAttr = 0x21;

void symlink_at(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// Links the dump's entries meet in the target. Linux replaces a link where a
// file goes and never enters one where a directory goes. Wine cannot open a
// file link itself, so the Windows build may refuse such a file (logged)
// instead of replacing it; a link is never written through on either.
TEST(AdversarialTarget, LinksInTheTargetLeadNowhere) {
  Restore f(kT);
  f.watch_outside();
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  const std::string sentinel = s.root + "/sentinel";
  symlink_at(sentinel + "/dir", s.at("t/dlink"));       // where a directory goes
  symlink_at(sentinel + "/file.txt", s.at("t/flink"));  // where a file goes
  ASSERT_EQ(link((sentinel + "/hard.txt").c_str(), s.at("t/hlink").c_str()), 0);
  symlink_at(sentinel + "/created_by_dangle", s.at("t/dangle"));  // dangling, where a file goes
  symlink_at(sentinel + "/made_dir", s.at("t/dangle_dir"));       // dangling, where a directory goes
  symlink_at(sentinel + "/file.txt", s.at("t/flink_as_dir"));     // a file link where a directory goes
  symlink_at(sentinel + "/dir", s.at("t/dlink_as_file"));         // a directory link where a file goes
  symlink_at("loop", s.at("t/loop"));
  // A directory the dump reuses, holding a link where its subdirectory goes.
  make_dir(s.at("t/keep"));
  symlink_at(sentinel + "/dir", s.at("t/keep/inner"));
  set_mtime(s.at("t/keep"), 1500000000, 0);

  // A directory the program must not enter: its subtree is skipped.
  auto linked_dir = [&](int depth, const std::u16string& name) {
    d.dir(depth, name, 0x10, false);
    d.file(depth + 1, u"escape.txt", "ESCAPE", kChildAttr);
    d.dir(depth + 1, u"made_inside");
    d.file(depth + 2, u"deeper.txt", "DEEPER");
    f.log.push_back(mkdir_line(dump_text(name), 0x10));
    f.log.push_back(chdir_line(dump_text(name), kChildAttr));
    d.in_step(depth);
  };
  // Read-only and hidden: the word must land on the new file, not the link's target.
  struct LinkedFile {
    std::u16string name;
    std::string body;
  };
  const std::vector<LinkedFile> linked_files = {{u"flink", "through a symlink?"},
                                                {u"hlink", "through a hard link?"},
                                                {u"dangle", "through a dangling link?"},
                                                {u"dlink_as_file", "over a directory link?"},
                                                {u"loop", "over a looping link?"}};
  linked_dir(0, u"dlink");
  for (const auto& l : linked_files) {
    d.file(0, l.name, l.body, 0x23);
    d.in_step(0);
  }
  linked_dir(0, u"dangle_dir");
  linked_dir(0, u"flink_as_dir");
  d.dir(0, u"keep");
  linked_dir(1, u"inner");
  d.file(1, u"in_keep.txt", "in keep");
  d.file(0, u"last.txt", "last");

  f.run();
  // Every link where a directory goes is left standing, and on Windows any
  // file link it refused; the other links are now plain read-only files.
  std::size_t file_log_at = 2;  // after dlink's lines
  for (const auto& l : linked_files) {
    const std::string name = utf8(l.name);
    struct stat st;
    ASSERT_EQ(lstat(f.t(name).c_str(), &st), 0) << name;
    if (windows() && !S_ISREG(st.st_mode)) {
      f.log.insert(f.log.begin() + static_cast<long>(file_log_at++),
                   createfile_line(name, 0x23, static_cast<long long>(l.body.size())));
      d.expected.erase(name);  // the refused link keeps its own times
      continue;
    }
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_nlink, 1u) << name;
    EXPECT_EQ(st.st_mode & 0222, 0u) << name << " is not read-only";
  }
  // Links where a directory goes stay as they were; once they are taken
  // away the target holds what the dump says ("keep" was reused as it is).
  for (const char* link : {"dangle_dir", "dlink", "flink_as_dir", "keep/inner"}) {
    struct stat st;
    ASSERT_EQ(lstat(f.t(link).c_str(), &st), 0) << link;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
  for (const auto& l : linked_files) {
    if (!d.expected.count(utf8(l.name))) {
      ASSERT_EQ(unlink(f.t(utf8(l.name)).c_str()), 0);
    }
  }
  for (const char* link : {"dangle_dir", "dlink", "flink_as_dir", "keep/inner"}) {
    ASSERT_EQ(unlink(f.t(link).c_str()), 0) << link;
  }
  f.expect_restored({"keep"});
}

// A first record one level down, a chain of 256 nested directories, then
// depths that jump by up to 255 levels and fall back. One directory is
// entered per rise, each jump has its line (records count from 1), and the
// process never climbs above the target.
TEST(AdversarialTarget, DepthJumpsNeverClimbAboveTheTarget) {
  Restore f(kT);
  f.watch_outside();
  CountingDump& d = f.d;
  std::vector<std::string>& log = f.log;
  ExpectedTree want;
  d.jump_log = &log;
  // Before any directory: nothing of the dump to go into, so nothing is
  // entered, not even a directory named like the node stream.
  d.file(1, u"orphan.txt", "ORPHAN", 0x20, false);
  log.push_back("nodes error: the first record has depth 1, not 0");
  std::string chain;
  for (int depth = 0; depth <= 255; ++depth) {
    d.dir(depth, u"d");
    chain += depth ? "/d" : "d";
    want[chain] = std::nullopt;
  }
  d.file(255, u"f255.txt", "at depth 255");
  want[chain.substr(0, chain.size() - 2) + "/f255.txt"] = "at depth 255";
  d.file(128, u"f128.txt", "at depth 128");
  want[chain.substr(0, 2 * 128 - 1) + "/f128.txt"] = "at depth 128";
  d.file(0, u"back0.txt", "back at the top");
  want["back0.txt"] = "back at the top";

  // 0 -> 255: enters j once; the fall to 254 steps up once, and the levels
  // passed over are skipped.
  d.dir(0, u"j");
  want["j"] = std::nullopt;
  d.file(255, u"jumped.txt", "jumped");
  want["j/jumped.txt"] = "jumped";
  d.dir(255, u"jd");
  want["j/jd"] = std::nullopt;
  d.file(255, u"jumped2.txt", "jumped too");
  want["j/jumped2.txt"] = "jumped too";
  d.file(254, u"passed_over.txt", "PASSED OVER");
  d.file(1, u"level1.txt", "LEVEL 1");
  d.file(0, u"after_jump.txt", "after the jump");
  want["after_jump.txt"] = "after the jump";

  // Jumps in stages, each entering one directory: a/b/c, then falls that
  // must land in a and then in the target.
  d.dir(0, u"a");
  d.dir(2, u"b");
  d.dir(3, u"c");
  d.file(255, u"in_c.txt", "in c");
  d.file(2, u"in_a.txt", "in a");
  d.file(0, u"after_stages.txt", "after the stages");
  for (const char* p : {"a", "a/b", "a/b/c"}) want[p] = std::nullopt;
  want["a/b/c/in_c.txt"] = "in c";
  want["a/in_a.txt"] = "in a";
  want["after_stages.txt"] = "after the stages";

  // A jump after a file, and a jump into a refused name.
  d.file(0, u"plain.txt", "plain");
  want["plain.txt"] = "plain";
  d.file(200, u"under_a_file.txt", "NOPE", kChildAttr);
  log.push_back(chdir_line("plain.txt", kChildAttr));
  d.file(0, u"after_file_jump.txt", "after the file jump");
  want["after_file_jump.txt"] = "after the file jump";
  d.dir(0, u"..");
  log.push_back(mkdir_line("..", 0x10));
  d.dir(255, u"escape", 0x12);
  log.push_back(chdir_line("..", 0x12));
  d.file(1, u"escape1.txt", "ESCAPE");
  d.file(0, u"after_dotdot.txt", "after the dot-dot jump");
  want["after_dotdot.txt"] = "after the dot-dot jump";

  // The node stream ends 255 levels down: z still gets its times.
  d.dir(0, u"z");
  want["z"] = std::nullopt;
  d.file(255, u"end.txt", "the end");
  want["z/end.txt"] = "the end";

  f.run();
  d.expected = want;
  f.expect_restored();
}

// Run without arguments in the directory that holds the dump: everything
// is restored there; entries named like the streams or the log, or hard
// links to them under other names, are refused by identity (a createfile
// line each, body consumed), never truncated or replaced.
TEST(AdversarialTarget, TheRunsOwnStreamsInsideTheTarget) {
  const std::vector<std::string> own = {"$fsnodes", "$fsnames", "$content", "$errors"};
  Restore f(kT, "", false);
  f.watch_outside({"w/$errors", "w/alias$errors", "w/first", "w/last.txt", "w/after$fsnodes.txt",
                   "w/after$fsnames.txt", "w/after$content.txt", "w/after$errors.txt"});
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  write_file(s.at("$errors"), "stale log line\n");  // replaced at start-up, then protected
  d.dir(0, u"first");
  d.file(1, u"f.txt", "first");
  for (const std::string& name : own) {
    const std::string body = "would overwrite " + name;
    d.file(0, DumpBuilder::utf16(name), body, 0x20, false);
    f.log.push_back(createfile_line(name, 0x20, static_cast<long long>(body.size())));
    d.file(0, DumpBuilder::utf16("after" + name + ".txt"), "after " + name);
  }
  // Hard links to the streams, placed in the target under other names.
  // An old log is replaced at start-up, not truncated, so a link to it
  // is an ordinary file of the target by then.
  for (const std::string& name : own) {
    const std::string body = "through the alias of " + name;
    const bool lands = name == "$errors";
    d.file(0, DumpBuilder::utf16("alias" + name), body, 0x20, lands);
    if (!lands) f.log.push_back(createfile_line("alias" + name, 0x20, static_cast<long long>(body.size())));
  }
  // As a directory: it exists as a file, so the subtree is skipped.
  d.dir(0, u"$content", 0x10, false);
  d.file(1, u"inside.txt", "INSIDE", kChildAttr);
  f.log.push_back(mkdir_line("$content", 0x10));
  f.log.push_back(chdir_line("$content", kChildAttr));
  d.file(0, u"last.txt", "last");
  f.prepare();
  for (const std::string& name : own) {
    ASSERT_EQ(link(s.at(name).c_str(), s.at("alias" + name).c_str()), 0) << name;
  }

  f.run({});
  // Checks among the rest that the streams kept their bytes, and with them
  // every alias.
  f.expect_finished();
  expect_times(s.at("first"), kT);
  for (const auto& [path, body] : d.expected) {
    if (body) {
      EXPECT_EQ(read_file(s.at(path)), *body) << path;
    }
  }
}

// The protection follows identity, not names: with the dump elsewhere, an
// entry named $errors or $content in the target is an ordinary file, while
// a stream of the dump (a prefixed name) in the target is not.
TEST(AdversarialTarget, StreamNamesAreProtectedByIdentity) {
  Restore f(kT, "t/img_");
  CountingDump& d = f.d;
  d.file(0, u"$errors", "an ordinary file here");
  d.file(0, u"$content", "ordinary too");
  d.file(0, u"img_$fsnames", "WOULD TRUNCATE", 0x20, false);
  f.log.push_back(createfile_line("img_$fsnames", 0x20, 14));
  d.file(0, u"last.txt", "last");
  f.prepare();
  const std::string names_before = read_file(f.t("img_$fsnames"));
  f.run();
  f.expect_finished();
  EXPECT_EQ(read_file(f.t("img_$fsnames")), names_before);
  for (const auto& [path, body] : d.expected) EXPECT_EQ(read_file(f.t(path)), *body) << path;
  EXPECT_EQ(list_dir(f.s.at("t")), (std::vector<std::string>{"$content", "$errors", "img_$content",
                                                             "img_$fsnames", "img_$fsnodes", "last.txt"}));
}

}  // namespace
}  // namespace e2e

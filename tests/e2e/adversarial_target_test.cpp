// A hostile target and hostile depths: links that lead out of the target,
// depth jumps that would climb above it, the run's own streams and log
// inside it, and a base path that does not fit. Nothing outside the target
// may change, and the entries after each hostile one still come back.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  make_sentinels(s);
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

  CountingDump d(s.at("dump/"), kT);
  std::vector<std::string> log;
  int serial = 0;
  auto after = [&](int depth) {
    d.file(depth, DumpBuilder::utf16("after_" + std::to_string(serial) + ".txt"),
           "after " + std::to_string(serial) + pattern(20, serial));
    ++serial;
  };
  // A directory the program must not enter: its subtree is skipped.
  auto linked_dir = [&](int depth, const std::u16string& name) {
    d.dir(depth, name, 0x10, false);
    d.file(depth + 1, u"escape.txt", "ESCAPE", kChildAttr);
    d.dir(depth + 1, u"made_inside");
    d.file(depth + 2, u"deeper.txt", "DEEPER");
    log.push_back(chdir_line(dump_text(name), kChildAttr));
    after(depth);
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
  for (const auto& f : linked_files) {
    d.file(0, f.name, f.body, 0x23);
    after(0);
  }
  linked_dir(0, u"dangle_dir");
  linked_dir(0, u"flink_as_dir");
  d.dir(0, u"keep");
  linked_dir(1, u"inner");
  d.file(1, u"in_keep.txt", "in keep");
  d.file(0, u"last.txt", "last");
  ASSERT_TRUE(d.builder.close());

  const TreeState before = outside(s);
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);

  // Times first: reading moves them. A link Windows refused keeps its own.
  for (const auto& [path, body] : d.expected) {
    struct stat st;
    if (path == "keep" || (windows() && lstat(s.at("t/" + path).c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
      continue;
    }
    expect_times(s.at("t/" + path), kT);
  }
  // Every link where a directory goes is left standing, and on Windows any
  // file link it refused; the other links are now plain read-only files.
  std::size_t file_log_at = 1;  // after dlink's line
  for (const auto& f : linked_files) {
    const std::string name = utf8(f.name);
    struct stat st;
    ASSERT_EQ(lstat(s.at("t/" + name).c_str(), &st), 0) << name;
    if (windows() && !S_ISREG(st.st_mode)) {
      log.insert(log.begin() + static_cast<long>(file_log_at++),
                 createfile_line(name, 0x23, static_cast<long long>(f.body.size())));
      continue;
    }
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_nlink, 1u) << name;
    EXPECT_EQ(st.st_mode & 0222, 0u) << name << " is not read-only";
    EXPECT_EQ(read_file(s.at("t/" + name)), f.body);
  }
  std::vector<std::string> top = {"dangle_dir", "dlink", "flink_as_dir"}, in_keep = {"inner"};
  for (const auto& [path, body] : d.expected) {
    const bool kept = path.rfind("keep/", 0) == 0;
    (kept ? in_keep : top).push_back(kept ? path.substr(5) : path);
    if (body && path != "flink" && path != "hlink" && path != "dangle" && path != "dlink_as_file" &&
        path != "loop") {
      EXPECT_EQ(read_file(s.at("t/" + path)), *body) << path;
    }
  }
  std::sort(top.begin(), top.end());
  std::sort(in_keep.begin(), in_keep.end());
  EXPECT_EQ(list_dir(s.at("t")), top);
  EXPECT_EQ(list_dir(s.at("t/keep")), in_keep);
  expect_log(read_file(s.at("$errors")), log);
  expect_same_tree(before, outside(s));
}

// A chain of 256 nested directories, then depths that jump by up to 255
// levels and fall back. One directory is entered per rise and the process
// never climbs above the target.
TEST(AdversarialTarget, DepthJumpsNeverClimbAboveTheTarget) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  make_sentinels(s);

  CountingDump d(s.at("dump/"), kT);
  ExpectedTree want;
  std::vector<std::string> log;
  d.jump_log = &log;
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
  ASSERT_TRUE(d.builder.close());

  const TreeState before = outside(s);
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
  expect_tree(s.at("t"), want, kT);
  expect_log(read_file(s.at("$errors")), log);
  expect_same_tree(before, outside(s));
}

// Run without arguments in the directory that holds the dump: entries named
// like the streams or the log, or hard links to them under other names, are
// refused by identity (a createfile line each, body consumed), never
// truncated or replaced.
TEST(AdversarialTarget, TheRunsOwnStreamsInsideTheTarget) {
  Scratch s;
  make_sentinels(s);
  const std::vector<std::string> own = {"$fsnodes", "$fsnames", "$content", "$errors"};

  // No arguments: the dump, the log and the target are one directory.
  {
    write_file(s.at("$errors"), "stale log line\n");  // replaced at start-up, then protected
    CountingDump d(s.at(""), kT);
    std::vector<std::string> log;
    d.file(0, u"first.txt", "first");
    for (const std::string& name : own) {
      const std::string body = "would overwrite " + name;
      d.file(0, DumpBuilder::utf16(name), body, 0x20, false);
      log.push_back(createfile_line(name, 0x20, static_cast<long long>(body.size())));
      d.file(0, DumpBuilder::utf16("after" + name + ".txt"), "after " + name);
    }
    // Hard links to the streams, placed in the target under other names.
    // An old log is replaced at start-up, not truncated, so a link to it
    // is an ordinary file of the target by then.
    for (const std::string& name : own) {
      const std::string body = "through the alias of " + name;
      const bool lands = name == "$errors";
      d.file(0, DumpBuilder::utf16("alias" + name), body, 0x20, lands);
      if (!lands) log.push_back(createfile_line("alias" + name, 0x20, static_cast<long long>(body.size())));
    }
    // As a directory: it exists as a file, so the subtree is skipped.
    d.dir(0, u"$content", 0x10, false);
    d.file(1, u"inside.txt", "INSIDE", kChildAttr);
    log.push_back(chdir_line("$content", kChildAttr));
    d.file(0, u"last.txt", "last");
    ASSERT_TRUE(d.builder.close());
    std::vector<std::string> streams;
    for (const std::string& name : own) {
      if (name != "$errors") streams.push_back(read_file(s.at(name)));
      ASSERT_EQ(link(s.at(name).c_str(), s.at("alias" + name).c_str()), 0) << name;
    }

    const std::vector<std::string> skip = {
        "w/$errors",           "w/alias$errors",      "w/first.txt",         "w/last.txt",
        "w/after$fsnodes.txt", "w/after$fsnames.txt", "w/after$content.txt", "w/after$errors.txt"};
    const TreeState before = outside(s, skip);
    RunResult r = s.run({});
    expect_clean_output(r, "", d.dirs, d.files, d.bytes);
    // The streams are unchanged: their bytes, and with them every alias.
    expect_same_tree(before, outside(s, skip));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(read_file(s.at(own[i])), streams[i]) << own[i];
    expect_log(read_file(s.at("$errors")), log);
    for (const auto& [path, body] : d.expected) EXPECT_EQ(read_file(s.at(path)), *body) << path;
  }

  // The protection follows identity, not names: with the dump in a
  // directory of its own, an entry named $errors or $content in the target
  // is an ordinary file, while a prefixed stream name in the target is not.
  {
    make_dir(s.at("t2"));
    CountingDump d(s.at("t2/img_"), kT);
    std::vector<std::string> log;
    d.file(0, u"$errors", "an ordinary file here");
    d.file(0, u"$content", "ordinary too");
    d.file(0, u"img_$fsnames", "WOULD TRUNCATE", 0x20, false);
    log.push_back(createfile_line("img_$fsnames", 0x20, 14));
    d.file(0, u"last.txt", "last");
    ASSERT_TRUE(d.builder.close());
    const std::string names_before = read_file(s.at("t2/img_$fsnames"));
    RunResult r = s.run({"t2/img_", "t2"});
    expect_clean_output(r, "t2/img_", d.dirs, d.files, d.bytes);
    expect_log(read_file(s.at("$errors")), log);
    EXPECT_EQ(read_file(s.at("t2/img_$fsnames")), names_before);
    for (const auto& [path, body] : d.expected) EXPECT_EQ(read_file(s.at("t2/" + path)), *body) << path;
    EXPECT_EQ(list_dir(s.at("t2")), (std::vector<std::string>{"$content", "$errors", "img_$content",
                                                              "img_$fsnames", "img_$fsnodes", "last.txt"}));
  }
}

// Base paths that leave no room for a stream suffix in the name buffer end
// the run with status 1 after the basepath line, touching nothing.
TEST(AdversarialTarget, BasePathTooLong) {
  Scratch s;
  make_dir(s.at("t"));
  make_sentinels(s);
  const TreeState before = outside(s, {});
  // 32760 units with the longest suffix and the terminator: one too many.
  std::vector<std::string> bases = {std::string(32760, 'b')};
  if (!windows()) {
    // One that fits in units but not as a path, and 32760 units spelt as
    // four UTF-8 bytes a character.
    bases.push_back(std::string(32759, 'c'));
    std::string smiles;
    for (int i = 0; i < 16380; ++i) smiles += "\xF0\x9F\x98\x80";
    bases.push_back(smiles);
  } else {
    // Windows limits the whole command line to 32767 characters, so the
    // longest base path that reaches the program still fits the buffer.
    bases.push_back(std::string(32700, 'c'));
  }
  for (const std::string& base : bases) {
    SCOPED_TRACE(base.size());
    RunResult r = s.run({base, "t"});
    if (windows() && base.size() == 32760 && r.out.empty()) {
      EXPECT_EQ(r.status, 1);  // the system refused to start it
    } else {
      expect_startup_failure(r, base);
    }
    EXPECT_FALSE(exists(s.at("$errors")));
  }
  EXPECT_TRUE(list_dir(s.at("t")).empty());
  expect_same_tree(before, outside(s, {}));
}

}  // namespace
}  // namespace e2e

// Someone else writes in the target while the restore runs. An unprivileged
// account (uid 65534) owns the target and the directories the dump reuses;
// a $content FIFO holds the run inside a body while that account moves a
// directory away, swaps the file being written or a directory about to be
// reused for a link, or plants $errors before the run. Nothing outside the
// target may change, and every entry after the swap still lands inside it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1690000000, 1234567);
constexpr uid_t kNobody = 65534;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The target and a place outside it both belong to the attacker; a root-only
// file with its own attribute word waits in the sentinel tree.
void make_race_ground(Restore& f, std::vector<std::string> skip = {"w/t", "w/dump"}) {
  const Scratch& s = f.s;
  f.watch_outside(std::move(skip));
  s.open_to_others();
  ASSERT_EQ(chown(s.at("t").c_str(), kNobody, kNobody), 0);
  make_dir(s.root + "/attacker");
  ASSERT_EQ(chown((s.root + "/attacker").c_str(), kNobody, kNobody), 0);
  const std::string secret = s.root + "/sentinel/secret.txt";
  write_file(secret, "ROOT ONLY");
  ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
  ASSERT_EQ(lsetxattr(secret.c_str(), "user.DOSATTRIB", "0x80", 4, 0) == 0 || errno == ENOTSUP, true);
  set_mtime(secret, 1400000000, 900);
  set_mtime(s.root + "/sentinel", 1400000000, 700);
}

// A directory in the target that the attacker owns and the dump reuses.
void attacker_dir(const Scratch& s, const std::string& rel) {
  make_dir(s.at(rel));
  ASSERT_EQ(chown(s.at(rel).c_str(), kNobody, kNobody), 0);
}

// Restores dump/ into t with $content as a FIFO: feeds `pause_at` bytes,
// waits until `appears` exists (the file being written, or one created just
// before the swap), runs `act`, then feeds the rest.
void run_paused(Restore& f, std::size_t pause_at, const std::string& appears, const std::function<void()>& act) {
  f.prepare();
  const std::string fifo = f.s.at("dump/$content");
  const std::string body = read_file(fifo);
  EXPECT_LE(pause_at, body.size());
  EXPECT_EQ(unlink(fifo.c_str()), 0);
  FifoWriter::make(fifo);
  FifoWriter feed(fifo);
  Child child;
  if (!open_all({&feed}) || !f.s.start(child, {"dump/", "t"})) return;
  if (feed.write(body.substr(0, pause_at)) &&
      wait_until([&] { return exists(appears); }, kRunTimeoutSeconds, appears)) {
    act();
    feed.write(body.substr(pause_at));
  }
  feed.close();
  f.r = f.s.finish(child);
}

// Checks the times, then the bodies, of these entries of the dump.
void expect_entries(const Restore& f, const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    SCOPED_TRACE(p);
    ASSERT_TRUE(f.d.expected.count(p)) << p;
    expect_times(f.t(p), kT);
    if (f.d.expected.at(p)) {
      EXPECT_EQ(read_file(f.t(p)), *f.d.expected.at(p));
    }
  }
}

// The restore is inside a reused directory when its owner moves it out of
// the target and puts a link to the sentinel directory in its place. The
// step up must return to the target itself: the entries after it, one of
// them named like a root-owned file in the attacker's directory, land in
// the target. What was moved away is the attacker's.
TEST(Race, ReusedDirectoryMovedOutWhileInsideIt) {
  Restore f(kT);
  make_race_ground(f, {"w/t", "w/dump", "attacker/moved"});
  const Scratch& s = f.s;
  attacker_dir(s, "t/shared");
  const std::string attacker = s.root + "/attacker", victim = attacker + "/victim.txt";
  write_file(victim, "root's file in the attacker's directory");
  set_mtime(victim, 1400000000, 300);
  set_mtime(attacker, 1400000000, 500);

  CountingDump& d = f.d;
  d.dir(0, u"shared");
  d.file(1, u"in1.bin", pattern(40000, 1));
  d.file(1, u"in2.txt", "written after the move", 0x21);
  d.file(0, u"victim.txt", "restored victim");
  d.file(0, u"after.txt", "after the step up");
  d.dir(0, u"later");
  d.file(1, u"deep.txt", "in a directory made after the step up");

  run_paused(f, 1000, f.t("shared/in1.bin"), [&] {
    EXPECT_EQ(run_as_nobody("mv " + quoted(f.t("shared")) + " " + quoted(attacker + "/moved") + " && ln -s " +
                            quoted(s.root + "/sentinel/dir") + " " + quoted(f.t("shared"))),
              0);
    // The move is the attacker's change; everything else there is compared.
    set_mtime(attacker, 1400000000, 500);
  });
  f.expect_finished();
  expect_entries(f, {"victim.txt", "after.txt", "later", "later/deep.txt"});
  EXPECT_EQ(list_dir(s.at("t")), (std::vector<std::string>{"after.txt", "later", "shared", "victim.txt"}));
  EXPECT_EQ(list_dir(f.t("later")), std::vector<std::string>{"deep.txt"});
  EXPECT_EQ(list_dir(attacker), (std::vector<std::string>{"moved", "victim.txt"}));
}

// The file being written (read-only, archive) is swapped for a link to a
// root-only 0600 file outside. Its times and attribute word go to the file
// that was opened, never through the name: the sentinel keeps its mode,
// bytes, times and extended attributes.
TEST(Race, HalfWrittenFileSwappedForALinkToARootOnlyFile) {
  Restore f(kT);
  make_race_ground(f);
  const Scratch& s = f.s;
  attacker_dir(s, "t/shared");

  CountingDump& d = f.d;
  d.file(0, u"first.txt", "before the swap");
  const std::size_t half_at = static_cast<std::size_t>(d.bytes);
  d.dir(0, u"shared");
  d.file(1, u"half.bin", pattern(100000, 2), 0x21);
  d.file(1, u"next.txt", "after the swap", 0x21);
  d.file(0, u"after.txt", "at the top again", 0x23);

  const std::string half = f.t("shared/half.bin");
  run_paused(f, half_at + 5000, half, [&] {
    EXPECT_EQ(run_as_nobody("rm -f " + quoted(half) + " && ln -s " + quoted(s.root + "/sentinel/secret.txt") +
                            " " + quoted(half)),
              0);
  });
  f.expect_finished();
  struct stat st;
  ASSERT_EQ(lstat(half.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the attacker's link is left as it is";
  expect_entries(f, {"first.txt", "shared/next.txt", "after.txt"});
  for (const char* p : {"shared/next.txt", "after.txt"}) {
    ASSERT_EQ(lstat(f.t(p).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << p << " is read-only";
  }
}

// A directory the dump is about to reuse is swapped for a link to the
// sentinel directory while the run is held in the body before it. The link
// is not entered (a chdir line), nothing is written through it, and the
// entries after the skipped subtree come back.
TEST(Race, DirectoryAboutToBeReusedSwappedForALink) {
  Restore f(kT);
  make_race_ground(f);
  const Scratch& s = f.s;
  attacker_dir(s, "t/reuse");

  CountingDump& d = f.d;
  d.file(0, u"before.bin", pattern(50000, 3));
  d.dir(0, u"reuse", 0x10, false);
  d.file(1, u"escape.txt", "ESCAPE", 0x20);
  d.dir(1, u"made");
  d.file(2, u"deeper.txt", "DEEPER");
  d.file(0, u"after.txt", "after the skipped subtree");
  f.log = {mkdir_line("reuse", 0x10), chdir_line("reuse", 0x20)};

  run_paused(f, 100, f.t("before.bin"), [&] {
    EXPECT_EQ(run_as_nobody("rmdir " + quoted(f.t("reuse")) + " && ln -s " + quoted(s.root + "/sentinel/dir") +
                            " " + quoted(f.t("reuse"))),
              0);
  });
  f.expect_finished();
  expect_entries(f, {"before.bin", "after.txt"});
  EXPECT_EQ(list_dir(s.at("t")), (std::vector<std::string>{"after.txt", "before.bin", "reuse"}));
}

// $errors planted in the starting directory before the run as a link to a
// sentinel file, a hard link to one, or a FIFO: it is replaced, never written
// through, the run does not hang, and afterwards $errors is a plain file
// holding the log. Under Wine, which cannot open a file link itself, a
// refusal at start-up (status 1, nothing written) is the other outcome
// allowed for the link and the FIFO.
TEST(Race, PlantedLogIsReplacedNotWrittenThrough) {
  for (const std::string kind : {"symlink", "hard link", "fifo"}) {
    SCOPED_TRACE(kind);
    Restore f(kT);
    f.watch_outside();
    const Scratch& s = f.s;
    const std::string log = s.at("$errors");
    if (kind == "symlink") {
      ASSERT_EQ(symlink((s.root + "/sentinel/file.txt").c_str(), log.c_str()), 0);
    } else if (kind == "hard link") {
      ASSERT_EQ(link((s.root + "/sentinel/hard.txt").c_str(), log.c_str()), 0);
    } else {
      FifoWriter::make(log);
    }

    f.d.file(0, u"kept.txt", "kept");
    f.d.file(0, u"..", "REFUSED", 0x20, false);
    f.d.file(0, u"last.txt", "last");
    f.log = {createfile_line("..", 0x20, 7)};

    const RunResult& r = f.run();
    f.expect_outside_unchanged();
    struct stat st;
    ASSERT_EQ(lstat(log.c_str(), &st), 0);
    if (windows() && kind != "hard link" && r.status == 1) {
      expect_startup_failure(r, "dump/");
      EXPECT_TRUE(list_dir(s.at("t")).empty());
      continue;
    }
    EXPECT_EQ(st.st_nlink, 1u);
    ASSERT_TRUE(S_ISREG(st.st_mode)) << "$errors is not a regular file";
    f.expect_restored();
  }
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The directory owner keeps exchanging directories of the target with links
// to the sentinel directory (renameat2 with RENAME_EXCHANGE, as fast as it
// can) while the restore re-enters an existing directory and makes new
// ones: whatever the restore opens is checked to be the entry itself, so
// nothing outside ever changes, whichever way each exchange falls. Entries
// that meet a link get lines; the run ends normally.
TEST(Race, DirectoriesExchangedWithLinksWhileEnteredLeadNowhere) {
  // Wine shows a Unix link to a directory as that directory, to every call
  // (README, Wine limits): the .exe narrows the window there but cannot
  // close it.
  if (windows()) GTEST_SKIP() << "Wine cannot show a directory link as a link";
  Restore f(kT);
  make_race_ground(f);
  const Scratch& s = f.s;
  constexpr int kDirs = 400;
  CountingDump& d = f.d;
  for (int i = 0; i < kDirs; ++i) {
    const std::string n = std::to_string(i);
    attacker_dir(s, "t/k" + n);
    d.dir(0, DumpBuilder::utf16("k" + n));
    d.file(1, DumpBuilder::utf16("k" + n + ".txt"), "kept " + n);
    d.dir(0, DumpBuilder::utf16("d" + n));
    d.file(1, DumpBuilder::utf16("f" + n + ".txt"), "new " + n);
  }
  f.prepare();
  const std::string target = f.t("");
  const pid_t attacker = fork();
  if (attacker == 0) {
    // The attacker: links planted beside each name, then exchanges until stopped.
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    const std::string to = s.root + "/sentinel/dir";
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < kDirs; ++i) {
      const std::string n = std::to_string(i);
      pairs.push_back({target + "k" + n, target + "kl" + n});
      pairs.push_back({target + "d" + n, target + "dl" + n});
    }
    for (const auto& p : pairs) symlink(to.c_str(), p.second.c_str());
    const time_t stop = time(nullptr) + kRunTimeoutSeconds;
    while (time(nullptr) < stop) {
      for (const auto& p : pairs) renameat2(AT_FDCWD, p.first.c_str(), AT_FDCWD, p.second.c_str(), RENAME_EXCHANGE);
    }
    _exit(0);
  }
  ASSERT_GT(attacker, 0);
  f.r = s.run({"dump/", "t"});
  kill(attacker, SIGKILL);
  waitpid(attacker, nullptr, 0);
  EXPECT_EQ(f.r.status, 0);
  f.expect_outside_unchanged();
}

}  // namespace
}  // namespace e2e

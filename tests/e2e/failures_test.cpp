// Nothing lost, nothing silent: a full file system under the target or
// under the log, a file-size limit, directories that cannot be made and a
// node stream that cannot be read each leave a line (or status 2 for the
// log), and the run goes on.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1700000000, 4242);

// Linux's own text where it is fixed; elsewhere only the line's head.
std::string with_text(const std::string& head, const char* linux_text) {
  return windows() ? head : head + linux_text;
}

// Fills a file system until a write fails.
void fill(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(65536, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, "f", 1) > 0) {
  }
  close(fd);
}

// The target on a 1 MiB tmpfs: the file that does not fit gets one write
// error line with the system's text, keeps neither the record's times nor
// its read-only bit; the file before it is exact, an empty file after it
// still comes back, and nothing outside changes. The first body is short,
// so it is written before the long one is made, and the long one fits on
// no 1 MiB file system: with writers the outcome is the same.
TEST(WriteFailures, TargetOnAFullFileSystem) {
  Restore f(kT, "dump/", false);
  f.watch_outside();
  TmpfsMount mount(f.s.at("t"), "1m");
  ASSERT_TRUE(mount.mounted());
  f.d.file(0, u"first.bin", pattern(12000, 7));
  f.d.file(0, u"big.bin", pattern(1200000, 8), 0x21, false);
  f.d.file(0, u"empty.txt", "");
  f.log = {with_text(entry_line("write", "big.bin", 0x21, 1200000), "No space left on device")};
  f.run();
  expect_untimed(f.t("big.bin"), kT);
  struct stat st;
  ASSERT_EQ(lstat(f.t("big.bin").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u) << "an incomplete file must not get the record's read-only bit";
  EXPECT_LT(st.st_size, 1200000);
  ASSERT_EQ(unlink(f.t("big.bin").c_str()), 0);
  f.expect_restored();
}

// `ulimit -f`: the kernel's SIGXFSZ must not kill the run; the file over the
// limit gets a write error line and the files after it come back. Linux
// only: the limit is a POSIX resource limit of the process.
TEST(WriteFailures, FileSizeLimitGivesALineNotAKill) {
  if (windows()) GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit; the .exe is covered by the full tmpfs";
  Restore f(kT);
  f.d.file(0, u"small.txt", pattern(1000, 1));
  f.d.file(0, u"big.bin", pattern(300000, 2), 0x20, false);
  f.d.file(0, u"after.txt", "after the limit");
  f.log = {entry_line("write", "big.bin", 0x20, 300000) + "File too large"};
  ChildOptions o;
  o.file_size_limit = 100000;
  f.run({"dump/", "t"}, o);
  EXPECT_EQ(f.r.signal, 0) << "killed by signal " << f.r.signal;
  expect_untimed(f.t("big.bin"), kT);
  ASSERT_EQ(unlink(f.t("big.bin").c_str()), 0);
  f.expect_restored();
}

// The log on a full file system (the run starts there, the target is
// elsewhere): the restore goes to its end, then one line on stderr and
// status 2.
TEST(WriteFailures, LogOnAFullFileSystemGivesStatusTwo) {
  Restore f(kT);
  TmpfsMount mount(f.s.at("full"), "64k");
  ASSERT_TRUE(mount.mounted());
  for (int i = 0; i < 300; ++i) {
    f.d.file(0, u"..", "REFUSED", 0x20, false);
    f.d.file(0, DumpBuilder::utf16("ok" + std::to_string(i) + ".txt"), "ok " + std::to_string(i));
  }
  fill(f.s.at("full/filler"));
  ChildOptions o;
  o.cwd = f.s.at("full");
  const RunResult& r = f.run({f.s.at("dump/"), f.t("")}, o);
  EXPECT_EQ(r.status, 2);
  // The losses are told and counted whether their lines were written or
  // not; then the failure.
  std::string summary;
  for (int i = 0; i < 20; ++i) summary += "fsrestore: ..: cannot create: the name is refused on this system\n";
  summary += "fsrestore: 280 more in $errors\nfsrestore: 300 of 600 entries not restored; see $errors\n";
  EXPECT_EQ(r.err.substr(0, summary.size()), summary) << r.err;
  const std::string err = r.err.substr(summary.size());
  const std::string head = "fsrestore: $errors: ", tail = ": the log is incomplete\n";
  EXPECT_EQ(err.substr(0, head.size()), head) << err;
  ASSERT_GE(err.size(), head.size() + tail.size()) << err;
  EXPECT_EQ(err.substr(err.size() - tail.size()), tail) << err;
  if (!windows()) {
    EXPECT_EQ(err, head + "No space left on device" + tail);
  }
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  expect_tree(f.s.at("t"), f.d.expected, kT);
}

// A directory that cannot be made gets a mkdir line with the real cause: a
// name too long for any file system (refused by the name rules before any
// call), and a read-only file system (a read-only bind mount of a reused
// directory). The chdir line of a subtree may follow.
TEST(WriteFailures, DirectoryThatCannotBeMadeHasALine) {
  Restore f(kT);
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  make_dir(s.at("t/ro"));
  ASSERT_EQ(mount(s.at("t/ro").c_str(), s.at("t/ro").c_str(), nullptr, MS_BIND, nullptr), 0)
      << std::strerror(errno);
  struct Unmount {
    std::string dir;
    ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
  } unmount{s.at("t/ro")};
  ASSERT_EQ(mount("none", s.at("t/ro").c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);

  std::vector<std::string> want;
  d.dir(0, u"ro");
  d.dir(1, u"empty_sub", 0x10, false);
  want.push_back(with_text("mkdir error with <empty_sub>, attr=0010: ", "Read-only file system"));
  d.dir(1, u"sub", 0x12, false);
  d.file(2, u"x.txt", "X", 0x20, false);
  want.push_back(with_text("mkdir error with <sub>, attr=0012: ", "Read-only file system"));
  const std::string optional_chdir = chdir_line("sub", 0x20);
  {
    // Longer than either system keeps: refused by the name rules before any call.
    const std::string long_name(256, 'n');
    d.dir(0, DumpBuilder::utf16(long_name), 0x10, false);
    want.push_back("mkdir error with <" + long_name + ">, attr=0010: the name is refused on this system");
  }
  d.file(0, u"after.txt", "after");
  f.run();
  expect_clean_output(f.r, "dump/", d.dirs, d.files, d.bytes);
  // Drop the chdir line for sub's subtree if it directly follows its mkdir line.
  std::string log = read_file(s.at("$errors"));
  const std::size_t mk = log.find("mkdir error with <sub>");
  if (mk != std::string::npos) {
    const std::size_t next = log.find('\n', mk);
    if (next != std::string::npos && log.compare(next + 1, optional_chdir.size(), optional_chdir) == 0) {
      const std::size_t end = log.find('\n', next + 1);
      log.erase(next + 1, end == std::string::npos ? std::string::npos : end - next);
    }
  }
  expect_log(log, want);
  EXPECT_EQ(read_file(s.at("t/after.txt")), "after");
}

// An unprivileged run into a target it may not write: standard error names
// the first 20 entries lost by path, in the dump's order (a directory with
// how many entries below it were passed over), then how many more, and the
// summary counts every record, those of the subtree passed over too.
TEST(WriteFailures, AnUnprivilegedRunNamesEachLossByPathAndCountsEveryRecord) {
  if (windows()) GTEST_SKIP() << "runs as another uid";
  Restore f(kT);
  f.s.open_to_others();
  const std::string own = f.s.at("own");  // the starting directory, where the log goes
  make_dir(own);
  ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
  f.d.dir(0, u"docs", 0x10, false);
  f.d.dir(1, u"inner", 0x10, false);
  for (const char16_t* name : {u"n0", u"n1", u"n2"}) f.d.file(2, name, "n", 0x20, false);
  f.d.file(1, u"a.txt", "a", 0x20, false);
  std::string want = "fsrestore: docs: cannot make directory: Permission denied; 5 entries below it not restored\n";
  for (int i = 0; i < 21; ++i) {
    std::string name = std::to_string(10 + i);
    name.insert(0, 1, 'f');  // not "f" + ...: GCC 12 warns wrongly about that
    f.d.file(0, DumpBuilder::utf16(name), "f", 0x20, false);
    if (i < 19) want += "fsrestore: " + name + ": cannot create: Permission denied\n";
  }
  want += "fsrestore: 2 more in $errors\nfsrestore: 27 of 27 entries not restored; see $errors\n";
  ChildOptions o;
  o.cwd = own;
  o.as_nobody = true;
  f.run({f.s.at("dump/"), f.t("")}, o);
  EXPECT_EQ(f.r.status, 0);
  EXPECT_EQ(f.r.err, want);
  EXPECT_EQ(list_dir(f.t("")), std::vector<std::string>{});
}

// A node stream that cannot be read is not a clean end. Linux only: Windows
// cannot open a directory as a stream at all (a start-up failure there).
TEST(WriteFailures, NodeStreamThatIsADirectory) {
  if (windows()) GTEST_SKIP() << "a directory does not open as a stream on Windows";
  Restore f(kT);
  f.prepare();
  ASSERT_EQ(unlink(f.s.at("dump/$fsnodes").c_str()), 0);
  make_dir(f.s.at("dump/$fsnodes"));
  f.log = {"nodes error: Is a directory"};
  f.run();
  f.expect_restored();
}

}  // namespace
}  // namespace e2e

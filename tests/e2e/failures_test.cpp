// Nothing lost, nothing silent: a full file system under the target or
// under the log, a file-size limit, directories that cannot be made, depth
// jumps and a node stream that cannot be read each leave a line (or status
// 2 for the log), and the run goes on.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1700000000, 4242);

std::string write_error_line(const std::string& name, std::uint16_t attr, long long size) {
  char tail[64];
  std::snprintf(tail, sizeof tail, ">, attr=%04X, size=%lld: ", attr, size);
  return "write error with <" + name + tail;
}

// Linux's own text where it is fixed; elsewhere only the line's head.
std::string with_text(const std::string& head, const char* linux_text) {
  return windows() ? head : head + linux_text;
}

void expect_untimed(const std::string& path) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
  const struct timespec t = unix_time(kT);
  EXPECT_FALSE(st.st_mtim.tv_sec == t.tv_sec && st.st_mtim.tv_nsec == t.tv_nsec)
      << path << " is incomplete but carries the record's time";
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
// still comes back, and nothing outside changes.
TEST(WriteFailures, TargetOnAFullFileSystem) {
  Scratch s;
  make_sentinels(s);
  make_dir(s.at("dump"));
  TmpfsMount mount(s.at("t"), "1m");
  ASSERT_TRUE(mount.mounted());
  CountingDump d(s.at("dump/"), kT);
  d.file(0, u"first.bin", pattern(300000, 7));
  d.file(0, u"big.bin", pattern(900000, 8), 0x21, false);
  d.file(0, u"empty.txt", "");
  ASSERT_TRUE(d.builder.close());
  const TreeState before = outside(s);
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
  expect_log(read_file(s.at("$errors")),
             {with_text(write_error_line("big.bin", 0x21, 900000), "No space left on device")});
  expect_times(s.at("t/first.bin"), kT);
  expect_times(s.at("t/empty.txt"), kT);
  expect_untimed(s.at("t/big.bin"));
  struct stat st;
  ASSERT_EQ(lstat(s.at("t/big.bin").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0200, 0u) << "an incomplete file must not get the record's read-only bit";
  EXPECT_LT(st.st_size, 900000);
  EXPECT_EQ(read_file(s.at("t/first.bin")), pattern(300000, 7));
  EXPECT_EQ(read_file(s.at("t/empty.txt")), "");
  EXPECT_EQ(list_dir(s.at("t")), (std::vector<std::string>{"big.bin", "empty.txt", "first.bin"}));
  expect_same_tree(before, outside(s));
}

// `ulimit -f`: the kernel's SIGXFSZ must not kill the run; the file over the
// limit gets a write error line and the files after it come back. Linux
// only: the limit is a POSIX resource limit of the process.
TEST(WriteFailures, FileSizeLimitGivesALineNotAKill) {
  if (windows()) GTEST_SKIP() << "RLIMIT_FSIZE is a POSIX limit; the .exe is covered by the full tmpfs";
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  CountingDump d(s.at("dump/"), kT);
  d.file(0, u"small.txt", pattern(1000, 1));
  d.file(0, u"big.bin", pattern(300000, 2), 0x20, false);
  d.file(0, u"after.txt", "after the limit");
  ASSERT_TRUE(d.builder.close());
  ChildOptions o;
  o.file_size_limit = 100000;
  RunResult r = s.run({"dump/", "t"}, o);
  EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
  expect_log(read_file(s.at("$errors")), {write_error_line("big.bin", 0x20, 300000) + "File too large"});
  expect_untimed(s.at("t/big.bin"));
  expect_times(s.at("t/small.txt"), kT);
  expect_times(s.at("t/after.txt"), kT);
  EXPECT_EQ(read_file(s.at("t/small.txt")), pattern(1000, 1));
  EXPECT_EQ(read_file(s.at("t/after.txt")), "after the limit");
}

// The log on a full file system (the run starts there, the target is
// elsewhere): the restore goes to its end, then one line on stderr and
// status 2.
TEST(WriteFailures, LogOnAFullFileSystemGivesStatusTwo) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  TmpfsMount mount(s.at("full"), "64k");
  ASSERT_TRUE(mount.mounted());
  CountingDump d(s.at("dump/"), kT);
  for (int i = 0; i < 300; ++i) {
    d.file(0, u"..", "REFUSED", 0x20, false);
    d.file(0, DumpBuilder::utf16("ok" + std::to_string(i) + ".txt"), "ok " + std::to_string(i));
  }
  ASSERT_TRUE(d.builder.close());
  fill(s.at("full/filler"));
  ChildOptions o;
  o.cwd = s.at("full");
  RunResult r = s.run({s.at("dump/"), s.at("t")}, o);
  EXPECT_EQ(r.status, 2);
  const std::string head = "fsrestore: $errors: ", tail = ": the log is incomplete\n";
  EXPECT_EQ(r.err.substr(0, head.size()), head) << r.err;
  ASSERT_GE(r.err.size(), head.size() + tail.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
  if (!windows()) {
    EXPECT_EQ(r.err, head + "No space left on device" + tail);
  }
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  expect_tree(s.at("t"), d.expected, kT);
}

// A directory that cannot be made gets a mkdir line with the real cause: a
// name too long for any file system (refused by the name rules before any
// call), and a read-only file system (a read-only bind mount of a reused
// directory). The chdir line of a subtree may follow.
TEST(WriteFailures, DirectoryThatCannotBeMadeHasALine) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  make_dir(s.at("t/ro"));
  ASSERT_EQ(mount(s.at("t/ro").c_str(), s.at("t/ro").c_str(), nullptr, MS_BIND, nullptr), 0)
      << std::strerror(errno);
  struct Unmount {
    std::string dir;
    ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
  } unmount{s.at("t/ro")};
  ASSERT_EQ(mount("none", s.at("t/ro").c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);

  CountingDump d(s.at("dump/"), kT);
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
  ASSERT_TRUE(d.builder.close());
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
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

// A depth jump is accounted for by one line, record numbers from 1.
TEST(WriteFailures, DepthJumpHasALine) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  CountingDump d(s.at("dump/"), kT);
  d.dir(0, u"a");
  d.file(2, u"jumped.txt", "jumped");
  d.file(0, u"b.txt", "b");
  d.dir(0, u"c");
  d.dir(1, u"c1");
  d.file(5, u"far.txt", "far");
  d.file(0, u"end.txt", "end");
  ASSERT_TRUE(d.builder.close());
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", d.dirs, d.files, d.bytes);
  expect_log(read_file(s.at("$errors")), {"nodes error: depth rises from 0 to 2 at record 2",
                                          "nodes error: depth rises from 1 to 5 at record 6"});
  EXPECT_EQ(read_file(s.at("t/b.txt")), "b");
  EXPECT_EQ(read_file(s.at("t/end.txt")), "end");
}

// A node stream that cannot be read is not a clean end. Linux only: Windows
// cannot open a directory as a stream at all (a start-up failure there).
TEST(WriteFailures, NodeStreamThatIsADirectory) {
  if (windows()) GTEST_SKIP() << "a directory does not open as a stream on Windows";
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  {
    CountingDump d(s.at("dump/"), kT);
    d.file(0, u"a.txt", "a");
    ASSERT_TRUE(d.builder.close());
  }
  ASSERT_EQ(unlink(s.at("dump/$fsnodes").c_str()), 0);
  make_dir(s.at("dump/$fsnodes"));
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", 0, 0, 0);
  expect_log(read_file(s.at("$errors")), {"nodes error: Is a directory"});
  EXPECT_TRUE(list_dir(s.at("t")).empty());
}

}  // namespace
}  // namespace e2e

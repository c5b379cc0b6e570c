// Runs that are interrupted, whose console goes away, or whose dump arrives
// through FIFOs: the log keeps every line met so far, the status is what a
// shell expects, and a dump written while it is read restores exactly.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1710000000, 99);

std::string mkdump_path() {
  const char* cmd = std::getenv("MKDUMP_CMD");
  if (cmd && *cmd) return cmd;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (self.parent_path().parent_path() / "tools" / "mkdump").string();
}

// 50 failures, then a body that stalls half-way until the signal comes.
// Under Wine, SIGINT reaches the .exe as Ctrl+C, which ends with the Ctrl+C
// exit code (0xC000013A, of which a Unix parent sees the low byte); Wine
// ends the process on SIGTERM without a console event, so the console line
// stays open there, but the log is complete all the same.
void interrupt_part_way(int sig) {
  SCOPED_TRACE(sig);
  Restore f(kT);
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  for (int i = 0; i < 50; ++i) {
    d.file(0, u"..", "REFUSED", 0x20, false);
    f.log.push_back(createfile_line("..", 0x20, 7));
  }
  const std::size_t stall_at = static_cast<std::size_t>(d.bytes);
  d.file(0, u"stall.bin", pattern(100000, 5));
  d.file(0, u"never.txt", "never reached");
  f.prepare();
  const RunResult r = interrupt_run(
      s, {"dump/", "t"}, stall_at + 1000, [&] { return exists(s.at("t/stall.bin")); }, "stall.bin", sig);
  const bool ctrl_c = windows() && sig == SIGINT;
  const int want = ctrl_c ? 0x3A : 128 + sig;
  EXPECT_TRUE(r.status == want || r.signal == sig)
      << "status " << r.status << ", signal " << r.signal << " (want " << want << ")";
  // The file the interruption cut is named last (Wine ends the .exe on
  // SIGTERM without a word).
  if (!windows() || ctrl_c) f.log.push_back("interrupted while restoring <stall.bin>, attr=0020, size=100000");
  f.expect_log_and_outside();
  EXPECT_EQ(r.out.rfind("basepath=<dump/>\n", 0), 0u) << r.out;
  ASSERT_FALSE(r.out.empty());
  if (!windows() || ctrl_c) {
    EXPECT_EQ(r.out.back(), '\n') << "the console line is not ended: " << testing::PrintToString(r.out);
  }
  EXPECT_FALSE(exists(s.at("t/never.txt")));
}

TEST(Interruption, SigintPartWayKeepsTheLogAndEndsTheLine) { interrupt_part_way(SIGINT); }

TEST(Interruption, SigtermPartWayKeepsTheLogAndEndsTheLine) {
  interrupt_part_way(SIGTERM);
}

// Standard output is a pipe nobody reads: the restore goes to its end with
// its normal status.
TEST(Interruption, ClosedStandardOutputChangesNothing) {
  Restore f(kT);
  CountingDump& d = f.d;
  for (int i = 0; i < 20; ++i) {
    std::string name = std::to_string(i);
    name.insert(0, 1, 'f');
    d.file(0, DumpBuilder::utf16(name), pattern(5000, static_cast<std::uint32_t>(i)));
  }
  d.dir(0, u"sub");
  d.file(1, u"last.txt", "last");
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]);  // no reader from the start
  ChildOptions o;
  o.stdout_fd = fds[1];
  const RunResult& r = f.run({"dump/", "t"}, o);
  close(fds[1]);
  EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
  EXPECT_EQ(r.status, 0);
  f.expect_log_and_outside();
  expect_tree(f.s.at("t"), d.expected, kT);
}

// mkdump writes the three FIFOs entry by entry while fsrestore reads them
// (a body larger than a pipe holds included); both run under a timeout, so a
// deadlock fails the test. The restored tree equals the source.
TEST(Pipes, DumpWrittenByMkdumpInStep) {
  Scratch s;
  const std::string src = s.at("src");
  make_dir(src);
  make_dir(src + "/a");
  make_dir(src + "/a/b");
  make_dir(src + "/empty");
  write_file(src + "/top.txt", "top");
  write_file(src + "/a/big.bin", pattern(3 * 1024 * 1024 + 17, 9));
  write_file(src + "/a/b/leaf.txt", "leaf");
  write_file(src + "/a/zero", "");
  for (int i = 0; i < 30; ++i) write_file(src + "/many" + std::to_string(i), pattern(100 + i, i));
  for (const char* p : {"/top.txt", "/a/big.bin", "/a/b/leaf.txt", "/a/zero", "/a/b", "/empty", "/a"}) {
    set_mtime(src + p, 1600000000, 1234500);
  }
  for (int i = 0; i < 30; ++i) set_mtime(src + "/many" + std::to_string(i), 1600000000 + i, 100);
  make_dir(s.at("d"));
  make_dir(s.at("t"));
  for (const char* n : {"$fsnodes", "$fsnames", "$content"}) FifoWriter::make(s.at(std::string("d/") + n));

  // Wine opens a FIFO without waiting for its writer and takes a writer not
  // there yet for the end of the stream; a reader held open here (it never
  // reads) lets mkdump open each FIFO at once, so the .exe never races it.
  std::vector<int> held;
  if (windows()) {
    for (const char* n : {"$content", "$fsnames", "$fsnodes"}) {
      held.push_back(open(s.at(std::string("d/") + n).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
  }
  Child producer;
  ChildOptions po;
  po.cwd = s.work;
  po.stderr_path = s.root + "/mkdump.err";
  ASSERT_TRUE(producer.start({mkdump_path(), src, "d/"}, po));
  if (windows()) {
    // And the .exe starts only once mkdump holds all three write ends.
    const auto writing = [&] {
      int fifos = 0;
      const std::string fds = "/proc/" + std::to_string(producer.pid()) + "/fd";
      for (const auto& e :
           std::filesystem::directory_iterator(fds, std::filesystem::directory_options::skip_permission_denied)) {
        std::error_code ec;
        const std::string to = std::filesystem::read_symlink(e.path(), ec).string();
        fifos += to.find("/d/$") != std::string::npos;
      }
      return fifos == 3;
    };
    EXPECT_TRUE(wait_until(writing, kRunTimeoutSeconds, "mkdump to open the FIFOs"));
  }
  RunResult r = s.run({"d/", "t"});
  producer.wait(kRunTimeoutSeconds, "mkdump");
  for (int fd : held) close(fd);
  EXPECT_EQ(producer.exit_status(), 0) << read_file(s.root + "/mkdump.err");
  expect_clean_output(r, "d/", 3, 34, 3 * 1024 * 1024 + 17 + 3 + 4 + 30 * 100 + 435);
  expect_log(read_file(s.at("$errors")), {});
  TreeState want = tree_state(src), got = tree_state(s.at("t"));
  want.erase(".");
  got.erase(".");
  expect_same_tree(want, got);
}

// All three streams are FIFOs that deliver in small pieces, each taken
// before the next is written, so every read returns less than it asked
// for: bodies, names and times come back exact.
TEST(Pipes, StreamsDeliveredInSmallPieces) {
  Restore f(kT, "src/");
  const Scratch& s = f.s;
  CountingDump& d = f.d;
  make_dir(s.at("d"));
  d.file(0, u"one.bin", pattern(70000, 1));
  d.dir(0, u"dir");
  d.file(1, u"two.bin", pattern(12345, 2), 0x21);
  d.file(1, u"empty", "");
  d.file(1, u"three.txt", "three");
  d.file(0, u"four.bin", pattern(40000, 4));
  f.prepare();
  for (const char* n : {"$fsnodes", "$fsnames", "$content"}) FifoWriter::make(s.at(std::string("d/") + n));

  FifoWriter nodes(s.at("d/$fsnodes")), names(s.at("d/$fsnames")), content(s.at("d/$content"));
  ASSERT_TRUE(open_all({&nodes, &names, &content}));
  Child child;
  ASSERT_TRUE(s.start(child, {"d/", "t"}));
  feed_dump_in_step(s.at("src/"), nodes, names, content, 997);
  nodes.close();
  names.close();
  content.close();
  f.r = s.finish(child);
  expect_clean_output(f.r, "d/", d.dirs, d.files, d.bytes);
  f.expect_log_and_outside();
  expect_tree(s.at("t"), d.expected, kT);
}

// mkdump onto a full file system says which stream failed and exits non-zero.
TEST(Pipes, MkdumpReportsItsOwnWriteFailures) {
  if (windows()) GTEST_SKIP() << "mkdump is a Linux tool; this test does not run fsrestore";
  Scratch s;
  make_dir(s.at("src"));
  write_file(s.at("src/big.bin"), pattern(2 * 1024 * 1024, 3));
  TmpfsMount mount(s.at("full"), "1m");
  ASSERT_TRUE(mount.mounted());
  Child producer;
  ChildOptions po;
  po.cwd = s.work;
  po.stderr_path = s.root + "/mkdump.err";
  ASSERT_TRUE(producer.start({mkdump_path(), s.at("src"), s.at("full/")}, po));
  producer.wait(kRunTimeoutSeconds, "mkdump");
  const std::string err = read_file(s.root + "/mkdump.err");
  EXPECT_NE(producer.exit_status(), 0);
  EXPECT_NE(err.find("$content"), std::string::npos) << err;
  EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
}

}  // namespace
}  // namespace e2e

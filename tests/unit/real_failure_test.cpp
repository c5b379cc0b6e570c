// The restore over the real POSIX platform in a scratch directory, with one
// chosen system call made to fail: the failure gets exactly one line in
// "$errors", worded by the system, and the rest of the tree is on disk; the
// same on one thread and with four writers, which make the files of the
// directories the run made and move the long bodies.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/platform_posix.h"
#include "platform_wrapper.h"
#include "restore/writer_pool.h"
#include "test_restorer.h"

namespace {

namespace fs = std::filesystem;

constexpr FileTime kWritten = 132000000000000000ull;  // in April 2019
constexpr std::uint64_t kBig = 3 * 1048576;            // moved in three blocks

// The program's arguments: the dump and the target, inside the scratch
// directory the tests run in. The platform catches signals, so there is one.
PosixPlatform& real_platform() {
  static char program[] = "fsrestore", dump[] = "dump/", target[] = "target";
  static char* argv[] = {program, dump, target, nullptr};
  static PosixPlatform platform(3, argv);
  return platform;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// One line per entry under the target: its path, its body (or its size,
// for the long one) and whether it carries the record's write time.
std::map<std::string, std::string> tree() {
  std::map<std::string, std::string> out;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator("target")) {
    struct stat st;
    EXPECT_EQ(lstat(e.path().c_str(), &st), 0);
    const bool timed = st.st_mtim.tv_sec == filetime_to_unix(kWritten).seconds;
    const std::string what = e.is_directory()          ? "dir"
                             : e.file_size() > 100 ? std::to_string(e.file_size()) + " bytes"
                                                   : slurp(e.path());
    out[e.path().lexically_relative("target").string()] = what + (timed ? " timed" : "");
  }
  return out;
}

struct RealFailureTest : ::testing::Test {
  static inline fs::path start_dir, scratch;

  static void SetUpTestSuite() {
    start_dir = fs::current_path();
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fsrestore-unit-XXXXXX";
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    scratch = templ;
    // The log is made in the starting directory: the scratch one.
    fs::current_path(scratch);
    fs::create_directory("dump");
    TestDump d;
    d.dir(0, u"docs", 0x10, 0, kWritten)
        .file(1, u"a.txt", "alpha", 0x20, 0, kWritten)
        .file(1, u"b.txt", "bravo", 0x20, 0, kWritten)
        .node(0, u"big", kBig, 0x20, 0, kWritten)
        .file(0, u"c.txt", "charlie", 0x20, 0, kWritten);
    d.content.insert(d.content.size() - 7, std::string(kBig, 'B'));
    std::ofstream("dump/$fsnodes", std::ios::binary) << d.nodes;
    std::ofstream("dump/$fsnames", std::ios::binary) << d.names;
    std::ofstream("dump/$content", std::ios::binary) << d.content;
  }
  static void TearDownTestSuite() {
    fs::current_path(start_dir);
    fs::remove_all(scratch);
  }
};

TEST_F(RealFailureTest, OneFailingCallGivesOneLineAndTheRestOfTheTree) {
  const std::map<std::string, std::string> whole = {
      {"docs", "dir timed"},           {"docs/a.txt", "alpha timed"},           {"docs/b.txt", "bravo timed"},
      {"big", "3145728 bytes timed"}, {"c.txt", "charlie timed"},
  };
  struct Case {
    const char* what;
    PlatformOp op;
    const char16_t* entry;
    int nth;  // of op's calls on the entry
    int code;
    std::string log;
    std::map<std::string, std::string> changed;  // from the whole tree; "-": absent
  } cases[] = {
      {"nothing fails", PlatformOp::kCreateFile, u"", 0, 0, "", {}},
      {"the second file cannot be created",
       PlatformOp::kCreateFile,
       u"b.txt",
       1,
       ENOSPC,
       "createfile error with <b.txt>, attr=0020, size=5: No space left on device\n",
       {{"docs/b.txt", "-"}}},
      {"a short body cannot be written",
       PlatformOp::kWrite,
       u"b.txt",
       1,
       EIO,
       "write error with <b.txt>, attr=0020, size=5: Input/output error\n",
       {{"docs/b.txt", ""}}},  // empty, and without its times
      {"the second block of a long body cannot be written",
       PlatformOp::kCopyBlock,
       u"big",
       2,
       EFBIG,
       "write error with <big>, attr=0020, size=3145728: File too large\n",
       {{"big", "1048576 bytes"}}},
      {"a close reports a late error",
       PlatformOp::kClose,
       u"a.txt",
       1,
       EIO,
       "write error with <a.txt>, attr=0020, size=5: Input/output error\n",
       {}},
      {"a directory cannot be made",
       PlatformOp::kMakeDir,
       u"docs",
       1,
       EACCES,
       "mkdir error with <docs>, attr=0010: Permission denied\n"
       "chdir error with <docs> attr=0020: Permission denied\n",
       {{"docs", "-"}, {"docs/a.txt", "-"}, {"docs/b.txt", "-"}}},
  };
  for (const int writers : {0, 4}) {
    for (const Case& c : cases) {
      const std::string what = std::string(c.what) + ", writers " + std::to_string(writers);
      fs::remove_all("target");
      fs::create_directory("target");
      PlatformWrapper platform(real_platform());
      platform.fail(c.op, c.entry, c.nth, static_cast<std::uint32_t>(c.code));
      auto pool = writers > 0 ? std::make_unique<WriterPool>(platform) : nullptr;
      auto restorer = std::make_unique<Restorer>(platform);
      if (pool != nullptr) restorer->driver.use_pool(pool.get(), writers);
      const CommandLine line = parse_command_line(platform);
      EXPECT_EQ(restorer->driver.run(line.base_arg, line.target_arg), 0) << what;
      EXPECT_EQ(platform.injected(), c.nth > 0) << what;
      // Every body was taken whole, so the ones after a failure are aligned.
      EXPECT_EQ(restorer->counters.outbytes, kBig + 17) << what;
      EXPECT_EQ(slurp("$errors"), c.log) << what;
      std::map<std::string, std::string> want = whole;
      for (const auto& [path, now] : c.changed) {
        if (now == "-") want.erase(path);
        if (now != "-") want[path] = now;
      }
      EXPECT_EQ(tree(), want) << what;
    }
  }
}

}  // namespace

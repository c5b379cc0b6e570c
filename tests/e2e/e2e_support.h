// Shared pieces of the end-to-end tests: running the program under test in a
// scratch directory, and reading back what it left behind.
//
// FSRESTORE_CMD is the command prefix (split on spaces), e.g.
// "/work/main/build/native/fsrestore" or "wine /work/main/build/win/fsrestore.exe";
// without it the fsrestore next to this test binary's build directory is used.
// FSRESTORE_KIND is "linux" (default) or "windows" for the few expectations
// that differ.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dump_builder.h"

namespace e2e {

bool windows();

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A fresh directory under $TMPDIR (or /tmp): the program runs with `work` as
// its current directory; its captured output lives beside it in `root`. Kept
// for inspection when the test failed.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Absolute path of a path relative to the working directory.
  std::string at(const std::string& rel) const { return work + "/" + rel; }
  // Runs the program with these (relative) arguments.
  RunResult run(const std::vector<std::string>& args) const;

  std::string root;
  std::string work;
};

// File system helpers; paths are absolute.
bool exists(const std::string& path);  // without following a link
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& body);
void make_dir(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);  // sorted, without . and ..
// Sets mtime and atime of path (not following links).
void set_mtime(const std::string& path, std::int64_t seconds, long nanoseconds);

// The user.DOSATTRIB value of path, "" when it has none. Sets *supported to
// false when the file system does not keep user extended attributes.
std::string dos_attrib(const std::string& path, bool* supported);

// Proper UTF-8 of a UTF-16 name, as a Linux file name.
std::string utf8(const std::u16string& name);
// The dump's encoding of a name (each unit on its own), as in log lines.
std::string dump_text(const std::u16string& name);

// Checks that mtime and atime of path are exactly the FILETIME write.
void expect_times(const std::string& path, FileTime write);
// The Unix time of a FILETIME, to the nanosecond.
struct timespec unix_time(FileTime ft);

// Checks stdout: the basepath line, the progress line(s) each padded to 78
// characters and ended by "\r", the last with exactly these counts, then
// "\n". Also checks that nothing came on stderr.
void expect_clean_output(const RunResult& r, const std::string& basepath, int dirs, int files,
                         long long outbytes);
// Checks stdout of a run that ended because the names ran out: the basepath
// line, any throttled progress lines, then "\n".
void expect_output_without_final_line(const RunResult& r, const std::string& basepath);
// Checks a start-up failure: status 1, nothing after the basepath line,
// nothing on stderr.
void expect_startup_failure(const RunResult& r, const std::string& basepath);

// Checks the log lines in order. An expected line ending in ": " is a
// prefix that the system's text follows (non-empty, no control bytes);
// any other expected line must match exactly.
void expect_log(const std::string& log, const std::vector<std::string>& expected);

// Deterministic filler bytes.
std::string pattern(std::size_t size, std::uint32_t seed);

}  // namespace e2e

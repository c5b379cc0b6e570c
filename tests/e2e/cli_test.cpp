// How the program talks: the line a failed start says, the options, the
// summary at the end of a run with --strict and --quiet, the line an
// interruption leaves in the log, and a standard output that cannot be
// written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT = DumpBuilder::filetime(1710000000, 99);
const char* const kStreams[] = {"$content", "$fsnames", "$fsnodes"};

void copy_sample(const Scratch& s) {
  make_dir(s.at("dump"));
  for (const char* stream : kStreams) {
    write_file(s.at(std::string("dump/") + stream),
               read_file(std::string(FSRESTORE_SOURCE_DIR) + "/examples/sample/" + stream));
  }
}

// Checks that text is one line: `head`, the system's text (exactly
// `linux_text` on Linux), then `tail`.
void expect_line(const std::string& text, const std::string& head, const std::string& linux_text,
                 const std::string& tail) {
  if (!windows()) {
    EXPECT_EQ(text, head + linux_text + tail + "\n");
    return;
  }
  EXPECT_TRUE(text.starts_with(head) && text.ends_with(tail + "\n") && text.size() > head.size() + tail.size() + 1 &&
              std::count(text.begin(), text.end(), '\n') == 1)
      << text;
}

TEST(Talk, EachFailedStartSaysWhyInOneLineAndKeepsTheOldLog) {
  const std::string sep = windows() ? "\\" : "/";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string head, linux_text, tail;
  } cases[] = {
      {"a stream is missing", {"dump/", "t"}, "fsrestore: cannot open dump/$fsnames: ", "No such file or directory",
       ""},
      {"the base path lacks its separator", {"dump", "t"}, "fsrestore: cannot open dump$content: ",
       "No such file or directory", "; did you mean dump" + sep + " ?"},
      {"the target is missing", {"dump/", "nowhere"}, "fsrestore: cannot enter the target nowhere: ",
       "No such file or directory", ""},
      {"the target is a file", {"dump/", "file"}, "fsrestore: cannot enter the target file: ", "Not a directory", ""},
      {"the log is a directory", {"dump/", "t"}, "fsrestore: cannot create $errors: ", "a directory has this name",
       ""},
      {"--errors names a stream", {"--errors", "dump/$content", "dump/", "t"},
       "fsrestore: cannot create dump/$content: ", "the name leads to one of this run's own files", ""},
      {"--errors in no directory", {"dump/", "t", "--errors=nowhere/x.log"}, "fsrestore: cannot create nowhere/x.log: ",
       "No such file or directory", ""},
      {"--report names a stream", {"dump/", "t", "--report", "dump/$content"},
       "fsrestore: cannot create dump/$content: ", "the name leads to one of this run's own files", ""},
      {"the base path is too long", {std::string(32760, 'b') + "/", "t"},
       "fsrestore: the base path is too long: it may have at most 32759 characters", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Under Wine a command line that long never reaches the program.
    if (windows() && c.args[0].size() > 1000) continue;
    Scratch s;
    copy_sample(s);
    make_dir(s.at("t"));
    write_file(s.at("file"), "not a directory");
    const bool log_is_directory = c.head.find("$errors") != std::string::npos;
    if (c.head.find("$fsnames") != std::string::npos) {
      ASSERT_EQ(unlink(s.at("dump/$fsnames").c_str()), 0);
    }
    if (log_is_directory) {
      make_dir(s.at("$errors"));
    } else {
      write_file(s.at("$errors"), "a line of an earlier run\n");
    }
    const std::string content = read_file(s.at("dump/$content"));
    RunResult r = s.run(c.args);
    EXPECT_EQ(r.status, 1);
    const std::string base = c.args[0] == "--errors" ? c.args[2] : c.args[0];
    EXPECT_TRUE(r.out == "basepath=<" + base + ">\n") << r.out.substr(0, 200);
    if (c.linux_text.empty()) {
      EXPECT_EQ(r.err, c.head + "\n");
    } else {
      expect_line(r.err, c.head, c.linux_text, c.tail);
    }
    // The earlier log stays as it was, and nothing of the new one is left.
    if (!log_is_directory) {
      EXPECT_EQ(read_file(s.at("$errors")), "a line of an earlier run\n");
    }
    EXPECT_EQ(read_file(s.at("dump/$content")), content);
    for (const std::string& dir : {s.work, s.at("dump")}) {
      for (const std::string& name : list_dir(dir)) EXPECT_FALSE(name.starts_with("$errors.")) << name;
    }
    EXPECT_TRUE(list_dir(s.at("t")).empty());
  }
}

// --errors puts the log where it says, in a directory named as the target
// is (through a link too), and replaces what had its name as a name: an old
// log goes, a link there is replaced and what it leads to stays untouched.
TEST(Talk, ErrorsPutsTheLogWhereItSaysAndReplacesALinkThere) {
  for (const std::string file : {"logs/run/restore.log", "via/restore.log"}) {
    SCOPED_TRACE(file);
    Scratch s;
    copy_sample(s);
    make_dir(s.at("t"));
    make_dir(s.at("logs"));
    make_dir(s.at("logs/run"));
    write_file(s.at("secret"), "sentinel");
    const std::string place = s.at("logs/run/restore.log");
    if (file.starts_with("via")) {
      ASSERT_EQ(symlink("logs/run", s.at("via").c_str()), 0);
      ASSERT_EQ(symlink(s.at("secret").c_str(), place.c_str()), 0);
    } else {
      write_file(place, "a line of an earlier run\n");
    }
    const RunResult r = s.run({"-q", "dump/", "--errors", file, "t"});
    struct stat st;
    ASSERT_EQ(lstat(place.c_str(), &st), 0);
    EXPECT_EQ(read_file(s.at("secret")), "sentinel");
    // Wine shows a Linux link as what it leads to: the log refuses it.
    if (windows() && file.starts_with("via") && r.status == 1) {
      EXPECT_EQ(r.err, "fsrestore: cannot create via/restore.log: the entry cannot be shown as itself\n");
      EXPECT_TRUE(S_ISLNK(st.st_mode));
      continue;
    }
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read_file(place), "");
    EXPECT_EQ(list_dir(s.at("logs/run")), std::vector<std::string>{"restore.log"});
    EXPECT_FALSE(exists(s.at("$errors")));
  }
}

TEST(Talk, OptionsStandAnywhereAndAnUnknownOneIsAUsageError) {
  Scratch s;
  copy_sample(s);
  const std::string try_help = "Try 'fsrestore --help'.\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;  // exactly (a usage error's with the try line), or nullptr: any
    const char* out_starts;
  } cases[] = {
      {{"--lis"}, 1, "fsrestore: unknown option '--lis'\n", ""},
      {{"-v", "dump/"}, 1, "fsrestore: unknown option '-v'\n", ""},
      {{"-qx"}, 1, "fsrestore: unknown option '-x'\n", ""},
      {{"--list", "--check", "dump/"}, 1, "fsrestore: --list and --check exclude each other\n", ""},
      {{"--version=2"}, 1, "fsrestore: option '--version' takes no value\n", ""},
      {{"-h"}, 0, "", "usage: fsrestore"},
      {{"--help", "--lis"}, 0, "", "usage: fsrestore"},
      {{"-V"}, 0, "", "fsrestore " FSRESTORE_VERSION "\n"},
      {{"--version"}, 0, "", "fsrestore " FSRESTORE_VERSION "\n"},
      {{"-j", "0", "dump/"}, 1, "fsrestore: -j/--jobs needs a number of writers from 1 to 1000\n", ""},
      {{"--errors", "x", "--list", "dump/"}, 1, "fsrestore: --errors goes with a restore only, not with --list\n", ""},
      {{"dump/", "--check", "--report=r"}, 1, "fsrestore: --report goes with a restore only, not with --check\n", ""},
      {{"--check", "--", "dump/"}, 0, "", "dirs=7 files=12 bytes=28084 problems=0\n"},
      {{"dump/", "--check", "-j", "4"}, 0, "", "dirs=7 files=12 bytes=28084 problems=0\n"},
      {{"--check", "dump/", "extra"}, 0, "fsrestore: ignoring the extra argument 'extra'\n", "dirs=7 files=12 "},
      {{"dump/", "--list"}, 0, "", "d 0010 0 2024-03-01T10:46:40.5550000Z Documents\n"},
      {{"-q", "--list", "dump/"}, 0, "", "d 0010 0 2024-03-01T10:46:40.5550000Z Documents\n"},
      {{"--", "--list"}, 1, nullptr, "basepath=<--list>\n"},  // a base path after "--"
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult r = s.run(c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.err != nullptr) {
      EXPECT_EQ(r.err, c.status == 1 ? c.err + try_help : c.err);
    }
    EXPECT_TRUE(r.out.starts_with(c.out_starts)) << r.out;
  }
  EXPECT_TRUE(s.run({"--", "--list"}).err.starts_with("fsrestore: cannot open --list$content: "));
  // The help tells every status.
  const std::string help = s.run({"--help"}).out;
  for (const char* status : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "130", "143", "129"}) {
    EXPECT_NE(help.find(status), std::string::npos) << status << " missing in:\n" << help;
  }
}

TEST(Talk, MkdumpHelpAndVersionOnStandardOutput) {
  if (windows()) GTEST_SKIP() << "mkdump is a Linux tool";
  std::error_code ec;
  const std::string mkdump =
      (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "tools" / "mkdump").string();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out_starts;
    const char* err;
  } cases[] = {
      {{"--help"}, 0, "usage: mkdump", ""},
      {{"-h"}, 0, "usage: mkdump", ""},
      {{"-V"}, 0, "mkdump " FSRESTORE_VERSION "\n", ""},
      {{"--bogus", "a", "b"}, 2, "", "mkdump: unknown option '--bogus'\nTry 'mkdump --help'.\n"},
      {{"only-one"}, 2, "", "mkdump: expected DIR and BASEPATH\nTry 'mkdump --help'.\n"},
      {{"only-one", "-V"}, 0, "mkdump " FSRESTORE_VERSION "\n", ""},
      {{".", "missing/d/"}, 1, "", "mkdump: error: missing/d/$content: No such file or directory\n"},
  };
  Scratch s;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> argv = {mkdump};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    Child child;
    ChildOptions o;
    o.cwd = s.work;
    o.stdout_path = s.root + "/mk.out";
    o.stderr_path = s.root + "/mk.err";
    ASSERT_TRUE(child.start(argv, o));
    child.wait(kRunTimeoutSeconds, "mkdump");
    EXPECT_EQ(child.exit_status(), c.status);
    EXPECT_TRUE(read_file(o.stdout_path).starts_with(c.out_starts)) << read_file(o.stdout_path);
    EXPECT_EQ(read_file(o.stderr_path), c.err);
  }
}

TEST(Talk, TheEndOfARunSaysWhatTheLogHoldsAndStrictAndQuietChangeOnlyStatusAndOutput) {
  const std::string both =
      "fsrestore: ..: cannot create: the name is refused on this system\n"
      "fsrestore: 1 of 2 entries not restored; see $errors\n"
      "fsrestore: the dump is damaged or unreadable; see $errors\n";
  struct Case {
    bool damaged;
    std::vector<std::string> options;
    int status;
    std::string err;
  } cases[] = {
      {true, {}, 0, both},
      {true, {"--strict"}, 3, both},
      {true, {"-q"}, 0, both},
      {false, {"--strict", "--quiet"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options) + (c.damaged ? " damaged" : " clean"));
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    CountingDump d(s.at("dump/"), kT);
    if (c.damaged) d.file(0, u"..", "REFUSED", 0x20, false);
    d.file(0, u"ok.txt", "fine");
    if (c.damaged) d.builder.raw_nodes_bytes("xyz");
    ASSERT_TRUE(d.builder.close());
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"dump/", "t"});
    RunResult r = s.run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    const bool quiet = !c.options.empty() && c.options.back() != "--strict";
    if (quiet) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_TRUE(r.out.starts_with("basepath=<dump/>\n") && r.out.ends_with("\r\n")) << r.out;
    }
    EXPECT_EQ(read_file(s.at("t/ok.txt")), "fine");
  }
}

// A body arrives through a FIFO and stops half-way; the signal comes while
// the restore waits for the rest. The log names the file that stays short.
TEST(Talk, AnInterruptionNamesTheFileItCut) {
  struct Case {
    int sig;
    bool quiet;
  } cases[] = {{SIGINT, false}, {SIGHUP, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sig);
    // Wine ends the .exe on SIGHUP without a console event.
    if (windows() && c.sig != SIGINT) continue;
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    CountingDump d(s.at("dump/"), kT);
    d.file(0, u"first.txt", "whole");
    d.file(0, u"big.bin", pattern(3 * 1024 * 1024, 11));
    d.file(0, u"never.txt", "never reached");
    ASSERT_TRUE(d.builder.close());
    std::vector<std::string> args = {"dump/", "t"};
    if (c.quiet) args.insert(args.begin(), "-q");
    const RunResult r = interrupt_run(
        s, args, 5 + 1024 * 1024, [&] { return exists(s.at("t/big.bin")); }, "big.bin", c.sig, true);
    const int want = windows() ? 0x3A : 128 + c.sig;
    EXPECT_TRUE(r.status == want || r.signal == c.sig) << "status " << r.status << ", signal " << r.signal;
    EXPECT_EQ(read_file(s.at("$errors")), "interrupted while restoring <big.bin>, attr=0020, size=3145728\n");
    if (c.quiet) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_TRUE(r.out.starts_with("basepath=<dump/>\n") && r.out.ends_with("\n")) << r.out;
    }
    EXPECT_EQ(read_file(s.at("t/first.txt")), "whole");
    EXPECT_FALSE(exists(s.at("t/never.txt")));
  }
}

// A full disk under standard output fails --list and --check; a reader that
// went away ends them quietly; the restore goes on either way.
TEST(Talk, AStandardOutputThatCannotBeWrittenFailsTheInspectionOnly) {
  Scratch s;
  copy_sample(s);
  int runs = 0;
  for (const char* mode : {"--list", "--check", "restore"}) {
    const bool restore = std::string(mode) == "restore";
    for (bool full : {true, false}) {
      SCOPED_TRACE(std::string(mode) + (full ? " on a full disk" : " into a closed pipe"));
      int fds[2] = {-1, -1};
      ChildOptions o;
      if (full) {
        o.stdout_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
      } else {
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        close(fds[0]);
        o.stdout_fd = fds[1];
      }
      ASSERT_GE(o.stdout_fd, 0);
      std::string target = std::to_string(++runs);
      target.insert(0, 1, 't');
      make_dir(s.at(target));
      const std::vector<std::string> args =
          restore ? std::vector<std::string>{"dump/", target} : std::vector<std::string>{mode, "dump/"};
      RunResult r = s.run(args, o);
      close(o.stdout_fd);
      EXPECT_EQ(r.signal, 0);
      if (full && !restore) {
        EXPECT_EQ(r.status, 2);
        expect_line(r.err, "fsrestore: standard output: ", "No space left on device", "");
      } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
      }
    }
  }
  EXPECT_EQ(read_file(s.at("t5/README.txt")).size(), 56u);
  EXPECT_EQ(read_file(s.at("t6/README.txt")).size(), 56u);
}

}  // namespace
}  // namespace e2e

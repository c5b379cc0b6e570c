#include <algorithm>
// Arguments, start-up failures and the two ends of a run.

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT1 = DumpBuilder::filetime(1700000000, 1234567);

TEST(Startup, PrefixWithoutSeparatorNamesStreamsInTheStartingDirectory) {
  Restore f(kT1, "img_");
  f.d.file(0, u"a.txt", "prefixed");
  f.run();
  // The log is written where the program started, not in the target.
  f.expect_restored();
}

TEST(Startup, TargetThatCannotBeEnteredEndsWithStatusOneAndEmptyLog) {
  for (bool target_is_file : {false, true}) {
    SCOPED_TRACE(target_is_file ? "target is a file" : "target is missing");
    Restore f(kT1, "dump/", false);
    f.d.file(0, u"a.txt", "abc");
    if (target_is_file) write_file(f.s.at("t"), "not a directory");
    // A failed start leaves an earlier log as it was.
    write_file(f.s.at("$errors"), "stale line\n");
    f.run();
    expect_startup_failure(f.r, "dump/");
    EXPECT_EQ(read_file(f.s.at("$errors")), "stale line\n");
    EXPECT_FALSE(exists(f.s.at("a.txt")));
  }
}

// Base paths that leave no room for a stream suffix in the name buffer end
// the run with status 1 after the basepath line, touching nothing.
TEST(Startup, BasePathTooLong) {
  Restore f(kT1);
  f.watch_outside({});
  f.prepare();
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
    RunResult r = f.s.run({base, "t"});
    if (windows() && base.size() == 32760 && r.out.empty()) {
      EXPECT_EQ(r.status, 1);  // the system refused to start it
    } else {
      expect_startup_failure(r, base);
    }
    EXPECT_FALSE(exists(f.s.at("$errors")));
    // Looking into the dump fails in the same words, before any stream.
    for (const char* mode : {"--list", "--check", "--compare"}) {
      if (windows() || base.size() == 32759) break;
      r = f.s.run({mode, base});
      EXPECT_EQ(r.status, 1) << mode;
      EXPECT_EQ(r.out, "") << mode;
      EXPECT_EQ(r.err, "fsrestore: the base path is too long: it may have at most 32759 characters\n") << mode;
    }
  }
  f.expect_outside_unchanged();  // the target and the dump included
}

TEST(NodeStream, EmptyStreamRestoresNothing) {
  Restore f(kT1);
  f.run();
  f.expect_restored();
  EXPECT_EQ(f.r.out, "basepath=<dump/>\n" + std::string("dirs=0 files=0 outbytes=0 speed=0") +
                         std::string(78 - 33, ' ') + "\r\n");
}

TEST(NonAscii, BasePathAndTargetWithCharactersBeyondAscii) {
  const std::string dump = "dümp_日本/";
  const std::string target = "zíel_😀";
  Restore f(kT1, dump, false);
  make_dir(f.s.at(target));
  f.d.file(0, u"ö.txt", "umlaut");
  RunResult& r = f.r;
  f.run({dump, target});
  if (windows()) {
    // Redirected output carries the console's code page there, which need
    // not hold every character typed; check the line's frame and let the
    // restored entries prove that the arguments arrived intact.
    const std::size_t lf = r.out.find('\n');
    ASSERT_NE(lf, std::string::npos) << r.out;
    const std::string line = r.out.substr(0, lf);
    EXPECT_EQ(line.rfind("basepath=<d", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "/>") << line;
    r.out = "basepath=<" + dump + ">" + r.out.substr(lf);
  }
  f.expect_finished();
  expect_tree(f.s.at(target), f.d.expected, kT1);
}

// A bad number of writers is a usage error, never a base path; a good one
// in any spelling restores as without it.
TEST(Cli, JobsTakeAWholeNumber) {
  Scratch s;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-j"}, {"-j", "0"}, {"--jobs", "x"}, {"--jobs=", "d/"}, {"-j", "1001", "d/"}, {"--jobs=-2"}}) {
    SCOPED_TRACE(args.back());
    RunResult r = s.run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // One line naming the problem, then the pointer to --help.
    EXPECT_TRUE(r.err.starts_with("fsrestore: ") && r.err.find("-j") != std::string::npos &&
                r.err.ends_with("\nTry 'fsrestore --help'.\n") &&
                std::count(r.err.begin(), r.err.end(), '\n') == 2)
        << r.err;
  }
  EXPECT_TRUE(list_dir(s.work).empty()) << "a usage error creates nothing";
  make_dir(s.at("t"));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-j", "3", "missing/", "t"}, {"--jobs", "1", "missing/", "t"}, {"--jobs=64", "missing/", "t"}}) {
    SCOPED_TRACE(args.front());
    expect_startup_failure(s.run(args), "missing/");
  }
}

TEST(Cli, HelpAndVersionPrintAndExitZero) {
  Scratch s;
  std::vector<std::string> help = {"--help", "-h"};
  if (windows()) help.push_back("/?");
  for (const std::string& arg : help) {
    SCOPED_TRACE(arg);
    RunResult r = s.run({arg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("$errors"), std::string::npos) << "usage should say where the log goes:\n"
                                                        << r.out;
    EXPECT_EQ(r.out.find("basepath=<"), std::string::npos) << r.out;
  }
  RunResult v = s.run({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.err, "");
  EXPECT_NE(v.out.find(FSRESTORE_VERSION), std::string::npos) << v.out;
  EXPECT_TRUE(list_dir(s.work).empty()) << "help and version create nothing";
  // The large tables of writers and of entries made are taken when a run
  // starts: in little address space, help, version and one thread still run.
  if (!windows() && !FSRESTORE_E2E_SANITIZED) {
    Scratch tight;
    ChildOptions small;
    small.address_space_limit = 60000LL * 1024;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"--version"}, {"-j", "1", "-q", FSRESTORE_SOURCE_DIR "/examples/sample/", "."}}) {
      const RunResult r = tight.run(args, small);
      EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    }
  }
  if (!windows()) {
    // Elsewhere "/?" is an ordinary base path.
    RunResult q = s.run({"/?", "t"});
    expect_startup_failure(q, "/?");
  }
}

}  // namespace
}  // namespace e2e

// Arguments, start-up failures and the two ends of a run.
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_support.h"

namespace e2e {
namespace {

const FileTime kT1 = DumpBuilder::filetime(1700000000, 1234567);
const FileTime kT2 = DumpBuilder::filetime(1700086400, 7654321);

const char* const kStreams[] = {"$content", "$fsnames", "$fsnodes"};

TEST(Startup, NoArgumentsRestoresFromAndIntoTheCurrentDirectory) {
  Scratch s;
  {
    DumpBuilder d(s.at(""));
    d.dir(0, u"d", 0x10, kT1, kT1);
    d.file(1, u"f.txt", "hello", 0x20, kT2, kT2);
    d.file(0, u"top.txt", "x", 0x20, kT2, kT2);
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({});
  expect_clean_output(r, "", 1, 2, 6);
  expect_times(s.at("d"), kT1);
  EXPECT_EQ(read_file(s.at("$errors")), "");
  EXPECT_EQ(list_dir(s.work), (std::vector<std::string>{"$content", "$errors", "$fsnames",
                                                        "$fsnodes", "d", "top.txt"}));
  EXPECT_EQ(read_file(s.at("d/f.txt")), "hello");
  EXPECT_EQ(read_file(s.at("top.txt")), "x");
}

TEST(Startup, PrefixWithoutSeparatorNamesStreamsInTheStartingDirectory) {
  Scratch s;
  make_dir(s.at("out"));
  {
    DumpBuilder d(s.at("img_"));
    d.file(0, u"a.txt", "prefixed", 0x20, kT1, kT1);
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"img_", "out"});
  expect_clean_output(r, "img_", 0, 1, 8);
  // The log is written where the program started, not in the target.
  EXPECT_EQ(read_file(s.at("$errors")), "");
  EXPECT_EQ(list_dir(s.at("out")), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(read_file(s.at("out/a.txt")), "prefixed");
}

TEST(Startup, MissingStreamEndsWithStatusOneAndNoLog) {
  for (const char* missing : kStreams) {
    SCOPED_TRACE(missing);
    Scratch s;
    make_dir(s.at("dump"));
    make_dir(s.at("t"));
    {
      DumpBuilder d(s.at("dump/"));
      d.file(0, u"a.txt", "abc", 0x20, kT1, kT1);
      ASSERT_TRUE(d.close());
    }
    ASSERT_EQ(unlink(s.at(std::string("dump/") + missing).c_str()), 0);
    RunResult r = s.run({"dump/", "t"});
    expect_startup_failure(r, "dump/");
    EXPECT_FALSE(exists(s.at("$errors")));
    EXPECT_TRUE(list_dir(s.at("t")).empty());
  }
}

TEST(Startup, TargetThatCannotBeEnteredEndsWithStatusOneAndEmptyLog) {
  for (bool target_is_file : {false, true}) {
    SCOPED_TRACE(target_is_file ? "target is a file" : "target is missing");
    Scratch s;
    make_dir(s.at("dump"));
    {
      DumpBuilder d(s.at("dump/"));
      d.file(0, u"a.txt", "abc", 0x20, kT1, kT1);
      ASSERT_TRUE(d.close());
    }
    if (target_is_file) write_file(s.at("t"), "not a directory");
    // Any earlier log is discarded, and a failed start leaves none.
    write_file(s.at("$errors"), "stale line\n");
    RunResult r = s.run({"dump/", "t"});
    expect_startup_failure(r, "dump/");
    EXPECT_FALSE(exists(s.at("$errors")));
    EXPECT_FALSE(exists(s.at("a.txt")));
  }
}

TEST(Startup, BasePathTooLongForTheNameBuffer) {
  Scratch s;
  // With the longest suffix and the terminator it needs more than 32768 units.
  const std::string base(32760, 'b');
  RunResult r = s.run({base + "/", "t"});
  EXPECT_EQ(r.status, 1);
  // (Under Wine a command line that long never reaches the program.)
  EXPECT_TRUE(windows() || r.err.starts_with("fsrestore: the base path is too long")) << r.err.substr(0, 200);
  // Whether the basepath line comes before the refusal is the program's
  // choice; nothing else may.
  if (!r.out.empty()) {
    EXPECT_EQ(r.out, "basepath=<" + base + "/>\n");
  }
  EXPECT_FALSE(exists(s.at("$errors")));
}

TEST(NodeStream, EmptyStreamRestoresNothing) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  {
    DumpBuilder d(s.at("dump/"));
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", 0, 0, 0);
  EXPECT_EQ(r.out, "basepath=<dump/>\n" + std::string("dirs=0 files=0 outbytes=0 speed=0") +
                       std::string(78 - 33, ' ') + "\r\n");
  EXPECT_EQ(read_file(s.at("$errors")), "");
  EXPECT_TRUE(list_dir(s.at("t")).empty());
}

TEST(NodeStream, PartialLastRecordIsIgnoredAndReported) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  {
    DumpBuilder d(s.at("dump/"));
    d.file(0, u"one.txt", "1", 0x20, kT1, kT1);
    d.file(0, u"two.txt", "22", 0x20, kT1, kT2);
    d.raw_nodes_bytes(std::string(1, '\x01'));  // 65 bytes in all
    d.raw_name_line("spare\n");
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", 0, 2, 3);
  expect_log(read_file(s.at("$errors")), {"nodes error: $fsnodes ends with 1 stray bytes"});
  expect_times(s.at("t/two.txt"), kT2);  // before reading moves the access time
  EXPECT_EQ(list_dir(s.at("t")), (std::vector<std::string>{"one.txt", "two.txt"}));
  EXPECT_EQ(read_file(s.at("t/two.txt")), "22");
}

TEST(NodeStream, NamesEndingFirstStopTheRunWithoutFinalLine) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  {
    DumpBuilder d(s.at("dump/"));
    d.dir(0, u"d", 0x10, kT1, kT1);
    d.file(1, u"f.txt", "body", 0x20, kT2, kT2);
    d.dir(1, u"e", 0x10, kT1, kT1);
    // Two more records whose names never come.
    FsNode node;
    node.depth = 2;
    node.attr = 0x20;
    node.size = 3;
    d.raw_node(node);
    d.raw_node(node);
    d.content("xyz", 3);
    d.raw_name_line("no line feed");  // a last line without its line feed is no name
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_output_without_final_line(r, "dump/");
  expect_log(read_file(s.at("$errors")), {"names error: $fsnames ended before $fsnodes"});
  // The directories still held open never get their times.
  struct stat st;
  ASSERT_EQ(stat(s.at("t/d").c_str(), &st), 0);
  EXPECT_NE(st.st_mtim.tv_sec, unix_time(kT1).tv_sec);
  ASSERT_EQ(stat(s.at("t/d/e").c_str(), &st), 0);
  EXPECT_NE(st.st_mtim.tv_sec, unix_time(kT1).tv_sec);
  EXPECT_EQ(list_dir(s.at("t")), std::vector<std::string>{"d"});
  EXPECT_EQ(list_dir(s.at("t/d")), (std::vector<std::string>{"e", "f.txt"}));
  EXPECT_EQ(read_file(s.at("t/d/f.txt")), "body");
  EXPECT_TRUE(list_dir(s.at("t/d/e")).empty());
}

TEST(ContentStream, ShortBodiesAreReportedAndKeepWhatArrived) {
  Scratch s;
  make_dir(s.at("dump"));
  make_dir(s.at("t"));
  {
    DumpBuilder d(s.at("dump/"));
    d.file(0, u"whole.txt", "12345", 0x20, kT1, kT1);
    d.file_header(0, u"short.bin", 100, 0x20, kT1, kT1);
    d.file_header(0, u"none.bin", 10, 0x21, kT1, kT1);
    d.file(0, u"empty.txt", "", 0x20, kT1, kT2);
    // A 40-bit size past 4 GiB with nothing behind it.
    d.file_header(0, u"huge.bin", (1ull << 32) + 5, 0x20, kT1, kT1);
    d.content(pattern(60, 7).data(), 60);
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({"dump/", "t"});
  expect_clean_output(r, "dump/", 0, 5, 65);
  expect_log(read_file(s.at("$errors")),
             {"content error with <short.bin>, attr=0020, size=100: 40 bytes missing",
              "content error with <none.bin>, attr=0021, size=10: 10 bytes missing",
              "content error with <huge.bin>, attr=0020, size=4294967301: 4294967301 bytes missing"});
  EXPECT_EQ(read_file(s.at("t/whole.txt")), "12345");
  EXPECT_EQ(read_file(s.at("t/short.bin")), pattern(60, 7));
  EXPECT_EQ(read_file(s.at("t/none.bin")), "");
  EXPECT_EQ(read_file(s.at("t/huge.bin")), "");
  expect_times(s.at("t/empty.txt"), kT2);
}

TEST(NonAscii, BasePathAndTargetWithCharactersBeyondAscii) {
  Scratch s;
  const std::string dump = "dümp_日本/";
  const std::string target = "zíel_😀";
  make_dir(s.at(dump));
  make_dir(s.at(target));
  {
    DumpBuilder d(s.at(dump));
    d.file(0, u"ö.txt", "umlaut", 0x20, kT1, kT1);
    ASSERT_TRUE(d.close());
  }
  RunResult r = s.run({dump, target});
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
  expect_clean_output(r, dump, 0, 1, 6);
  EXPECT_EQ(read_file(s.at("$errors")), "");
  EXPECT_EQ(list_dir(s.at(target)), std::vector<std::string>{"ö.txt"});
  EXPECT_EQ(read_file(s.at(target + "/ö.txt")), "umlaut");
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
  if (!windows()) {
    // Elsewhere "/?" is an ordinary base path.
    RunResult q = s.run({"/?", "t"});
    expect_startup_failure(q, "/?");
  }
}

}  // namespace
}  // namespace e2e

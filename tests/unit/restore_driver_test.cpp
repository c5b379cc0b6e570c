#include <gtest/gtest.h>

#include "test_restorer.h"

namespace {

using Calls = std::vector<std::string>;

TEST(RestoreDriver, EachStartUpFailureEndsWithStatusOneAndNothingButTheBasepathLine) {
  struct Case {
    const char* what;
    std::string failing_op;
    std::u16string failing_name;
    Calls calls;  // everything the run asked of the platform
  } cases[] = {
      {"content stream missing", "open_stream", u"d/$content", {"open_stream d/$content"}},
      {"names stream missing",
       "open_stream",
       u"d/$fsnames",
       {"open_stream d/$content", "open_stream d/$fsnames"}},
      {"node stream missing",
       "open_stream",
       u"d/$fsnodes",
       {"open_stream d/$content", "open_stream d/$fsnames", "open_stream d/$fsnodes"}},
      {"log not creatable",
       "create_log",
       u"",
       {"open_stream d/$content", "open_stream d/$fsnames", "open_stream d/$fsnodes", "create_log"}},
      {"target not enterable",
       "enter_target",
       u"",
       {"open_stream d/$content", "open_stream d/$fsnames", "open_stream d/$fsnodes", "create_log",
        "enter_target target"}},
  };
  for (const Case& c : cases) {
    auto r = TestRestorer::make();
    r->fake.fail(c.failing_op, c.failing_name);
    TestDump d;
    d.file(0, u"f", "x");
    EXPECT_EQ(r->run(d, {"d/", "target"}), 1) << c.what;
    EXPECT_EQ(r->fake.calls, c.calls) << c.what;
    EXPECT_EQ(r->fake.console, "basepath=<d/>\n") << c.what;
    EXPECT_EQ(r->fake.log_text(), "") << c.what;
  }
}

TEST(RestoreDriver, WithoutArgumentsTheCurrentDirectoryIsDumpAndTarget) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(0, u"f", "x");
  r->fake.add_dump(d.nodes, d.names, d.content);
  EXPECT_EQ(r->driver.run(), 0);
  EXPECT_EQ(r->fake.calls_of("open_stream"),
            (Calls{"open_stream $content", "open_stream $fsnames", "open_stream $fsnodes"}));
  EXPECT_EQ(r->fake.calls_of("enter_target").size(), 0u);
  EXPECT_EQ(r->fake.find(u"f")->body, "x");
  EXPECT_TRUE(r->fake.console.starts_with("basepath=<>\n"));
}

TEST(RestoreDriver, ABasePathWithNoRoomForTheSuffixIsAStartUpFailure) {
  for (std::size_t length : {32768u - 9u, 32768u - 8u, 40000u}) {
    auto r = TestRestorer::make();
    const std::string base(length, 'b');
    r->fake.args = {base};
    const bool fits = length + 8 + 1 <= 32768;
    if (fits) r->fake.add_dump("", "", "", std::u16string(length, u'b'));
    EXPECT_EQ(r->driver.run(), fits ? 0 : 1) << length;
    EXPECT_EQ(r->fake.calls_of("open_stream").size(), fits ? 3u : 0u) << length;
    EXPECT_EQ(r->fake.console.substr(0, 10), "basepath=<");
  }
}

TEST(RestoreDriver, TheRoadOfOneDirectoryAndOneFile) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"d", 0x10, 1, 2).file(1, u"f", "abc", 0x20, 3, 4);
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->fake.calls,
            (Calls{"open_stream $content", "open_stream $fsnames", "open_stream $fsnodes", "create_log",
                   "enter_target target", "tick 0", "read $fsnodes 65536 -> 64", "read $fsnames 65536 -> 4",
                   "make_dir d", "set_attr d 0010", "open_dir d", "enter_dir d",
                   "create_file f", "read $content 3 -> 3", "write f 3", "set_times f", "close f",
                   "set_attr f 0020", "read $fsnodes 65536 -> 0", "leave_dir", "set_times d", "close d",
                   "close $content", "close $fsnames", "close $fsnodes", "close $errors"}));
  const std::string last = "dirs=1 files=1 outbytes=3 speed=3";
  EXPECT_EQ(r->fake.console, "basepath=<>\n" + last + std::string(78 - last.size(), ' ') + "\r\n");
  EXPECT_EQ(r->fake.open_handles(), 0);
}

TEST(RestoreDriver, BrokenDumpsEndInOrderAndAreReported) {
  {
    auto r = TestRestorer::make();
    TestDump d;
    d.dir(0, u"held", 0x10, 1, 2).file(1, u"f", "abc").file(1, u"g", "de");
    d.names = "held\nf\n";  // the names run out before the records
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "names error: $fsnames ended before $fsnodes\n");
    EXPECT_FALSE(r->fake.find(u"target/held")->times_set);  // held directories keep no times
    EXPECT_EQ(r->fake.cwd_path(), "/target/held");           // and the cursor stays where it is
    EXPECT_EQ(r->fake.calls_of("create_file"), (Calls{"create_file f"}));
  }
  {
    auto r = TestRestorer::make();
    TestDump d;
    d.file(0, u"a", "1").file(0, u"b", "2");
    d.nodes += std::string(1, '\x07');  // 65 bytes: two records and a stray byte
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->fake.log_text(), "nodes error: $fsnodes ends with 1 stray bytes\n");
    EXPECT_EQ(r->counters.files, 2);
  }
  {
    auto r = TestRestorer::make();
    EXPECT_EQ(r->run(TestDump{}), 0);  // an empty dump restores nothing
    EXPECT_EQ(r->fake.log_text(), "");
    EXPECT_TRUE(r->fake.find(u"target")->children.empty());
  }
}

TEST(RestoreDriver, HelpAndVersionAnswerWithoutTouchingAnything) {
  for (const char* arg : {"--help", "-h", "--version"}) {
    auto r = TestRestorer::make();
    r->fake.args = {arg};
    EXPECT_EQ(r->driver.run(), 0);
    EXPECT_TRUE(r->fake.calls.empty()) << arg;
    EXPECT_NE(r->fake.console.find("fsrestore"), std::string::npos) << arg;
  }
}

}  // namespace

namespace {

// The node stream is read in blocks; records that straddle two blocks, and a
// stream delivered a few bytes at a time, give the same run.
TEST(RestoreDriver, RecordsStraddlingBlocksAndShortReadsChangeNothing) {
  TestDump d;
  const int count = 65536 / 32 * 3 + 5;
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"f";
    name += static_cast<char16_t>(u'a' + i % 26);
    d.file(0, name, std::string(i % 3, 'x'));
  }
  d.nodes += "abc";
  for (int chunk : {0, 7}) {
    auto r = TestRestorer::make();
    r->fake.read_chunk = chunk;
    EXPECT_EQ(r->run(d), 0);
    EXPECT_EQ(r->counters.files, count);
    EXPECT_EQ(r->counters.outbytes, d.content.size());
    EXPECT_EQ(r->fake.log_text(), "nodes error: $fsnodes ends with 3 stray bytes\n");
  }
}

}  // namespace

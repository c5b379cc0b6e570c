#include <gtest/gtest.h>

#include <cstring>

#include "report/json_line.h"
#include "report/number_text.h"
#include "test_restorer.h"

namespace {

struct LogTest : ::testing::Test {
  FakePlatform fake;
  std::unique_ptr<NameReader> names = std::make_unique<NameReader>(fake);
  std::unique_ptr<ErrorLog> log = std::make_unique<ErrorLog>(fake, *names);
  Handle start;

  void SetUp() override {
    start = fake.open_start_dir();
    ASSERT_TRUE(log->write_to(fake.create_file(start, u"$errors")));
  }
  void name(const std::u16string& n) { std::copy(n.c_str(), n.c_str() + n.size() + 1, names->name()); }
  // Stands for an operation that has just failed with this system text.
  void failed(const std::string& text) {
    fake.fail(Op::kMakeDir, u"", 1, text);
    bool made;
    fake.make_dir(start, u"x", &made);
  }
  // The failure the fake reported last.
  Failure why() { return Failure::of_last_call(fake); }
  std::string written() {
    log->close();
    return fake.log_text();
  }
};

// Each line byte for byte: sizes and attribute words whole however large,
// names in the dump's own encoding, the system's text with its line end cut,
// its control characters made spaces and its high bytes kept.
TEST_F(LogTest, TheFailureLinesByteForByte) {
  name(u"a.txt");
  failed("The system cannot find the path specified.\r\n");
  log->createfile_failed(0x20, 5, why());
  name(u"dir");
  failed("Access is denied.\r\n");
  log->chdir_failed(0x10, why());
  failed("Read-only file system");
  log->mkdir_failed(0x11, why());
  name(u"big");
  failed("No space left on device");
  log->write_failed(0x21, 1ull << 33, why());
  failed("x");
  log->createfile_failed(0xA027, (1ull << 40) - 1, why());
  failed("Input/output error");
  log->nodes_failed(why());
  failed("Is a directory");
  log->names_failed(why());
  log->depth_jump(0, 2, 2);
  log->depth_jump(254, 255, 1ull << 40);
  name(std::u16string{u'\u00E9', 0xD83D, 0xDE00});
  failed("Zugriff verweigert \x84\x94\x81\t!");
  log->chdir_failed(0x20, why());
  EXPECT_EQ(written(),
            "createfile error with <a.txt>, attr=0020, size=5: The system cannot find the path specified.  \n"
            "chdir error with <dir> attr=0010: Access is denied.  \n"
            "mkdir error with <dir>, attr=0011: Read-only file system\n"
            "write error with <big>, attr=0021, size=8589934592: No space left on device\n"
            "createfile error with <big>, attr=A027, size=1099511627775: x\n"
            "nodes error: Input/output error\n"
            "names error: Is a directory\n"
            "nodes error: depth rises from 0 to 2 at record 2\n"
            "nodes error: depth rises from 254 to 255 at record 1099511627776\n"
            "chdir error with <\xC3\xA9\xED\xA0\xBD\xED\xB8\x80> attr=0020: Zugriff verweigert \x84\x94\x81 !\n");
  EXPECT_FALSE(log->incomplete());
}

TEST_F(LogTest, TheLongestNameIsWrittenWhole) {
  std::u16string longest(kNameUnits - 1, u'\u0E01');
  name(longest);
  failed("too long");
  log->createfile_failed(0x20, 0, why());
  std::string expected = "createfile error with <";
  for (std::uint32_t i = 0; i < kNameUnits - 1; ++i) expected += "\xE0\xB8\x81";
  EXPECT_EQ(written(), expected + ">, attr=0020, size=0: too long\n");
}

TEST_F(LogTest, EachLineReachesTheFileAtOnceWithOneWrite) {
  int writes = 0;
  fake.on_call = [&](const char* op, const FakePlatform::Node*) { writes += std::string(op) == "log_write"; };
  name(u"n");
  failed("x");
  log->chdir_failed(0x20, why());
  EXPECT_EQ(fake.log_text(), "chdir error with <n> attr=0020: x\n");
  log->names_ended();
  EXPECT_EQ(writes, 2);
  EXPECT_EQ(written(), "chdir error with <n> attr=0020: x\nnames error: $fsnames ended before $fsnodes\n");
}

TEST_F(LogTest, AFailedWriteIsRememberedWithItsTextAndLaterLinesStillTried) {
  name(u"n");
  fake.fail(Op::kWrite, u"$errors", 1, "Disk quota exceeded");
  failed("first");
  log->chdir_failed(0x20, why());
  failed("second");
  log->chdir_failed(0x20, why());
  EXPECT_TRUE(log->incomplete());
  EXPECT_STREQ(log->failure_text(), "Disk quota exceeded");
  EXPECT_EQ(written(), "chdir error with <n> attr=0020: second\n");
}

TEST(TextOut, FormatsLikeTheCLibrary) {
  char out[kNumberChars];
  const std::pair<std::int64_t, const char*> decimals[] = {
      {0, "0"}, {-1, "-1"}, {2147483647, "2147483647"}, {INT64_MIN, "-9223372036854775808"}};
  for (const auto& [value, text] : decimals) {
    format_decimal(value, out);
    EXPECT_STREQ(out, text);
  }
  format_hex4(0xA, out);
  EXPECT_STREQ(out, "000A");
  format_hex4(0x12345, out);
  EXPECT_STREQ(out, "12345");
}

// The report's strings: quotes, backslashes (the cut mark's among them) and
// controls escaped, well-formed UTF-8 kept, and every byte that is not part
// of it (a lone continuation, an overlong form, a surrogate, a sequence cut
// short, past U+10FFFF) one U+FFFD, so a script's JSON parser takes any line.
TEST(TextOut, JsonStringsAreEscapedAndAlwaysWellFormedUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain a/b.txt", "plain a/b.txt"},
      {"q\"\\x\\...", "q\\\"\\\\x\\\\..."},
      {std::string("\x01\n\x1F\x7F", 4), "\\u0001\\u000A\\u001F\x7F"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x82|\xF4\x90\x80\x80",
       "\\uFFFD|\\uFFFD\\uFFFD|\\uFFFD\\uFFFD\\uFFFD|\\uFFFD\\uFFFD|\\uFFFD\\uFFFD\\uFFFD\\uFFFD"},
  };
  FakePlatform fake;
  for (const auto& [text, want] : cases) {
    BufferedLineWriter<64> out(fake, LineSink::kStandardOutput);
    fake.console.clear();
    JsonLine(out).string("s", text.data(), static_cast<std::uint32_t>(text.size())).number("n", -1).end();
    EXPECT_EQ(fake.console, "{\"s\":\"" + want + "\",\"n\":-1}\n") << text;
  }
}

// One progress line per case: the cycle counter and clock readings the turns
// see, and what the console shows afterwards.
struct Turn {
  std::uint64_t cycles;
  std::uint32_t tick;
  bool at_end;
  std::uint64_t outbytes_before;
};
struct ProgressCase {
  const char* what;
  std::uint32_t start_tick;
  std::vector<Turn> turns;
  std::vector<std::string> lines;  // without padding or carriage return
};

std::vector<std::string> printed_lines(const std::string& console) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t cr; (cr = console.find('\r', start)) != std::string::npos; start = cr + 1) {
    std::string line = console.substr(start, cr - start);
    EXPECT_EQ(line.size(), 78u) << line;
    out.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
  EXPECT_EQ(start, console.size());
  return out;
}

TEST(ProgressLine, ThrottlesOnTheCycleCounterAndTheClock) {
  const ProgressCase cases[] = {
      {"first turn reads the clock but it has not moved: nothing until the end",
       1000,
       {{100000001, 1000, false, 0}, {100000002, 1000, true, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0"}},
      {"first turn after the clock moved prints at once",
       1000,
       {{100000001, 1001, false, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0"}},
      {"counter exactly at the reference plus the step does not consult the clock",
       0,
       {{100000000, 50, false, 0}, {100000000, 50, true, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0"}},
      {"the reference lies 100 cycles past the last reading",
       0,
       {{100000001, 1, false, 0}, {200000101, 900, false, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0"}},
      {"one cycle more consults the clock again",
       0,
       {{100000001, 1, false, 0}, {200000102, 900, false, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0", "dirs=0 files=0 outbytes=0 speed=0"}},
      {"a print is due only past the previous tick plus 500",
       0,
       {{100000001, 10, false, 0}, {300000000, 510, false, 0}, {500000000, 511, false, 0}},
       {"dirs=0 files=0 outbytes=0 speed=0", "dirs=0 files=0 outbytes=0 speed=0"}},
      {"final turn that consults the clock prints with the fresh reading",
       0,
       {{100000001, 10, false, 300}, {300000000, 600, true, 1600}},
       {"dirs=0 files=0 outbytes=300 speed=297", "dirs=0 files=0 outbytes=1600 speed=1000"}},
      {"final turn that does not consult prints with the last reading",
       0,
       {{100000001, 500, false, 300}, {100000002, 10000, true, 3000}},
       {"dirs=0 files=0 outbytes=300 speed=200", "dirs=0 files=0 outbytes=3000 speed=2000"}},
      {"final turn whose reading is not past the next tick prints from the end rule",
       0,
       {{100000001, 500, false, 300}, {300000000, 900, true, 3800}},
       {"dirs=0 files=0 outbytes=300 speed=200", "dirs=0 files=0 outbytes=3800 speed=2000"}},
      {"no final line when the node stream has not ended", 0, {{5, 0, false, 0}}, {}},
      {"a divisor of zero shows speed 0",
       1000,
       {{100000001, 0, true, 5}},  // the clock 2^32 - 1000 ms past the start
       {"dirs=0 files=0 outbytes=5 speed=0"}},
      {"a speed past 32 bits is shown whole",
       0,
       {{100000001, 0, true, 4760000000ull}},
       {"dirs=0 files=0 outbytes=4760000000 speed=4760000000"}},
  };
  for (const ProgressCase& c : cases) {
    FakePlatform fake;
    RestoreCounters counters;
    ProgressLine progress(fake, counters.dirs, counters.files, counters.outbytes);
    fake.tick_value = c.start_tick;
    progress.start();
    for (const Turn& t : c.turns) {
      fake.cycle_value = t.cycles;
      fake.tick_value = t.tick;
      counters.outbytes = t.outbytes_before;
      progress.turn(t.at_end);
    }
    EXPECT_EQ(printed_lines(fake.console), c.lines) << c.what;
  }
}

std::string padded(const std::string& line) { return line + std::string(78 - line.size(), ' ') + "\r"; }

TEST(ProgressLine, CountsShownExcludeTheRecordJustRead) {
  auto r = TestRestorer::make();
  TestDump d;
  d.dir(0, u"d").file(1, u"f", "0123456789");
  r->fake.cycle_value = 200000000;
  r->fake.cycle_step = 200000000;  // every turn consults the clock
  r->fake.tick_value = 0;
  r->fake.tick_step = 1000;        // and finds a print due
  r->run(d, {"dump/", "target"});
  EXPECT_EQ(r->fake.console, "basepath=<dump/>\n" + padded("dirs=0 files=0 outbytes=0 speed=0") +
                                 padded("dirs=1 files=0 outbytes=0 speed=0") +
                                 padded("dirs=1 files=1 outbytes=10 speed=2") + "\n");
}

TEST(ProgressLine, NoFinalLineWhenTheNamesRunOut) {
  auto r = TestRestorer::make();
  TestDump d;
  d.file(0, u"a", "1").file(0, u"b", "2");
  d.names = "a\n";
  r->fake.cycle_value = 100000001;  // the first turn consults the clock, which never moves
  EXPECT_EQ(r->run(d), 0);
  EXPECT_EQ(r->fake.console, "basepath=<>\n\n");
}

}  // namespace

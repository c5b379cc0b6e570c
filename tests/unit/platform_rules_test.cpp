#include <gtest/gtest.h>

#include <memory>

#include "dump/name_codec.h"
#include "inline_executor.h"
#include "inspect/compare_writers.h"
#include "inspect/inspection.h"
#include "inspect/tree_compare.h"
#include "platform/entry_name.h"
#include "platform/filetime.h"
#include "platform/utf8_path.h"
#include "test_restorer.h"

namespace {

// Names are judged after decoding, so a name that only becomes hostile once
// the dump's lenient decoding has run is caught all the same.
std::u16string decoded(const std::string& line) {
  char16_t out[512];
  decode_name(reinterpret_cast<const std::uint8_t*>(line.c_str()), out, 512);
  return out;
}

std::string repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

TEST(EntryName, RefusesNamesThatLeaveOrAreNotPlainEntries) {
  struct Case {
    std::string line;  // as stored in the names stream
    bool posix, windows;
  } cases[] = {
      {"a.txt", true, true},
      {"", false, false},
      {".", false, false},
      {"..", false, false},
      {"...", true, false},  // fine on POSIX; Windows drops trailing dots
      {"..a", true, true},
      {"a/b", false, false},
      {"/etc", false, false},
      {"a\\b", true, false},
      {"C:x", true, false},
      {"file:stream", true, false},
      {"CON", true, false},
      {"con.txt", true, false},
      {"Lpt9", true, false},
      {"COM1 .log", true, false},
      {"CONSOLE", true, true},
      {"COM0", true, true},
      {"name.", true, false},
      {"name ", true, false},
      {"a*b", true, false},
      {"tab\there", true, false},
      {"\xC0\xAE\xC0\xAE", false, false},             // overlong dots
      {".\x80", false, false},                         // the repeat rule doubles the dot
      {"\xC0\xAF" "etc", false, false},                // overlong slash
      {"..\xC1\x9C" "x", true, false},                 // overlong backslash
      {"c\xC0\xBA" "x", true, false},                  // overlong colon
      {std::string("..\0x", 4), false, false},         // a zero byte cuts it to ".."
      {"\xC3\xA9t\xC3\xA9", true, true},
      {"CONIN$", true, false},
      {"conout$.txt", true, false},
      {"CONOUT", true, true},
      {std::string(255, 'n'), true, true},
      {std::string(256, 'n'), false, false},  // longer than either system keeps
      // POSIX counts the bytes of its UTF-8, Windows the UTF-16 units.
      {repeat("\xC3\xA9", 127) + "n", true, true},   // 255 bytes, 128 units
      {repeat("\xC3\xA9", 128), false, true},        // 256 bytes
      {repeat("\xED\xA0\xBC\xED\xBC\xB4", 63) + "nnn", true, true},  // a pair is 4 bytes: 255
      {repeat("\xED\xA0\x80", 85), true, true},     // lone surrogates as 3 bytes: 255
      {repeat("\xED\xA0\x80", 85) + "n", false, true},
      {repeat("\xED\xB3\xBF", 255), true, true},  // U+DCFF is made as the byte 0xFF: 255
      {repeat("\xED\xB3\x83\xED\xB2\xA9", 43), false, true},  // escapes that read as é keep 3 bytes: 258
  };
  for (const Case& c : cases) {
    const std::u16string name = decoded(c.line);
    EXPECT_EQ(is_valid_entry_name(name.c_str(), NameRules::kPosix), c.posix) << "posix: " << c.line;
    EXPECT_EQ(is_valid_entry_name(name.c_str(), NameRules::kWindows), c.windows) << "windows: " << c.line;
  }
}

std::string to_path(const std::u16string& name, LoneSurrogates lone = LoneSurrogates::kEncode) {
  char out[256];
  return std::string(out, utf16_to_path(name.c_str(), out, lone));
}

TEST(Utf8Path, NamesBecomeProperUtf8) {
  EXPECT_EQ(to_path(u"plain"), "plain");
  EXPECT_EQ(to_path(u"\u00E9\u0E01"), "\xC3\xA9\xE0\xB8\x81");
  EXPECT_EQ(to_path(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(to_path(std::u16string{u'a', 0xD83D, u'b'}), "a\xED\xA0\xBD" "b");  // lone high surrogate
  EXPECT_EQ(to_path(std::u16string{0xDE00}), "\xED\xB8\x80");                   // lone low surrogate
  EXPECT_EQ(to_path(std::u16string{0xDC7F}), "\xED\xB1\xBF");                   // below the escapes
}

// U+DC80..U+DCFF stand for bytes that were not UTF-8. A run of them is made
// as those bytes unless they would read as something else; each name is made
// as bytes no other name is, and reads back from them as it was, while bytes
// the restore never makes do not read as the name they resemble.
TEST(Utf8Path, EscapedBytesAreMadeAsBytesUnlessTheyReadAsText) {
  struct Case {
    std::u16string name;
    std::string bytes;
  } cases[] = {
      {{u'a', 0xDCFF, u'b'}, "a\xFF" "b"},
      {{u'c', u'a', u'f', 0xDCE9}, "caf\xE9"},
      {{0xDC80}, "\x80"},
      {{0xDCE2, 0xDC82}, "\xE2\x82"},                        // an unfinished character reads as no text
      {{0xDCC3, u'A', 0xDCA9}, "\xC3" "A\xA9"},             // two runs, each judged alone
      {{0xDCC3, 0xDCA9}, "\xED\xB3\x83\xED\xB2\xA9"},        // C3 A9 would read as é
      {{0xDCFF, 0xDCC3, 0xDCA9}, "\xED\xB3\xBF\xED\xB3\x83\xED\xB2\xA9"},  // the whole run keeps its forms
      {{0xDCED, 0xDCB3, 0xDCBF}, "\xED\xB3\xAD\xED\xB2\xB3\xED\xB2\xBF"},  // ED B3 BF would read as U+DCFF
      {{0xD83D, 0xDCFF}, "\xF0\x9F\x93\xBF"},                  // after a high surrogate: a pair
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_path(c.name), c.bytes) << c.bytes;
    char16_t units[32];
    ASSERT_GT(path_to_utf16(c.bytes.c_str(), units, 32, LoneSurrogates::kEncode), 0u);
    EXPECT_EQ(std::u16string(units), c.name) << c.bytes;
  }
  const struct {
    std::string bytes;
    std::u16string name;
  } listed[] = {  // names on disk the restore did not make, and one it did
      {"caf\xED\xB3\xA9", {u'c', u'a', u'f', 0xDCED, 0xDCB3, 0xDCA9}},  // not caf U+DCE9, made as caf\xE9
      {"\xED\xA0\xBD\xED\xB8\x80", {0xDCED, 0xDCA0, 0xDCBD, 0xDCED, 0xDCB8, 0xDC80}},  // not the pair
      {"\xED\xA0\xBD", {0xD83D}},  // a lone high surrogate as the restore makes it
  };
  for (const auto& f : listed) {
    char16_t units[32];
    ASSERT_GT(path_to_utf16(f.bytes.c_str(), units, 32, LoneSurrogates::kEncode), 0u);
    EXPECT_EQ(std::u16string(units), f.name) << f.bytes;
  }
}

TEST(Utf8Path, ArgumentBytesSurviveTheRoundTrip) {
  const std::string samples[] = {
      "dump/", "d\xC3\xA9j\xC3\xA0/", "\xFF\xFE raw", "\xC3", "\xED\xA0\x80 encoded surrogate",
      "\xC0\xAF overlong", "\xF0\x9F\x98\x80/", "\xF4\x90\x80\x80 too high",
  };
  for (const std::string& bytes : samples) {
    char16_t units[128];
    const std::uint32_t n = path_to_utf16(bytes.c_str(), units, 128);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(units[n - 1], 0);
    EXPECT_EQ(to_path(units, LoneSurrogates::kRawEscapes), bytes);
  }
  char16_t small[4];
  EXPECT_EQ(path_to_utf16("abc", small, 4), 4u);
  EXPECT_EQ(path_to_utf16("abcd", small, 4), 0u);
  EXPECT_EQ(path_to_utf16("ab\xF0\x9F\x98\x80", small, 4), 0u);  // the pair does not fit
}

TEST(FileTimeToUnix, ExactToTheTickOnBothSidesOf1970) {
  struct Case {
    std::uint64_t filetime;
    std::int64_t seconds;
    std::int32_t nanoseconds;
  } cases[] = {
      {kFileTimeUnixEpoch, 0, 0},
      {kFileTimeUnixEpoch + 1, 0, 100},
      {kFileTimeUnixEpoch - 1, -1, 999999900},
      {kFileTimeUnixEpoch - 10000000, -1, 0},
      {kFileTimeUnixEpoch + 15000000, 1, 500000000},
      {0, -11644473600, 0},
      {133000000000000000ull, 1655526400, 0},
      {~0ull, 1833029933770, 955161500},
  };
  for (const Case& c : cases) {
    const UnixTime t = filetime_to_unix(c.filetime);
    EXPECT_EQ(t.seconds, c.seconds) << c.filetime;
    EXPECT_EQ(t.nanoseconds, c.nanoseconds) << c.filetime;
  }
}

// Two names meet where the directory folds names, as its folds_names()
// tells, whatever the system's name rules: the restore refuses the second
// there, and --compare tells the same refusal and no difference. Names the
// dump's own check keeps apart (dotted and dotless I differ in upper case
// too) but this file system folds together are told by the entry they
// reach, as the restore tells them. Where the directory keeps names apart,
// every one is a file.
TEST(FoldedNames, CompareMeetsNamesWhereTheRestoreDoes) {
  for (const bool folds : {false, true}) {
    SCOPED_TRACE(folds ? "folding" : "byte for byte");
    auto r = TestRestorer::make();
    r->fake.fold_case = folds;
    TestDump d;
    d.file(0, u"Read.me", "first").file(0, u"READ.ME", "second!").dir(0, u"sub").file(1, u"\u0130", "dotted");
    d.file(1, u"\u0131", "dotless");
    r->run(d, {"dump/", "target"});
    EXPECT_EQ(r->fake.calls_of("remove_file").size(), 0u);
    EXPECT_EQ(r->tree().starts_with("Read.me=first*!, "), folds) << r->tree();
    auto view = std::make_unique<Inspection>(r->fake);
    r->fake.console.clear();
    r->fake.args = {"--compare", "dump/", "target"};
    auto compare = std::make_unique<TreeCompare>(r->fake, view->walk, view->out, view->err);
    EXPECT_EQ(compare->run(1, 2), 0);
    EXPECT_EQ(r->fake.console, folds ? "refused READ.ME: an entry restored in this run has this name\n"
                                       "refused sub/\xC4\xB1: an entry restored in this run has this name\n"
                                       "entries=5 refused=2 differences=0\n"
                                     : "entries=5 refused=0 differences=0\n");
  }
}

// With writers, every file's body is opened and read in their batches, and
// what --compare prints is what it prints alone; a file that cannot be read
// is told so, not taken for one that differs.
TEST(FoldedNames, CompareReadsBodiesInTheWritersBatches) {
  auto r = TestRestorer::make();
  TestDump d;
  for (int i = 0; i < 150; ++i) {
    std::u16string name(u"f..");
    name[1] = static_cast<char16_t>(u'A' + i % 26);
    name[2] = static_cast<char16_t>(u'a' + i / 26);
    d.file(0, name, "body");
  }
  r->run(d, {"dump/", "target"});
  r->fake.find(u"target/fBa")->body = "bodY";
  r->fake.args = {"--compare", "dump/", "target"};
  // A file that cannot be read is told unreadable, not different.
  r->fake.fail(PlatformOp::kRead, u"fCa", -1, "Input/output error");
  for (const int writers : {1, 4}) {
    auto view = std::make_unique<Inspection>(r->fake);
    auto compare = std::make_unique<TreeCompare>(r->fake, view->walk, view->out, view->err);
    InlineExecutor executor;
    CompareWriters pool(r->fake, &executor);
    if (writers > 1) compare->compare_with(&pool);
    int in_batches = 0, elsewhere = 0;
    r->fake.before_call = [&](PlatformOp op) {
      if (op == PlatformOp::kOpenFileRead) ++(executor.running() ? in_batches : elsewhere);
    };
    r->fake.console.clear();
    EXPECT_EQ(compare->run(1, 2, writers), 3);
    r->fake.before_call = nullptr;
    EXPECT_EQ(r->fake.console,
              "bytes fBa: differ from byte 3\nunreadable fCa: Input/output error\n"
              "entries=150 refused=0 differences=2\n");
    EXPECT_EQ(in_batches, writers > 1 ? 150 : 0);
    EXPECT_EQ(elsewhere, writers > 1 ? 0 : 150);
  }
}

}  // namespace

// The pieces of --list and --check over the fake platform: time and name
// text, and a whole listing read through streams that deliver a byte at a
// time.
#include <gtest/gtest.h>

#include <memory>

#include "dump_builder.h"
#include "fake_platform.h"
#include "report/iso_time.h"
#include "report/name_text.h"
#include "inspect/dump_check.h"
#include "inspect/dump_listing.h"
#include "inspect/inspection.h"

namespace {

std::string iso(FileTime t) {
  char out[kIsoTimeChars];
  return std::string(out, format_iso_time(t, out));
}

TEST(IsoTime, CoversTheWholeFiletimeRangeWithItsFraction) {
  EXPECT_EQ(iso(0), "1601-01-01T00:00:00.0000000Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(0)), "1970-01-01T00:00:00.0000000Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(-1, 9999999)), "1969-12-31T23:59:59.9999999Z");
  EXPECT_EQ(iso(DumpBuilder::filetime(951782400)), "2000-02-29T00:00:00.0000000Z");  // a leap day
  EXPECT_EQ(iso(DumpBuilder::filetime(4107542399, 1)), "2100-02-28T23:59:59.0000001Z");
  EXPECT_EQ(iso(~FileTime{0}), "60056-05-28T05:36:10.9551615Z");
}

std::string text(const std::u16string& name, NameTextKind kind = NameTextKind::kEntryName,
                 std::uint32_t capacity = 64, bool* cut_out = nullptr) {
  char out[64];
  bool cut = false;
  const std::uint32_t n = append_name_text(name.c_str(), kind, out, 0, capacity, &cut);
  if (cut_out) *cut_out = cut;
  return std::string(out, n);
}

TEST(NameText, IsProperUtf8WithEverythingThatCouldFakeALineEscaped) {
  EXPECT_EQ(text(u"caf\u00E9 \U0001F334"), "caf\xC3\xA9 \xF0\x9F\x8C\xB4");
  EXPECT_EQ(text(u"a\nb\rc\x7F"), "a\\x0Ab\\x0Dc\\x7F");
  EXPECT_EQ(text(u"\x85 \u2028"), "\\u0085 \xE2\x80\xA8");
  // Unpaired surrogates, either half, and a pair in the wrong order.
  EXPECT_EQ(text(u"\xD800x\xDC00\xDC00\xD800"), "\\uD800x\\uDC00\\uDC00\\uD800");
  EXPECT_EQ(text(u"a/b\\c"), "a\\x2Fb\\x5Cc");
  EXPECT_EQ(text(u"dump/sub\\", NameTextKind::kPath), "dump/sub\\");
}

TEST(NameText, CutsBeforeACharacterThatDoesNotFit) {
  bool cut = false;
  EXPECT_EQ(text(u"ab\U0001F334", NameTextKind::kEntryName, 5, &cut), "ab");
  EXPECT_TRUE(cut);
  EXPECT_EQ(text(u"ab\U0001F334", NameTextKind::kEntryName, 6, &cut), "ab\xF0\x9F\x8C\xB4");
  EXPECT_FALSE(cut);
}

struct View {
  FakePlatform fake;
  Inspection inspection{fake};
  DumpWalk& walk = inspection.walk;
  LineWriter& out = inspection.out;
  LineWriter& err = inspection.err;
};

// A small tree with a depth jump and a body cut short, as streams.
struct Streams {
  std::string nodes, names, content;
};
Streams broken_tree() {
  auto node = [](std::uint8_t depth, std::uint16_t attr, std::uint64_t size) {
    FsNode n;
    n.depth = depth;
    n.attr = attr;
    n.size = size;
    std::uint8_t bytes[kFsNodeBytes];
    encode_fs_node(n, bytes);
    return std::string(reinterpret_cast<char*>(bytes), kFsNodeBytes);
  };
  Streams s;
  s.nodes = node(0, 0x10, 0) + node(1, 0x20, 3) + node(3, 0x20, 4) + node(0, 0x20, 9);
  s.names = DumpBuilder::name_line(u"d") + DumpBuilder::name_line(u"a") + DumpBuilder::name_line(u"deep") +
            DumpBuilder::name_line(u"cut");
  s.content = "aaa" "dddd" "12";
  return s;
}

TEST(DumpListing, StreamsThatDeliverAByteAtATimeListTheSame) {
  const Streams s = broken_tree();
  std::string outputs[2];
  for (std::uint32_t chunk : {0u, 1u}) {
    auto v = std::make_unique<View>();
    v->fake.args = {"--list", "dump/"};
    v->fake.read_chunk = chunk;
    v->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
    EXPECT_EQ(list_dump(v->fake, v->walk, 1, v->out, v->err), 0);
    EXPECT_EQ(v->fake.errors_out,
              "order error with <d/a/deep>: depth rises from 1 to 3\n"
              "content error with <cut>, attr=0020, size=9: 7 bytes missing\n");
    outputs[chunk] = v->fake.console;
    // Nothing but reads: no log, no directory, no file.
    for (const std::string& call : v->fake.calls) {
      EXPECT_TRUE(call.rfind("open_stream ", 0) == 0 || call.rfind("read ", 0) == 0) << call;
    }
  }
  EXPECT_EQ(outputs[0],
            "d 0010 0 1601-01-01T00:00:00.0000000Z d\n"
            "- 0020 3 1601-01-01T00:00:00.0000000Z d/a\n"
            "- 0020 4 1601-01-01T00:00:00.0000000Z d/a/deep\n"
            "- 0020 9 1601-01-01T00:00:00.0000000Z cut\n");
  EXPECT_EQ(outputs[1], outputs[0]);
}

TEST(DumpCheck, CountsEveryRecordEvenAfterTheNamesRunOut) {
  Streams s = broken_tree();
  s.names = DumpBuilder::name_line(u"d");
  auto v = std::make_unique<View>();
  v->fake.args = {"--check", "dump/"};
  v->fake.read_chunk = 5;
  v->fake.add_dump(s.nodes, s.names, s.content, u"dump/");
  EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 3);
  EXPECT_EQ(v->fake.errors_out,
            "order error with <d>: depth rises from 1 to 3\n"
            "names error: $fsnames holds 1 lines for 4 records in $fsnodes\n"
            "content error: the files' sizes add up to 16 bytes, $content holds 9\n");
  EXPECT_EQ(v->fake.console, "dirs=1 files=3 bytes=16 problems=3\n");
}

TEST(DumpCheck, AMissingStreamIsNamedAndTheDirectoryHintGiven) {
  auto v = std::make_unique<View>();
  v->fake.args = {"--check", "dump"};
  v->fake.mkdir_p(u"dump");
  v->fake.add_stream(u"dump$content", "");
  v->fake.add_stream(u"dump$fsnames", "");
  EXPECT_EQ(check_dump(v->fake, v->walk, 1, v->out, v->err), 1);
  EXPECT_EQ(v->fake.errors_out, "dump$fsnodes: No such file or directory; did you mean dump/ ?\n");
  EXPECT_EQ(v->fake.console, "");
}

}  // namespace

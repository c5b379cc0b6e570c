#include <gtest/gtest.h>

#include "dump/fs_node.h"
#include "dump/name_codec.h"
#include "dump/name_reader.h"
#include "fake_platform.h"

using Op = FakePlatform::Op;

namespace {

std::u16string decode(const std::string& line) {
  char16_t out[64];
  decode_name(reinterpret_cast<const std::uint8_t*>(line.c_str()), out, 64);
  return out;
}

std::string encode(const std::u16string& name) {
  char out[256];
  encode_name(name.c_str(), out);
  return out;
}

TEST(NameCodec, DecodesTheDumpsOwnLenientForm) {
  struct Case {
    const char* what;
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"three-byte form", "\xE0\xB8\x81", u"\u0E01"},
      {"two-byte form", "\xC3\xA9", u"\u00E9"},
      {"surrogates travel as two units", "\xED\xA0\xBD\xED\xB8\x80", std::u16string{0xD83D, 0xDE00}},
      {"stray continuation repeats the last unit", "a\x80", u"aa"},
      {"continuation at line start is a zero unit", "\x80" "abc", u""},
      {"four-byte forms are not recognised", "\xF0\x9F\x98\x80", u"\u07D8\u07D8"},
      {"overlong zero ends the name", "ab\xC0\x80" "cd", u"ab"},
      {"carriage return is part of the name", "a\r", u"a\r"},
      {"sequence cut short by ASCII", "\xC3" "b", u"b"},
      {"sequence cut short by a lead byte", "\xE0\xB8\xC3\xA9", u"\u00E9"},
      {"sequence cut short at the end", "x\xE0\xB8", u"x"},
      {"overlong dot pair decodes to dots", "\xC0\xAE\xC0\xAE", u".."},
      {"repeat rule makes a dot pair", ".\x80", u".."},
      {"empty line", "", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(decode(c.bytes), c.units) << c.what;
}

TEST(NameCodec, EncodesEachUnitOnItsOwn) {
  EXPECT_EQ(encode(u"\u0E01"), "\xE0\xB8\x81");
  EXPECT_EQ(encode(u"\u07FF"), "\xDF\xBF");
  EXPECT_EQ(encode(u"\u0080"), "\xC2\x80");
  EXPECT_EQ(encode(std::u16string{0xD83D, 0xDE00}), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(encode(u"a.txt"), "a.txt");
  EXPECT_EQ(encode(u"a\nb\r"), "a\xC0\x8A" "b\r");  // a line feed never ends a line
  EXPECT_EQ(decode("a\xC0\x8A" "b"), u"a\nb");
}

TEST(NameCodec, DecodingStopsAtTheBufferAndTerminates) {
  std::string line(100, 'x');
  char16_t out[8];
  EXPECT_EQ(decode_name(reinterpret_cast<const std::uint8_t*>(line.c_str()), out, 8), 7u);
  EXPECT_EQ(out[7], 0);
}

TEST(FsNodeRecord, DecodesLittleEndianAndKeepsAll40SizeBits) {
  std::uint8_t bytes[32];
  for (int i = 0; i < 32; ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
  const FsNode node = decode_fs_node(bytes);
  EXPECT_EQ(node.size, 0x0504030201ull);
  EXPECT_EQ(node.depth, 6);
  EXPECT_EQ(node.attr, 0x0807);
  EXPECT_EQ(node.creation_time, 0x100F0E0D0C0B0A09ull);
  EXPECT_EQ(node.write_time, 0x1817161514131211ull);
  EXPECT_EQ(node.extra, 0x201F1E1D1C1B1A19ull);
  std::uint8_t again[32];
  encode_fs_node(node, again);
  EXPECT_EQ(0, memcmp(bytes, again, 32));

  FsNode four_gib;
  four_gib.size = 1ull << 32;
  encode_fs_node(four_gib, again);
  EXPECT_EQ(decode_fs_node(again).size, 4294967296ull);
}

// The names stream served by the fake, read through a NameReader.
struct NameStream {
  FakePlatform fake;
  std::unique_ptr<NameReader> reader = std::make_unique<NameReader>(fake);
  Handle stream;
  std::uint32_t chunk = 0;
  void serve(const std::string& bytes) {
    fake.add_stream(u"$fsnames", bytes);
    fake.stream_chunk(u"$fsnames", chunk);
    stream = fake.open_stream(u"$fsnames");
  }
  std::vector<std::u16string> all() {
    std::vector<std::u16string> out;
    while (reader->read_name(stream) == NameRead::kName) out.push_back(reader->name());
    return out;
  }
};
struct ReaderTest : ::testing::Test, NameStream {};

TEST_F(ReaderTest, LinesStraddlingTheBlockMatchOneBlock) {
  std::string bytes;
  std::vector<std::u16string> expected;
  for (int i = 0; bytes.size() < 3 * 65536; ++i) {
    const std::string name = "name-\xC3\xA9-" + std::to_string(i) + std::string(i % 97, 'x');
    bytes += name + "\n";
    const std::string number = std::to_string(i);
    expected.push_back(u"name-\u00E9-" + std::u16string(number.begin(), number.end()) + std::u16string(i % 97, u'x'));
  }
  serve(bytes);
  EXPECT_EQ(all(), expected);
  EXPECT_EQ(fake.calls_of("read $fsnames 65536").size(), 5u);  // four blocks and the empty read
}

// A pipe may cut the stream anywhere: the names come out the same a byte
// at a time, and a read is never asked to wait for more than the line at
// hand. A last line without its line feed is no name; a zero byte cuts the
// name, not the line.
TEST(NameReader, SplitsLinesWhereverTheStreamIsCut) {
  using Names = std::vector<std::u16string>;
  struct Case {
    std::string bytes;
    Names names;
  } cases[] = {
      {"a\nb\n\nlast", {u"a", u"b", u""}},
      {std::string("ab\0cd\nnext\n", 11), {u"ab", u"next"}},
      {"a\n\xC3\xA9t\xC3\xA9\n\nlong" + std::string(300, 'z') + "\nlast",
       {u"a", u"\u00E9t\u00E9", u"", u"long" + std::u16string(300, u'z')}},
  };
  for (const Case& c : cases) {
    for (std::uint32_t chunk : {0u, 1u}) {
      NameStream t;
      t.chunk = chunk;
      t.serve(c.bytes);
      EXPECT_EQ(t.all(), c.names) << c.bytes << " in pieces of " << chunk;
    }
  }
}

TEST_F(ReaderTest, OverlongLineIsConsumedToItsLineFeedAndCut) {
  serve(std::string(200000, 'y') + "\nafter\n");
  ASSERT_EQ(reader->read_name(stream), NameRead::kName);
  EXPECT_EQ(std::u16string(reader->name()), std::u16string(kNameUnits - 1, u'y'));
  ASSERT_EQ(reader->read_name(stream), NameRead::kName);
  EXPECT_EQ(std::u16string(reader->name()), u"after");
}

TEST_F(ReaderTest, LongestNameEncodesIntoTheScratchWithoutOverflow) {
  std::string line;
  for (std::uint32_t i = 0; i < 21845; ++i) line += "\xE0\xB8\x81";  // 65535 bytes, 21845 units
  serve(line + "\n");
  ASSERT_EQ(reader->read_name(stream), NameRead::kName);
  EXPECT_EQ(std::string(reader->encode_name()), line);
  // A name of the greatest length in units, each taking three bytes encoded.
  std::u16string widest(kNameUnits - 1, u'\uFFFF');
  std::copy(widest.begin(), widest.end(), reader->name());
  reader->name()[kNameUnits - 1] = 0;
  EXPECT_EQ(std::string(reader->encode_name()).size(), 3u * (kNameUnits - 1));
}

TEST_F(ReaderTest, AFailedReadIsNotTheEnd) {
  serve("a\nb\n");
  ASSERT_EQ(reader->read_name(stream), NameRead::kName);
  ASSERT_EQ(reader->read_name(stream), NameRead::kName);
  fake.fail(Op::kRead, u"$fsnames", 1, "Input/output error");
  EXPECT_EQ(reader->read_name(stream), NameRead::kFailed);
  EXPECT_EQ(reader->read_name(stream), NameRead::kEnded);
}

}  // namespace

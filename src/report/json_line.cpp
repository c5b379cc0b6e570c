#include "report/json_line.h"

#include <cstring>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The length of the well-formed UTF-8 sequence at p (at most `left` bytes),
// or 0 when none starts there: no overlong form, no surrogate, nothing past
// U+10FFFF.
std::uint32_t sequence_length(const unsigned char* p, std::uint32_t left) {
  const unsigned char b = p[0];
  std::uint32_t n;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (n > left || p[1] < low || p[1] > high) return 0;
  for (std::uint32_t i = 2; i < n; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return n;
}

}  // namespace

JsonLine::JsonLine(LineWriter& w) : w_(w) { w_.text("{"); }

LineWriter& JsonLine::key(const char* name) {
  w_.text(first_ ? "\"" : ",\"").text(name).text("\":");
  first_ = false;
  return w_;
}

JsonLine& JsonLine::number(const char* name, std::int64_t value) {
  key(name).decimal(value);
  return *this;
}

JsonLine& JsonLine::string(const char* name, const char* text) {
  return string(name, text, static_cast<std::uint32_t>(std::strlen(text)));
}

JsonLine& JsonLine::string(const char* name, const char* bytes, std::uint32_t length, const char* tail) {
  key(name).text("\"");
  escaped(bytes, length);
  escaped(tail, static_cast<std::uint32_t>(std::strlen(tail)));
  w_.text("\"");
  return *this;
}

JsonLine& JsonLine::boolean(const char* name, bool value) {
  key(name).text(value ? "true" : "false");
  return *this;
}

JsonLine& JsonLine::null(const char* name) {
  key(name).text("null");
  return *this;
}

bool JsonLine::end() { return w_.text("}").end_line(); }

void JsonLine::escaped(const char* bytes, std::uint32_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  std::uint32_t plain = 0;  // bytes at p that go out as they are
  while (plain < length) {
    const unsigned char c = p[plain];
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++plain;
      continue;
    }
    const std::uint32_t n = c >= 0x80 ? sequence_length(p + plain, length - plain) : 0;
    if (n > 0) {
      plain += n;
      continue;
    }
    w_.bytes(reinterpret_cast<const char*>(p), plain);
    if (c == '"' || c == '\\') {
      const char pair[2] = {'\\', static_cast<char>(c)};
      w_.bytes(pair, 2);
    } else if (c < 0x20) {
      const char code[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      w_.bytes(code, 6);
    } else {
      w_.text("\\uFFFD");
    }
    p += plain + 1;
    length -= plain + 1;
    plain = 0;
  }
  w_.bytes(reinterpret_cast<const char*>(p), plain);
}

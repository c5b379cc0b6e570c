#include "platform/utf8_path.h"

namespace {

bool is_high(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char* put_utf8(char* p, std::uint32_t c) {
  if (c < 0x80) {
    *p++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | c >> 6);
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | c >> 12);
    *p++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | c >> 18);
    *p++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return p;
}

// Length and value of the well-formed UTF-8 character at p, or 0.
int decode_one(const unsigned char* p, std::uint32_t* out, bool surrogates) {
  const unsigned char b = p[0];
  int length;
  std::uint32_t c, minimum;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, c = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, c = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, c = b & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (!surrogates && c >= 0xD800 && c <= 0xDFFF)) return 0;
  *out = c;
  return length;
}

}  // namespace

std::uint32_t utf16_to_path(const char16_t* in, char* out, LoneSurrogates lone) {
  char* p = out;
  for (; *in != 0; ++in) {
    std::uint32_t u = *in;
    if (is_high(u) && is_low(in[1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (in[1] - 0xDC00);
      ++in;
    } else if (lone == LoneSurrogates::kRawEscapes && u >= 0xDC80 && u <= 0xDCFF) {
      *p++ = static_cast<char>(u - 0xDC00);
      continue;
    }
    p = put_utf8(p, u);
  }
  *p = 0;
  return static_cast<std::uint32_t>(p - out);
}

std::uint32_t path_to_utf16(const char* in, char16_t* out, std::uint32_t capacity, LoneSurrogates lone) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
  std::uint32_t n = 0;
  while (*p != 0) {
    std::uint32_t c = 0;
    int length = *p < 0x80 ? 1 : decode_one(p, &c, lone == LoneSurrogates::kEncode);
    if (length == 1) c = *p;
    if (length == 0) c = 0xDC00 + *p, length = 1;  // not UTF-8: keep the byte
    const std::uint32_t need = c >= 0x10000 ? 2 : 1;
    if (n + need + 1 > capacity) return 0;
    if (need == 2) {
      out[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out[n++] = static_cast<char16_t>(c);
    }
    p += length;
  }
  out[n++] = 0;
  return n;
}

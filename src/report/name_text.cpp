#include "report/name_text.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The format characters (Unicode category Cf, as of Unicode 15): invisible,
// and some of them (the bidirectional controls U+202A-U+202E and
// U+2066-U+2069) reorder what a terminal shows.
struct Range {
  std::uint32_t first, last;
};
constexpr Range kFormatCharacters[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// Characters shown as an escape: controls (C0, DEL, C1), the line and
// paragraph separators U+2028 and U+2029, the format characters, and
// surrogates that do not pair.
bool is_escaped(std::uint32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029) return true;
  if (c >= 0xD800 && c <= 0xDFFF) return true;
  if (c < 0x00AD) return false;
  for (const Range& r : kFormatCharacters) {
    if (c < r.first) return false;
    if (c <= r.last) return true;
  }
  return false;
}

std::uint32_t hex_escape(char mark, std::uint32_t c, int digits, char* out) {
  out[0] = '\\';
  out[1] = mark;
  for (int i = 0; i < digits; ++i) out[2 + i] = kHex[c >> (4 * (digits - 1 - i)) & 0xF];
  return 2 + static_cast<std::uint32_t>(digits);
}

// One character's text; returns its length (at most 10 bytes).
std::uint32_t character_text(std::uint32_t c, bool escape_separators, char* out) {
  if (c < 0x80 && (c < 0x20 || c == 0x7F || (escape_separators && (c == '/' || c == '\\')))) {
    return hex_escape('x', c, 2, out);
  }
  if (is_escaped(c)) return c < 0x10000 ? hex_escape('u', c, 4, out) : hex_escape('U', c, 8, out);
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | c >> 6);
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | c >> 12);
    out[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | c >> 18);
  out[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
  out[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

}  // namespace

std::uint32_t append_name_text(const char16_t* name, NameTextKind kind, char* out, std::uint32_t used,
                               std::uint32_t capacity, bool* cut) {
  *cut = false;
  while (*name != 0) {
    std::uint32_t c = *name++;
    if (is_high_surrogate(c) && is_low_surrogate(*name)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (*name++ - 0xDC00u);
    }
    char text[10];
    const std::uint32_t length = character_text(c, kind == NameTextKind::kEntryName, text);
    if (length > capacity - used) {
      *cut = true;
      break;
    }
    for (std::uint32_t i = 0; i < length; ++i) out[used++] = text[i];
  }
  return used;
}

const char16_t* read_name_text(const char16_t* text, char16_t* out, std::uint32_t capacity,
                               std::uint32_t* length) {
  std::uint32_t used = 0;
  const char16_t* p = text;
  for (; *p != u'/' && *p != 0; ++p) {
    std::uint32_t c = *p;
    if (c == u'\\') {
      const int digits = p[1] == u'x' ? 2 : p[1] == u'u' ? 4 : p[1] == u'U' ? 8 : 0;
      if (digits == 0) return nullptr;
      c = 0;
      for (int i = 0; i < digits; ++i) {
        const int v = hex_value(p[2 + i]);
        if (v < 0) return nullptr;
        c = c << 4 | static_cast<std::uint32_t>(v);
      }
      p += 1 + digits;
    }
    if (used + 2 >= capacity || c > 0x10FFFF) return nullptr;
    if (c >= 0x10000) {
      out[used++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out[used++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out[used++] = static_cast<char16_t>(c);
    }
  }
  if (p == text || used >= capacity) return nullptr;
  out[used] = 0;
  *length = used;
  return p;
}

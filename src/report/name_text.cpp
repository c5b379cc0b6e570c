#include "report/name_text.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One character's text; returns its length (at most 6 bytes).
std::uint32_t character_text(std::uint32_t c, bool escape_separators, char* out) {
  if (c < 0x20 || c == 0x7F || (escape_separators && (c == '/' || c == '\\'))) {
    out[0] = '\\';
    out[1] = 'x';
    out[2] = kHex[c >> 4];
    out[3] = kHex[c & 0xF];
    return 4;
  }
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0xA0 || (c >= 0xD800 && c <= 0xDFFF)) {
    out[0] = '\\';
    out[1] = 'u';
    for (int i = 0; i < 4; ++i) out[2 + i] = kHex[c >> (12 - 4 * i) & 0xF];
    return 6;
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
    char text[6];
    const std::uint32_t length = character_text(c, kind == NameTextKind::kEntryName, text);
    if (length > capacity - used) {
      *cut = true;
      break;
    }
    for (std::uint32_t i = 0; i < length; ++i) out[used++] = text[i];
  }
  return used;
}

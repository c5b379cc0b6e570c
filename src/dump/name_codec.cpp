#include "dump/name_codec.h"

std::uint32_t decode_name(const std::uint8_t* line, char16_t* out, std::uint32_t capacity) {
  std::uint32_t accumulator = 0;
  int expected = 0;
  std::uint32_t n = 0;
  const std::uint32_t limit = capacity - 1;
  for (; *line != 0 && n < limit; ++line) {
    const std::uint8_t byte = *line;
    std::uint32_t unit;
    if (byte < 0x80) {
      accumulator = byte;
      expected = 0;
      unit = byte;
    } else if (byte >= 0xE0) {
      accumulator = byte & 0x0Fu;
      expected = 2;
      continue;
    } else if (byte >= 0xC0) {
      accumulator = byte & 0x1Fu;
      expected = 1;
      continue;
    } else if (expected > 0) {
      accumulator = (accumulator << 6 | (byte & 0x3Fu)) & 0xFFFFu;
      if (--expected > 0) continue;
      unit = accumulator;
    } else {
      unit = accumulator;  // a stray continuation repeats the last unit
    }
    if (unit == 0) break;  // a zero unit ends the name
    out[n++] = static_cast<char16_t>(unit);
  }
  out[n] = 0;
  return n;
}

std::uint32_t encode_name(const char16_t* name, char* out) {
  char* p = out;
  for (; *name != 0; ++name) {
    const std::uint32_t unit = *name;
    if (unit < 0x80 && unit != '\n') {
      *p++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *p++ = static_cast<char>(0xC0 | unit >> 6);
      *p++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | unit >> 12);
      *p++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      *p++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  *p = 0;
  return static_cast<std::uint32_t>(p - out);
}

#include "report/number_text.h"

std::uint32_t format_decimal(std::int64_t value, char* out) {
  // Work on the magnitude as unsigned so the most negative value is safe.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[kNumberChars];
  std::uint32_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint32_t length = 0;
  if (value < 0) out[length++] = '-';
  while (n > 0) out[length++] = digits[--n];
  out[length] = 0;
  return length;
}

std::uint32_t format_hex4(std::uint32_t value, char* out) {
  char digits[kNumberChars];
  std::uint32_t n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0 || n < 4);
  std::uint32_t length = 0;
  while (n > 0) out[length++] = digits[--n];
  out[length] = 0;
  return length;
}

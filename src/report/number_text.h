// Number formatting for the log, the console and the progress line, without the C
// library's printf family: the output must be the same on every system.
#pragma once

#include <cstdint>

// Room for any formatted number, terminator included.
constexpr std::uint32_t kNumberChars = 24;

// Signed decimal, as printf's "%lld". Returns the characters written; out is
// zero-terminated.
std::uint32_t format_decimal(std::int64_t value, char* out);
// Upper-case hexadecimal with at least four digits, as printf's "%04X".
std::uint32_t format_hex4(std::uint32_t value, char* out);

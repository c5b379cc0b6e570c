// FILETIME values as ISO 8601 UTC text with all seven digits of the 100 ns
// fraction, e.g. 2024-03-01T10:46:40.5550000Z. Years past 9999 take more
// digits; the latest FILETIME falls in the year 60056.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Room for the longest text, terminator included.
constexpr std::uint32_t kIsoTimeChars = 32;

// Writes the text, zero-terminated; returns its length.
std::uint32_t format_iso_time(FileTime time, char* out);

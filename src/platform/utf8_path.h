// File names as bytes on systems whose names are byte strings. Names are
// UTF-16 inside the restorer and proper UTF-8 on disk; bytes of an argument
// that are not UTF-8 travel through UTF-16 as U+DC80..U+DCFF and come back as
// the same bytes, so a base path reaches the system exactly as typed.
#pragma once

#include <cstdint>

enum class LoneSurrogates {
  kEncode,       // a lone surrogate is written in its 3-byte form
  kRawEscapes,   // U+DC80..U+DCFF stand for the bytes 0x80..0xFF
};

// Converts a zero-terminated name; out must hold 3 bytes a unit plus one.
// Returns the bytes written before the terminator.
std::uint32_t utf16_to_path(const char16_t* in, char* out, LoneSurrogates lone);

// Converts zero-terminated bytes, invalid UTF-8 byte by byte as raw escapes.
// With kEncode, the three-byte form of a surrogate is taken back as that
// unit, so a name written by utf16_to_path(kEncode) reads back as it was.
// Returns the units written with the terminator, or 0 when out (capacity
// units) is too small.
std::uint32_t path_to_utf16(const char* in, char16_t* out, std::uint32_t capacity,
                            LoneSurrogates lone = LoneSurrogates::kRawEscapes);

// File names as bytes on systems whose names are byte strings. Names are
// UTF-16 inside the restorer and UTF-8 on disk; bytes of an argument that
// are not UTF-8 travel through UTF-16 as U+DC80..U+DCFF and come back as the
// same bytes, so a base path reaches the system exactly as typed.
#pragma once

#include <cstdint>

enum class LoneSurrogates {
  // Entry names as they are made. A lone surrogate is written in its 3-byte
  // form, except a run of U+DC80..U+DCFF whose bytes 0x80..0xFF read as no
  // character and no such form: the run is written as those bytes, so a
  // name that was not UTF-8 where it came from comes back as it was. Every
  // name gives other bytes than every other name.
  kEncode,
  kRawEscapes,  // U+DC80..U+DCFF stand for the bytes 0x80..0xFF
};

// Converts a zero-terminated name; out must hold 3 bytes a unit plus one.
// Returns the bytes written before the terminator.
std::uint32_t utf16_to_path(const char16_t* in, char* out, LoneSurrogates lone);

// The bytes utf16_to_path(name, out, kEncode) writes, terminator left out.
std::uint32_t entry_path_bytes(const char16_t* name);

// Converts zero-terminated bytes, invalid UTF-8 byte by byte as raw escapes.
// With kEncode, bytes that utf16_to_path(kEncode) writes read back as the
// name they were written for, 3-byte forms of surrogates included; any other
// bytes read as with kRawEscapes, so they do not read as the name whose bytes
// they resemble. Returns the units written with the terminator, or 0 when out
// (capacity units) is too small.
std::uint32_t path_to_utf16(const char* in, char16_t* out, std::uint32_t capacity,
                            LoneSurrogates lone = LoneSurrogates::kRawEscapes);

// The dump's name encoding: every UTF-16 unit on its own in the UTF-8 bit
// layout (one, two or three bytes), so surrogates travel as two 3-byte forms.
#pragma once

#include <cstdint>

#include "dump/buffer_sizes.h"

// Decodes a zero-terminated line into out (capacity units, terminator
// included), leniently: overlong forms and surrogates pass as the units they
// spell, a continuation byte with no sequence open repeats the last unit, a
// cut-short sequence yields nothing, a zero unit ends the name. Returns the
// units before the terminator.
std::uint32_t decode_name(const std::uint8_t* line, char16_t* out, std::uint32_t capacity);

// Encodes a zero-terminated name into out, zero-terminated. out must hold
// 3 bytes a unit plus one. Returns the bytes before the terminator.
// A line feed, which only a hostile dump can smuggle into a name (as C0 8A),
// is written in that two-byte form, so that a name never breaks a line of
// text and still decodes to the same units.
std::uint32_t encode_name(const char16_t* name, char* out);

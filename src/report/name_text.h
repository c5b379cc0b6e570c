// Names as text a person or a script can read back: proper UTF-8, one line,
// nothing a terminal would act on or hide. Used where a dump is looked into
// without restoring it; the log keeps the dump's own encoding instead. And
// the way back, for paths the user copies from such text (--only).
#pragma once

#include <cstdint>

enum class NameTextKind {
  kEntryName,  // one component: "/" and "\" are escaped too
  kPath,       // a path as the user gave it: separators stay
};

// Appends name to out[used..capacity) as UTF-8, a surrogate pair as one
// four-byte character. A backslash starts every escape, so in an entry name,
// where "\" itself is escaped, it never stands for itself:
//   \xHH      C0 controls, DEL, and in an entry name "/" and "\"
//   \uHHHH    C1 controls, U+2028, U+2029, format characters of the BMP
//             (Unicode category Cf: soft hyphen, zero-width characters,
//             bidirectional controls, ...) and surrogates that do not pair
//   \UHHHHHHHH format characters beyond the BMP (U+E0001, ...)
// Hex digits are upper case. Stops before a character that would not fit.
// Returns the new used count; *cut is set when not all of the name fitted.
std::uint32_t append_name_text(const char16_t* name, NameTextKind kind, char* out, std::uint32_t used,
                               std::uint32_t capacity, bool* cut);

// Reads back one name of a path written as --list writes one (names as
// kEntryName gives them, joined by "/"): the units of text up to the next
// "/" or its end, each escape above taken as the one character it stands
// for, into out with its terminator, *length its units. Returns where the
// name ends in text (at the "/" or the terminator); nullptr when the name is
// empty, a "\" starts none of those escapes (upper-case digits, at most
// U+10FFFF), or it does not fit capacity units with room for a surrogate
// pair to spare.
const char16_t* read_name_text(const char16_t* text, char16_t* out, std::uint32_t capacity,
                               std::uint32_t* length);

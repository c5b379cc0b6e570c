// Names as text a person or a script can read back: proper UTF-8, one line,
// nothing a terminal would act on or hide. Used where a dump is looked into
// without restoring it; the log keeps the dump's own encoding instead.
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

#include "platform/entry_name.h"

#include "platform/utf8_path.h"

namespace {

// The longest name the systems keep: 255 UTF-16 units on every Windows file
// system, 255 bytes on the Linux ones (NAME_MAX).
constexpr long kWindowsNameUnits = 255;
constexpr std::uint32_t kPosixNameBytes = 255;

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool starts_with_word(const char16_t* name, const char* word) {
  for (; *word != 0; ++word, ++name) {
    if (upper(*name) != static_cast<char16_t>(*word)) return false;
  }
  return true;
}

bool is_digit_1_9(char16_t c) { return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3'; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$ and CONOUT$ name devices in
// every directory, with or without an extension and with trailing spaces
// before it.
bool is_device_name(const char16_t* name) {
  int stem = 0;
  if (starts_with_word(name, "CONIN$")) {
    stem = 6;
  } else if (starts_with_word(name, "CONOUT$")) {
    stem = 7;
  } else if (starts_with_word(name, "CON") || starts_with_word(name, "PRN") || starts_with_word(name, "AUX") ||
             starts_with_word(name, "NUL")) {
    stem = 3;
  } else if ((starts_with_word(name, "COM") || starts_with_word(name, "LPT")) && is_digit_1_9(name[3])) {
    stem = 4;
  } else {
    return false;
  }
  const char16_t* rest = name + stem;
  while (*rest == u' ') ++rest;
  return *rest == 0 || *rest == u'.';
}

bool is_forbidden_on_windows(char16_t c) {
  return c < 0x20 || c == u'\\' || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
         c == u'|';
}

}  // namespace

bool is_valid_entry_name(const char16_t* name, NameRules rules) {
  if (name[0] == 0) return false;
  if (name[0] == u'.' && (name[1] == 0 || (name[1] == u'.' && name[2] == 0))) return false;
  const bool windows = rules == NameRules::kWindows;
  const char16_t* p = name;
  for (; *p != 0; ++p) {
    if (*p == u'/') return false;
    if (windows && is_forbidden_on_windows(*p)) return false;
  }
  if (windows) {
    // No Windows file system keeps a longer name; some cut it silently.
    if (p - name > kWindowsNameUnits) return false;
    const char16_t last = p[-1];
    if (last == u'.' || last == u' ') return false;
    if (is_device_name(name)) return false;
  } else if (entry_path_bytes(name) > kPosixNameBytes) {
    return false;
  }
  return true;
}

// One JSON object on one line (JSON Lines), written through a LineWriter:
// keys in the order they are added, strings escaped here and nowhere else.
// A string is written as proper UTF-8: '"', '\\' and control characters are
// escaped, and a byte that does not belong to a well-formed UTF-8 sequence
// becomes U+FFFD, so every line parses as JSON whatever text it carries.
#pragma once

#include <cstdint>

#include "report/line_writer.h"

class JsonLine {
 public:
  // Starts the object.
  explicit JsonLine(LineWriter& w);

  JsonLine& number(const char* key, std::int64_t value);
  JsonLine& string(const char* key, const char* text);
  // The bytes, then tail (a cut mark, say), as one string.
  JsonLine& string(const char* key, const char* bytes, std::uint32_t length, const char* tail = "");
  JsonLine& boolean(const char* key, bool value);
  JsonLine& null(const char* key);
  // Closes the object and the line; false when the line could not be
  // written to its file.
  bool end();

 private:
  LineWriter& key(const char* name);
  void escaped(const char* bytes, std::uint32_t length);

  LineWriter& w_;
  bool first_ = true;
};

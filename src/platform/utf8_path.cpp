#include "platform/utf8_path.h"

namespace {

bool is_high(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool is_escape(std::uint32_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

template <typename Put>
void put_utf8(std::uint32_t c, Put& put) {
  if (c < 0x80) {
    put(static_cast<char>(c));
  } else if (c < 0x800) {
    put(static_cast<char>(0xC0 | c >> 6));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    put(static_cast<char>(0xE0 | c >> 12));
    put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    put(static_cast<char>(0xF0 | c >> 18));
    put(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    put(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    put(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Length and value of the well-formed UTF-8 character at p, or 0.
int decode_one(const unsigned char* p, std::uint32_t* out, bool surrogates) {
  const unsigned char b = p[0];
  int length;
  std::uint32_t c, minimum;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, c = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, c = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, c = b & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    c = c << 6 | (p[i] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (!surrogates && c >= 0xD800 && c <= 0xDFFF)) return 0;
  *out = c;
  return length;
}

// Whether the bytes a run of escapes stands for, written as they are, would
// read back as anything but that run: a character or the 3-byte form of a
// surrogate starting at one of them. The run is judged alone because what
// follows it starts below 0x80 or with a lead byte, never with a byte that
// could continue a sequence begun inside it.
bool run_reads_as_text(const char16_t* run, const char16_t* end) {
  for (const char16_t* at = run; at < end; ++at) {
    unsigned char window[4] = {};
    for (int i = 0; i < 4 && at + i < end; ++i) window[i] = static_cast<unsigned char>(at[i] - 0xDC00);
    std::uint32_t c;
    if (decode_one(window, &c, true) != 0) return true;
  }
  return false;
}

// The one conversion of names to bytes, handing each byte to put: written,
// counted or compared.
template <typename Put>
void encode(const char16_t* in, LoneSurrogates lone, Put&& put) {
  while (*in != 0) {
    const std::uint32_t u = *in++;
    if (is_high(u) && is_low(*in)) {
      put_utf8(0x10000 + ((u - 0xD800) << 10) + (*in++ - 0xDC00), put);
    } else if (is_escape(u)) {
      const char16_t* run = in - 1;
      while (is_escape(*in)) ++in;
      const bool raw = lone == LoneSurrogates::kRawEscapes || !run_reads_as_text(run, in);
      for (; run < in; ++run) {
        if (raw) {
          put(static_cast<char>(*run - 0xDC00));
        } else {
          put_utf8(*run, put);
        }
      }
    } else {
      put_utf8(u, put);
    }
  }
}

std::uint32_t decode(const unsigned char* p, char16_t* out, std::uint32_t capacity, bool surrogates) {
  std::uint32_t n = 0;
  while (*p != 0) {
    std::uint32_t c = 0;
    int length = *p < 0x80 ? 1 : decode_one(p, &c, surrogates);
    if (length == 1) c = *p;
    if (length == 0) c = 0xDC00 + *p, length = 1;  // not UTF-8: keep the byte
    const std::uint32_t need = c >= 0x10000 ? 2 : 1;
    if (n + need + 1 > capacity) return 0;
    if (need == 2) {
      out[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out[n++] = static_cast<char16_t>(c);
    }
    p += length;
  }
  out[n++] = 0;
  return n;
}

// Whether name, made into an entry, gives exactly these bytes.
bool written_as(const char16_t* name, const unsigned char* bytes) {
  bool same = true;
  encode(name, LoneSurrogates::kEncode, [&](char b) {
    if (same && static_cast<unsigned char>(b) == *bytes) {
      ++bytes;
    } else {
      same = false;
    }
  });
  return same && *bytes == 0;
}

}  // namespace

std::uint32_t utf16_to_path(const char16_t* in, char* out, LoneSurrogates lone) {
  char* p = out;
  encode(in, lone, [&p](char b) { *p++ = b; });
  *p = 0;
  return static_cast<std::uint32_t>(p - out);
}

std::uint32_t entry_path_bytes(const char16_t* name) {
  std::uint32_t bytes = 0;
  encode(name, LoneSurrogates::kEncode, [&bytes](char) { ++bytes; });
  return bytes;
}

// A reading with surrogate forms never takes more units than one without,
// so a name that does not fit the first does not fit at all.
std::uint32_t path_to_utf16(const char* in, char16_t* out, std::uint32_t capacity, LoneSurrogates lone) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(in);
  if (lone == LoneSurrogates::kRawEscapes) return decode(bytes, out, capacity, false);
  const std::uint32_t n = decode(bytes, out, capacity, true);
  if (n == 0 || written_as(out, bytes)) return n;
  return decode(bytes, out, capacity, false);
}

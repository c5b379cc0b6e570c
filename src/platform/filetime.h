// Times as the dump holds them: FILETIME, 100 ns ticks since 1601-01-01
// UTC; and their conversion to Unix seconds and nanoseconds, exact to the
// tick on both sides of 1970.
#pragma once

#include <cstdint>

using FileTime = std::uint64_t;

struct UnixTime {
  std::int64_t seconds;
  std::int32_t nanoseconds;  // 0..999,999,999
};

constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970-01-01
constexpr std::uint64_t kTicksPerSecond = 10000000;

inline UnixTime filetime_to_unix(std::uint64_t filetime) {
  if (filetime >= kFileTimeUnixEpoch) {
    const std::uint64_t ticks = filetime - kFileTimeUnixEpoch;
    return {static_cast<std::int64_t>(ticks / kTicksPerSecond),
            static_cast<std::int32_t>(ticks % kTicksPerSecond * 100)};
  }
  const std::uint64_t before = kFileTimeUnixEpoch - filetime;
  const std::uint64_t whole = before / kTicksPerSecond, part = before % kTicksPerSecond;
  if (part == 0) return {-static_cast<std::int64_t>(whole), 0};
  return {-static_cast<std::int64_t>(whole) - 1, static_cast<std::int32_t>((kTicksPerSecond - part) * 100)};
}

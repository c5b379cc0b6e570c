// The processor's time-stamp counter, read inline: the platforms' cycle
// counter where the processor has one.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
inline std::uint64_t read_time_stamp_counter() { return __rdtsc(); }
constexpr bool kHasTimeStampCounter = true;
#else
inline std::uint64_t read_time_stamp_counter() { return 0; }
constexpr bool kHasTimeStampCounter = false;
#endif

// The sizes of the restorer's fixed buffers. A fuzzing build defines
// FSRESTORE_SMALL_BUFFERS to shrink them, so that short inputs reach every
// bound: lines across blocks, names cut at the buffer's end, bodies across
// copy blocks and a log that fills its buffer.
#pragma once

#include <cstdint>

#ifdef FSRESTORE_SMALL_BUFFERS
constexpr std::uint32_t kNameUnits = 64;
constexpr std::uint32_t kLineBytes = 128;
constexpr std::uint32_t kCopyBlockBytes = 4096;
constexpr std::uint32_t kReadAheadBytes = 1024;
constexpr std::uint32_t kNodeBlockBytes = 80;  // two and a half records
constexpr std::uint32_t kSkipBlockBytes = 100;
constexpr std::uint32_t kMadeEntriesCapacity = 8;
#else
// Longest name kept, in UTF-16 units, and the longest name line kept, in
// bytes; each with its terminator. Longer ones are cut to these.
constexpr std::uint32_t kNameUnits = 32768;
constexpr std::uint32_t kLineBytes = 65536;
// Bodies move through one buffer of this size.
constexpr std::uint32_t kCopyBlockBytes = 1048576;
// The content stream is read ahead this much at a time into that buffer, so
// one read serves many small bodies. A quarter of it: the bytes are written
// out again while they are still in the processor's cache.
constexpr std::uint32_t kReadAheadBytes = 262144;
// The node stream is read this much at a time rather than a record a call.
constexpr std::uint32_t kNodeBlockBytes = 65536;
// Bodies that are read only to be skipped (--list, --check) are read this
// much at a time.
constexpr std::uint32_t kSkipBlockBytes = 65536;
// Entries made by the restore in directories that existed before it, kept
// along the current path (16 bytes each; untouched pages cost no memory).
constexpr std::uint32_t kMadeEntriesCapacity = 1u << 20;
#endif

// A body at least this long never enters the read-ahead: it moves from the
// stream to the file in blocks, inside the kernel where it can, which copies
// its bytes once instead of twice. Below this (16 KiB at the real sizes) the
// saved calls are worth more than the second copy.
constexpr std::uint32_t kStraightCopyBytes = kReadAheadBytes / 16;

// Room for the encoded form of the longest name: three bytes a unit.
constexpr std::uint32_t kEncodedNameBytes = 3 * kNameUnits;

// Runs one untrusted dump through a whole restorer over the in-memory fake
// platform and checks what must hold whatever the dump's bytes, the failures
// met and the changes someone else makes in the target meanwhile: nothing
// outside the target is touched, the walk stays in step with the records,
// "$content" stays aligned, every handle is closed once, every failure gets
// exactly one well-formed line in "$errors" at once, and a file not written
// whole keeps no times. Shared by the fuzz target and the corpus replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The input: a header, then "$fsnodes", "$fsnames" and "$content" back to
// back.
//   byte 0      mode bits below
//   bytes 1-2   an injected failure: the operation (kFailOps in the .cpp,
//               modulo their count; 0 none) and which call of it fails
//               (0xFF: every one)
//   bytes 3-4   a second one
//   bytes 5-6   a swap: at platform call number byte 5 (0: none) an entry
//               of the target, chosen by bits 0-5 of byte 6, becomes a link
//               to the outside directory (bit 6 set) or the outside file;
//               with bit 7, again every byte-5 calls
//   bytes 7-9   length of "$fsnodes", 24-bit little-endian
//   bytes 10-12 length of "$fsnames"; whatever follows is "$content"
// Lengths beyond the input are cut to what is there.
constexpr std::size_t kFuzzHeaderBytes = 13;
constexpr std::uint8_t kModeWindows = 0x01;        // Windows names, case folding, devices
constexpr std::uint8_t kModeHostileTarget = 0x02;  // links, a FIFO and old entries in the target
constexpr std::uint8_t kModeRunInTarget = 0x04;    // no arguments: the dump and the log sit in the target
constexpr std::uint8_t kModeClockRuns = 0x08;      // the progress line prints along the way
constexpr std::uint8_t kModePieces = 0x10;         // pipes: the node and names streams arrive in small pieces;
                                                   // otherwise the streams are files, read at offsets
constexpr std::uint8_t kModePartialWrites = 0x20;  // a failing write still writes its first bytes
constexpr std::uint8_t kModeWriters = 0x40;        // files finished by writers, batches run newest first

struct FuzzFailure {
  std::uint8_t op = 0;  // index into the injectable operations; 0: none
  std::uint8_t nth = 0;
};
struct FuzzSwap {
  std::uint8_t at_call = 0;
  std::uint8_t choice = 0;
};

std::string make_fuzz_input(std::uint8_t mode, FuzzFailure a, FuzzFailure b, FuzzSwap swap, const std::string& nodes,
                            const std::string& names, const std::string& content);

// Every invariant the run breaks, in words; empty when it keeps them all.
std::vector<std::string> check_restore(const std::uint8_t* data, std::size_t size);

// Which of the log's line formats a line has, failure words limited to
// the texts the fake and the restore give (see log_line_parser.h).
std::string classify_fake_log_line(const std::string& line);

// Runs one untrusted dump through a whole restorer over the in-memory fake
// platform and checks what must hold whatever the dump's bytes: nothing
// outside the target is touched, the walk stays in step with the records,
// "$content" stays aligned, every handle is closed once and "$errors" holds
// one well-formed line per failure. Shared by the fuzz target and the corpus
// replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The input: a header, then "$fsnodes", "$fsnames" and "$content" back to
// back.
//   byte 0     mode bits below
//   bytes 1-2  one injected failure each: bits 0-2 the operation (see
//              kFailOps in the .cpp), bits 3-7 which call of it fails
//   bytes 3-5  length of "$fsnodes", 24-bit little-endian
//   bytes 6-8  length of "$fsnames"; whatever follows is "$content"
// Lengths beyond the input are cut to what is there.
constexpr std::size_t kFuzzHeaderBytes = 9;
constexpr std::uint8_t kModeWindows = 0x01;       // Windows names, case folding, devices
constexpr std::uint8_t kModeHostileTarget = 0x02;  // links and old entries in the target
constexpr std::uint8_t kModeRunInTarget = 0x04;    // no arguments: the dump and the log sit in the target
constexpr std::uint8_t kModeClockRuns = 0x08;      // the progress line prints along the way

std::string make_fuzz_input(std::uint8_t mode, std::uint8_t fail_a, std::uint8_t fail_b, const std::string& nodes,
                            const std::string& names, const std::string& content);

// Every invariant the run breaks, in words; empty when it keeps them all.
std::vector<std::string> check_restore(const std::uint8_t* data, std::size_t size);

// Which of the log's line formats a line has ("chdir", "chdir-up",
// "createfile", "content", "names", "nodes"), or "" if none.
std::string classify_log_line(const std::string& line);

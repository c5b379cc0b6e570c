// The bits of the 16-bit attribute word that the restore's rules and the
// platforms read.
#pragma once

#include <cstdint>

constexpr std::uint16_t kAttrReadOnly = 0x01;
constexpr std::uint16_t kAttrHidden = 0x02;
constexpr std::uint16_t kAttrSystem = 0x04;
constexpr std::uint16_t kAttrDirectory = 0x10;
constexpr std::uint16_t kAttrArchive = 0x20;

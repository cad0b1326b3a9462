// Tables of code page 932 (double-byte), generated into cp932_table.cc by
// scripts/gen_cp932.py. Internal to platform/.
#pragma once

namespace kx9::cp932 {

// Lead bytes: 0x81..0x9F and 0xE0..0xFC, numbered 0..kLeadCount-1 in order.
constexpr int kLeadCount = 60;
// Trail bytes that can follow a lead byte: 0x40..0xFC.
constexpr unsigned kTrailFirst = 0x40;
constexpr unsigned kTrailLast = 0xFC;
constexpr int kTrailSpan = static_cast<int>(kTrailLast - kTrailFirst + 1);

inline bool IsLead(unsigned b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline int LeadIndex(unsigned b) { return b <= 0x9F ? static_cast<int>(b - 0x81) : static_cast<int>(b - 0xE0 + 31); }

// Character of each non-lead byte.
extern const char16_t kSingle[256];
// Character of lead index i and trail t at [i * kTrailSpan + t - kTrailFirst];
// 0 when that pair is no character.
extern const char16_t kDouble[kLeadCount * kTrailSpan];
// Code point c encodes to kEncodeBlocks[kEncodePage[c >> 8]][c & 0xFF]: a
// single byte (< 0x100), a pair (lead << 8 | trail), or 0 when not held.
// Only consulted for c >= 0x80.
extern const unsigned char kEncodePage[256];
extern const char16_t kEncodeBlocks[][256];

}  // namespace kx9::cp932

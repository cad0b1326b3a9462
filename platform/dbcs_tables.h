// Packed tables of the double-byte ANSI code pages, as generated into
// cp<page>_table.cc by scripts/gen_codepages.py. Internal to platform/;
// codepage.cc unpacks a page the first time it is used.
#pragma once

#include <cstddef>

#include "platform/kx9platform.h"

namespace kx9::dbcs {

struct ByteRange {
  BYTE first;
  BYTE last;
};

// `count` byte pairs from `start` (lead << 8 | trail), all of one lead byte:
// consecutive code points from `first`, or when `first` is 0 the next `count`
// values of the page's literal list (0 there: no character).
struct Segment {
  WORD start;
  WORD count;
  char16_t first;
};

// A code point written otherwise than as the first byte sequence reading as
// it (single bytes first, then pairs in byte order): a byte below 0x100, a
// pair as lead << 8 | trail, or 0 when the code page cannot hold it.
struct EncodeOverride {
  char16_t codePoint;
  WORD encoded;
};

struct PageData {
  UINT codePage;
  const ByteRange* leads;
  std::size_t leadRangeCount;
  const char16_t* high;  // [128]: bytes 0x80..0xFF that are no lead bytes; U+FFFD: none
  const Segment* segments;
  std::size_t segmentCount;
  const char16_t* literals;
  std::size_t literalCount;
  const EncodeOverride* overrides;
  std::size_t overrideCount;
};

inline bool IsLead(const PageData& page, unsigned b) {
  for (std::size_t i = 0; i < page.leadRangeCount; ++i) {
    if (b >= page.leads[i].first && b <= page.leads[i].last) return true;
  }
  return false;
}

extern const PageData kCp932;
extern const PageData kCp936;
extern const PageData kCp949;
extern const PageData kCp950;

}  // namespace kx9::dbcs

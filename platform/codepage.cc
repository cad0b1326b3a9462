// Conversion between UTF-16 and the thread's ANSI code page (1252, 932, 936, 949 or 950).
//
// These run for every line of a label image, so they are table-driven, take
// runs of ASCII in bulk and write straight into the caller's string, growing
// it in bounded chunks instead of per character.
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "platform/dbcs_tables.h"
#include "platform/kx9platform.h"

namespace {

thread_local UINT t_codePage = 1252;

constexpr std::size_t kChunk = 4096;  // units converted per growth of the output

// 1252: bytes 0x80..0x9F. The five bytes without a character of their own
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control code of equal value.
constexpr char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Table1252 {
  char16_t toWide[256];
  constexpr Table1252() : toWide() {
    for (int b = 0; b < 256; ++b) {
      toWide[b] = (b >= 0x80 && b < 0xA0) ? k1252High[b - 0x80] : static_cast<char16_t>(b);
    }
  }
};
constexpr Table1252 k1252;

// Encoded value of a non-ASCII unit: a byte (< 0x100), a lead/trail pair
// (lead << 8 | trail), or -1 when the code page cannot hold it.
struct Page1252 {
  static constexpr std::size_t kMaxBytes = 1;
  static int Encode(unsigned u) {
    if (u >= 0xA0 && u <= 0xFF) return static_cast<int>(u);
    if (u < 0xA0) {
      return (u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 || u == 0x9D) ? static_cast<int>(u) : -1;
    }
    switch (u) {
      case 0x20AC:
        return 0x80;
      case 0x201A:
        return 0x82;
      case 0x0192:
        return 0x83;
      case 0x201E:
        return 0x84;
      case 0x2026:
        return 0x85;
      case 0x2020:
        return 0x86;
      case 0x2021:
        return 0x87;
      case 0x02C6:
        return 0x88;
      case 0x2030:
        return 0x89;
      case 0x0160:
        return 0x8A;
      case 0x2039:
        return 0x8B;
      case 0x0152:
        return 0x8C;
      case 0x017D:
        return 0x8E;
      case 0x2018:
        return 0x91;
      case 0x2019:
        return 0x92;
      case 0x201C:
        return 0x93;
      case 0x201D:
        return 0x94;
      case 0x2022:
        return 0x95;
      case 0x2013:
        return 0x96;
      case 0x2014:
        return 0x97;
      case 0x02DC:
        return 0x98;
      case 0x2122:
        return 0x99;
      case 0x0161:
        return 0x9A;
      case 0x203A:
        return 0x9B;
      case 0x0153:
        return 0x9C;
      case 0x017E:
        return 0x9E;
      case 0x0178:
        return 0x9F;
      default:
        return -1;
    }
  }
};

// A double-byte code page unpacked from its generated data the first time it
// is used; afterwards only read, so threads share it.
class DoubleBytePage {
 public:
  static constexpr std::size_t kMaxBytes = 2;

  explicit DoubleBytePage(const kx9::dbcs::PageData& data);

  int Encode(unsigned u) const {
    const WORD v = encode_[u];
    return v == 0 ? -1 : static_cast<int>(v);
  }
  void Decode(const BYTE* p, std::size_t n, std::u16string& out) const;

 private:
  char16_t single_[256];               // each byte that is no lead byte; U+FFFD where none
  BYTE row_[256];                      // 1 + the row in pairs_ of a lead byte, 0 for other bytes
  std::unique_ptr<char16_t[]> pairs_;  // a row of 256 per lead byte, by trail byte; 0: none
  std::unique_ptr<WORD[]> encode_;     // per BMP unit: byte, lead << 8 | trail, 0: none
};

DoubleBytePage::DoubleBytePage(const kx9::dbcs::PageData& data) : single_(), row_() {
  for (unsigned b = 0; b < 0x80; ++b) single_[b] = static_cast<char16_t>(b);
  std::copy(data.high, data.high + 0x80, single_ + 0x80);
  unsigned rows = 0;
  for (std::size_t r = 0; r < data.leadRangeCount; ++r) {
    for (unsigned b = data.leads[r].first; b <= data.leads[r].last; ++b) row_[b] = static_cast<BYTE>(++rows);
  }
  pairs_.reset(new char16_t[rows * 256]());
  const char16_t* literal = data.literals;
  for (std::size_t s = 0; s < data.segmentCount; ++s) {
    const kx9::dbcs::Segment& seg = data.segments[s];
    char16_t* d = &pairs_[(row_[seg.start >> 8] - 1u) * 256 + (seg.start & 0xFFu)];
    if (seg.first != 0) {
      for (unsigned k = 0; k < seg.count; ++k) d[k] = static_cast<char16_t>(seg.first + k);
    } else {
      std::copy(literal, literal + seg.count, d);
      literal += seg.count;
    }
  }

  // A code point is written as the first byte sequence that reads as it,
  // single bytes before pairs, unless the page says otherwise.
  encode_.reset(new WORD[0x10000]());
  for (unsigned b = 0x80; b < 0x100; ++b) {
    const char16_t c = single_[b];
    if (row_[b] == 0 && c != 0xFFFD && encode_[c] == 0) encode_[c] = static_cast<WORD>(b);
  }
  for (unsigned lead = 0x80; lead < 0x100; ++lead) {
    if (row_[lead] == 0) continue;
    const char16_t* row = &pairs_[(row_[lead] - 1u) * 256];
    for (unsigned trail = 0; trail < 0x100; ++trail) {
      const char16_t c = row[trail];
      if (c != 0 && encode_[c] == 0) encode_[c] = static_cast<WORD>(lead << 8 | trail);
    }
  }
  for (std::size_t k = 0; k < data.overrideCount; ++k) {
    encode_[data.overrides[k].codePoint] = data.overrides[k].encoded;
  }
}

// One unpacked page per code page, made on first use and never destroyed,
// so conversions still work while other statics are torn down.
template <const kx9::dbcs::PageData& kData>
const DoubleBytePage* Unpacked() {
  static const DoubleBytePage* const page = new DoubleBytePage(kData);
  return page;
}

struct DoubleByteCodePage {
  UINT cp;
  const kx9::dbcs::PageData* data;
  const DoubleBytePage* (*unpacked)();
};
constexpr DoubleByteCodePage kDoubleBytePages[] = {
    {932, &kx9::dbcs::kCp932, Unpacked<kx9::dbcs::kCp932>},
    {936, &kx9::dbcs::kCp936, Unpacked<kx9::dbcs::kCp936>},
    {949, &kx9::dbcs::kCp949, Unpacked<kx9::dbcs::kCp949>},
    {950, &kx9::dbcs::kCp950, Unpacked<kx9::dbcs::kCp950>},
};

// Null for a page that is not double-byte.
const DoubleByteCodePage* FindDoubleByte(UINT cp) {
  for (const DoubleByteCodePage& page : kDoubleBytePages)
    if (page.cp == cp) return &page;
  return nullptr;
}
const kx9::dbcs::PageData* DoubleByteData(UINT cp) {
  const DoubleByteCodePage* page = FindDoubleByte(cp);
  return page != nullptr ? page->data : nullptr;
}
const DoubleBytePage* DoubleByte(UINT cp) {
  const DoubleByteCodePage* page = FindDoubleByte(cp);
  return page != nullptr ? page->unpacked() : nullptr;
}

inline bool IsHighSurrogate(unsigned u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(unsigned u) { return u >= 0xDC00 && u <= 0xDFFF; }

// True when the 4 units at p are all ASCII.
inline bool FourAscii(const char16_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return (w & 0xFF80FF80FF80FF80ull) == 0;
}

// True when the 8 bytes at p are all ASCII.
inline bool EightAscii(const BYTE* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return (w & 0x8080808080808080ull) == 0;
}

// Converts units [i, stop) (a surrogate pair may reach one unit beyond stop,
// never beyond n) and writes at most kMaxBytes per unit at d. Returns the end
// of the written bytes; `i` ends at or just past `stop`.
template <class Page>
char* EncodeRun(const Page& page, const char16_t* p, std::size_t n, std::size_t& i, std::size_t stop, char* d) {
  while (i < stop) {
    while (i + 4 <= stop && FourAscii(p + i)) {
      d[0] = static_cast<char>(p[i]);
      d[1] = static_cast<char>(p[i + 1]);
      d[2] = static_cast<char>(p[i + 2]);
      d[3] = static_cast<char>(p[i + 3]);
      d += 4;
      i += 4;
    }
    if (i >= stop) break;
    const unsigned u = p[i];
    if (u < 0x80) {
      *d++ = static_cast<char>(u);
      ++i;
      continue;
    }
    if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(p[i + 1])) {
      *d++ = '?';  // no supported code page holds a supplementary character
      i += 2;
      continue;
    }
    const int v = page.Encode(u);
    if (v < 0) {
      *d++ = '?';
    } else if (v < 0x100) {
      *d++ = static_cast<char>(v);
    } else {
      *d++ = static_cast<char>(v >> 8);
      *d++ = static_cast<char>(v & 0xFF);
    }
    ++i;
  }
  return d;
}

template <class Page>
std::size_t AppendEncoded(const Page& page, const char16_t* p, std::size_t n, std::string& out) {
  const std::size_t before = out.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t stop = i + std::min(n - i, kChunk);
    const std::size_t base = out.size();
    out.resize(base + (stop - i) * Page::kMaxBytes);
    char* const first = &out[0];
    char* const end = EncodeRun(page, p, n, i, stop, first + base);
    out.resize(static_cast<std::size_t>(end - first));
  }
  return out.size() - before;
}

template <class Page>
std::size_t EncodedLength(const Page& page, const char16_t* p, std::size_t n) {
  std::size_t len = 0;
  std::size_t i = 0;
  while (i < n) {
    const unsigned u = p[i];
    if (u < 0x80) {
      ++len;
      ++i;
      continue;
    }
    if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(p[i + 1])) {
      ++len;
      i += 2;
      continue;
    }
    const int v = page.Encode(u);
    len += (v >= 0x100) ? 2 : 1;
    ++i;
  }
  return len;
}

void Decode1252(const BYTE* p, std::size_t n, std::u16string& out) {
  const std::size_t base = out.size();
  out.resize(base + n);
  char16_t* d = &out[base];
  for (std::size_t i = 0; i < n; ++i) d[i] = k1252.toWide[p[i]];
}

void DoubleBytePage::Decode(const BYTE* p, std::size_t n, std::u16string& out) const {
  const std::size_t base = out.size();
  out.resize(base + n);  // every character takes at least one byte
  char16_t* const first = &out[0];
  char16_t* d = first + base;
  std::size_t i = 0;
  while (i < n) {
    while (i + 8 <= n && EightAscii(p + i)) {
      for (int k = 0; k < 8; ++k) d[k] = static_cast<char16_t>(p[i + k]);
      d += 8;
      i += 8;
    }
    if (i >= n) break;
    const unsigned b = p[i];
    const unsigned row = row_[b];
    if (row == 0) {
      *d++ = single_[b];
      ++i;
      continue;
    }
    const char16_t c = i + 1 < n ? pairs_[(row - 1) * 256 + p[i + 1]] : char16_t{0};
    if (c != 0) {
      *d++ = c;
      i += 2;
    } else {
      // No character starts here; the next byte is read on its own.
      *d++ = 0xFFFD;
      ++i;
    }
  }
  out.resize(static_cast<std::size_t>(d - first));
}

[[noreturn]] void Unsupported(UINT cp) {
  throw std::invalid_argument("code page " + std::to_string(cp) + " is not supported");
}

}  // namespace

UINT GetThreadAnsiCodePage() { return t_codePage; }

bool IsSupportedCodePage(UINT codePage) { return codePage == 1252 || DoubleByteData(codePage) != nullptr; }

bool SetThreadAnsiCodePage(UINT codePage) {
  if (!IsSupportedCodePage(codePage)) return false;
  t_codePage = codePage;
  return true;
}

bool IsAnsiLeadByte(BYTE b) {
  const kx9::dbcs::PageData* page = DoubleByteData(t_codePage);
  return page != nullptr && kx9::dbcs::IsLead(*page, b);
}

std::size_t AppendWideToCodePage(UINT cp, const char16_t* p, std::size_t n, std::string& out) {
  if (n == 0) return 0;
  if (cp == 1252) return AppendEncoded(Page1252(), p, n, out);
  const DoubleBytePage* page = DoubleByte(cp);
  if (page == nullptr) Unsupported(cp);
  return AppendEncoded(*page, p, n, out);
}

void AppendCodePageToWide(UINT cp, const BYTE* p, std::size_t n, std::u16string& out) {
  if (n == 0) return;
  if (cp == 1252) return Decode1252(p, n, out);
  const DoubleBytePage* page = DoubleByte(cp);
  if (page == nullptr) Unsupported(cp);
  page->Decode(p, n, out);
}

std::size_t AppendWideToAnsi(const char16_t* p, std::size_t n, std::string& out) {
  return AppendWideToCodePage(t_codePage, p, n, out);
}

std::size_t WideToAnsiLength(const char16_t* p, std::size_t n) {
  if (n == 0) return 0;
  const DoubleBytePage* page = DoubleByte(t_codePage);
  return page != nullptr ? EncodedLength(*page, p, n) : EncodedLength(Page1252(), p, n);
}

void AppendAnsiToWide(const BYTE* p, std::size_t n, std::u16string& out) {
  AppendCodePageToWide(t_codePage, p, n, out);
}

// The label image: the text lines, each ended by a line feed, in UTF-16LE or
// in the thread's ANSI code page, optionally followed by the trailer line
// "SYSLBL,<size>,<mode>,<digest>" and the serialized system-label block.
// Hosts keep these images for years, so every byte is fixed: no header, no
// terminator, no byte-order mark.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/LabelLineCodec.h"

namespace {

using U16 = std::u16string;

constexpr BYTE kLF = 0x0A;
constexpr BYTE kCR = 0x0D;

constexpr std::size_t kMarkerPrefix = 7;  // the longest marker

void AppendDecimal(U16& out, LONGLONG v) {
  char16_t buf[KX9_DECIMAL_UNITS];
  const char16_t* first = KX9FormatDecimal(v, buf + KX9_DECIMAL_UNITS);
  out.append(first, static_cast<std::size_t>(buf + KX9_DECIMAL_UNITS - first));
}

void AppendHex(U16& out, ULONG v) {
  char16_t buf[8];
  int i = 8;
  do {
    buf[--i] = u"0123456789abcdef"[v & 0xFu];
    v >>= 4;
  } while (v != 0);
  out.append(buf + i, static_cast<std::size_t>(8 - i));
}

// The platform is little-endian (as the image is), so the units copy as they
// stand.
inline void GetUtf16LE(const BYTE* src, std::size_t n, char16_t* out) { std::memcpy(out, src, n * 2); }

// The units of a UTF-16LE text of n units before its first zero unit (n
// without one), four units at a time.
std::size_t UnitsBeforeZero16(const BYTE* s, std::size_t n) {
  std::size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    std::uint64_t v;
    std::memcpy(&v, s + 2 * k, 8);
    if (((v - 0x0001000100010001ULL) & ~v & 0x8000800080008000ULL) != 0) break;
  }
  for (; k < n; ++k)
    if (s[2 * k] == 0 && s[2 * k + 1] == 0) return k;
  return n;
}

inline char16_t Unit16(const BYTE* p, std::size_t k) { return static_cast<char16_t>(p[2 * k] | (p[2 * k + 1] << 8)); }

// ---------------------------------------------------------------------------
// Line scanning. A line ends at a line feed that is not the second half of a
// carriage return + line feed pair, or at the last unit of the image (which
// then belongs to the line). Empty lines are not taken; the next line starts
// after their line feed. onLine(first, end, next) gets the line's units and
// the unit after its end; returning false stops the scan.

// Unit index of the first line feed unit at or after `from`, or `units`.
std::size_t FindLineFeed16(const BYTE* p, std::size_t from, std::size_t units) {
  const BYTE* q = p + 2 * from;
  const BYTE* const end = p + 2 * units;
  while (q < end) {
    const void* hit = std::memchr(q, kLF, static_cast<std::size_t>(end - q));
    if (hit == nullptr) break;
    const std::size_t off = static_cast<std::size_t>(static_cast<const BYTE*>(hit) - p);
    if ((off & 1u) == 0 && p[off + 1] == 0) return off / 2;
    q = static_cast<const BYTE*>(hit) + 1;
  }
  return units;
}

// UTF-16LE and single-byte code pages: no unit is ever skipped but the line
// feed of a CR LF pair, so the scan can jump from line feed to line feed.
// `hasLast` is false for a UTF-16 image of odd length: its dangling byte is
// not a unit, so a last line without a line feed is not taken.
template <class FindLF, class GetUnit, class F>
void ScanLinear(std::size_t units, bool hasLast, FindLF findLF, GetUnit unit, F onLine) {
  std::size_t i = 0;
  std::size_t start = 0;
  while (i < units) {
    const std::size_t j = findLF(i);
    if (j == units) {
      if (hasLast && units > start) onLine(start, units, units);
      return;
    }
    if (j > i && unit(j - 1) == kCR) {  // CR LF: part of the line
      i = j + 1;
      continue;
    }
    if (j > start && !onLine(start, j, j + 1)) return;
    start = j + 1;
    i = j + 1;
  }
}

// Double-byte code pages: byte by byte, a lead byte (not the last byte) takes
// the byte after it along, whatever that byte is.
template <class F>
void ScanDoubleByte(const BYTE* p, std::size_t len, const bool (&lead)[256], F onLine) {
  const std::size_t last = len - 1;
  std::size_t i = 0;
  std::size_t start = 0;
  while (i < len) {
    const BYTE b = p[i];
    if (i < last && lead[b]) {
      i += 2;
      continue;
    }
    if (b == kCR && i < last && p[i + 1] == kLF) {
      i += 2;
      continue;
    }
    if (b == kLF || i == last) {
      const std::size_t end = b == kLF ? i : i + 1;
      if (end > start && !onLine(start, end, i + 1)) return;
      start = i + 1;
    }
    ++i;
  }
}

enum class LineKind { kOther, kHeader, kTrailer };

// Kind of a line from the first units of its text; the comma its reader
// appends takes part, so "GVL" alone is a header.
LineKind Classify(const char16_t* t, std::size_t n) {
  if (KX9HeaderDataType(t, n) != 0) return LineKind::kHeader;
  if (KX9StartsWithMarker(t, n, kKX9TrailerMarker)) return LineKind::kTrailer;
  return LineKind::kOther;
}

// The taken lines of an image, decoded one at a time when read, each with
// the comma its reader appends.
class ImageLines : public KX9LineList {
 public:
  // Line numbers are kept only for a reader that reports findings.
  ImageLines(const BYTE* pImage, bool bUtf16, bool bNumbered)
      : m_pImage(pImage), m_bUtf16(bUtf16), m_bNumbered(bNumbered) {}

  // A taken line: `units` units from byte `offset`, already cut at its first
  // zero unit; `line` is its number among the image's lines.
  void Add(std::size_t offset, std::size_t units, LONG line) {
    m_spans.push_back(Span{static_cast<ULONG>(offset), static_cast<ULONG>(units)});
    if (m_bNumbered) m_lineNos.push_back(line);
  }
  void Place(int i, LONGLONG& offset, LONG& line) const override {
    offset = m_spans[static_cast<std::size_t>(i)].offset;
    line = m_bNumbered ? m_lineNos[static_cast<std::size_t>(i)] : 0;
  }
  int Count() const override { return static_cast<int>(m_spans.size()); }
  void Get(int i, const char16_t*& p, std::size_t& n) override {
    const Span& span = m_spans[static_cast<std::size_t>(i)];
    const BYTE* s = m_pImage + span.offset;
    m_text.clear();
    if (m_bUtf16) {
      m_text.resize(span.units);
      GetUtf16LE(s, span.units, &m_text[0]);
    } else {
      AppendAnsiToWide(s, span.units, m_text);
    }
    m_text.push_back(u',');
    p = m_text.data();
    n = m_text.size();
  }

 private:
  struct Span {
    ULONG offset;  // images are addressed by 32-bit sizes
    ULONG units;
  };
  const BYTE* m_pImage;
  bool m_bUtf16;
  bool m_bNumbered;
  std::vector<Span> m_spans;
  std::vector<LONG> m_lineNos;
  U16 m_text;
};

}  // namespace

// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------

KX9ImageLines::~KX9ImageLines() {
  for (const Chunk& c : m_chunks) std::free(c.p);
  for (int i = 0; i < m_arrTaken.GetSize(); ++i) delete m_arrTaken[i];
}

// Chunks double up to 64 MiB, far above the heap's mapping threshold, so
// that a large image's chunks are mapped and returned whole when freed.
BYTE* KX9ImageLines::Room(std::size_t n) {
  if (m_chunks.empty() || n > m_chunks.back().capacity - m_chunks.back().used) {
    constexpr std::size_t kFirst = 64 * 1024;
    constexpr std::size_t kLargest = 64 * 1024 * 1024;
    const std::size_t next = m_chunks.empty() ? kFirst : std::min(2 * m_chunks.back().capacity, kLargest);
    const std::size_t capacity = std::max(n, next);
    m_chunks.reserve(m_chunks.size() + 1);
    auto* p = static_cast<BYTE*>(std::malloc(capacity));
    if (p == nullptr) throw std::bad_alloc();
    PlatformAdviseSequentialWrite(p, capacity);
    m_chunks.push_back(Chunk{p, 0, capacity});
  }
  return m_chunks.back().p + m_chunks.back().used;
}

void KX9ImageLines::MoveTo(BYTE* out) {
  for (Chunk& c : m_chunks) {
    std::memcpy(out, c.p, c.used);
    out += c.used;
    std::free(c.p);
    c.p = nullptr;
  }
  m_chunks.clear();
}

void KX9ImageLines::Line(const char16_t* p, std::size_t n) {
  if (m_bUtf16) {
    BYTE* out = Room(2 * (n + 1));
    std::memcpy(out, p, 2 * n);  // little-endian units, as on the platform
    out[2 * n] = kLF;
    out[2 * n + 1] = 0;
    m_chunks.back().used += 2 * (n + 1);
    m_nSize += 2 * (n + 1);
  } else {
    m_ansi.clear();
    AppendWideToAnsi(p, n, m_ansi);
    m_ansi.push_back(static_cast<char>(kLF));
    std::memcpy(Room(m_ansi.size()), m_ansi.data(), m_ansi.size());
    m_chunks.back().used += m_ansi.size();
    m_nSize += m_ansi.size();
  }
}

void KX9ImageLines::Add(_STKX9LABELSTRUCTURE& datum, bool bFlagAllowed, bool bTakeFlagged) {
  int nListed = m_lstSystemLabel.GetCount();
  KX9FormatLabelLines(1, &datum, bFlagAllowed, *this, m_lstSystemLabel);
  if (!bTakeFlagged || datum.dataType != KX9_DATATYPE_GVL) return;
  // The datum's flagged variables were listed in element order; they stay
  // for the system-label block when the rest of the datum goes.
  m_arrTaken.Reserve(m_arrTaken.GetSize() + m_lstSystemLabel.GetCount() - nListed);
  for (int e = 0; e < datum.elements.GetSize() && nListed < m_lstSystemLabel.GetCount(); ++e) {
    auto* v = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(datum.elements[e]);
    if (v == nullptr || v != m_lstSystemLabel.GetAtIndex(nListed)) continue;
    m_arrTaken.Add(v);
    datum.elements.SetAt(e, nullptr);
    ++nListed;
  }
}

// The lines are the ones ConvertStructDataToString makes, encoded datum by
// datum as they are formatted; the records are destroyed once the image is
// written. On a failure the caller finds them destroyed exactly when the
// buffer was due to exist.
LONG CKX9ComFuncLabelStructure::WriteBinaryData(LONG lCount, _STKX9LABELSTRUCTURE*& pData, BYTE*& pImage,
                                                LONG lHeaderSize) {
  if (lCount <= 0 || pData == nullptr) return 0;
  bool bRecordsDue = false;
  try {
    KX9ImageLines lines(m_eCPUSeries != KX9LabelCPUSeriesStandard);
    const bool bFlagAllowed = m_eMode != KX9LabelModeWithoutSystemLabel;
    for (LONG d = 0; d < lCount; ++d) lines.Add(pData[d], bFlagAllowed, false);
    const LONG lImage = FinishBinaryData(lines, pImage, lHeaderSize, &bRecordsDue);
    if (lImage > 0) {
      delete[] pData;
      pData = nullptr;
    }
    return lImage;
  } catch (...) {
    if (bRecordsDue) {
      delete[] pData;
      pData = nullptr;
    }
    return -1;
  }
}

LONG CKX9ComFuncLabelStructure::FinishBinaryData(KX9ImageLines& lines, BYTE*& pImage, LONG lHeaderSize,
                                                 bool* pBufferDue) {
  // The lines' total is a 32-bit size, as all the image's sizes are.
  const LONG lLines = static_cast<LONG>(static_cast<ULONG>(lines.Size()));
  if (lLines <= 0) return lLines;

  BYTE* pBlock = nullptr;
  try {
    if (lines.Size() > static_cast<std::size_t>(std::numeric_limits<LONG>::max())) throw std::bad_alloc();
    LONG lBlock = 0;
    if (!lines.SystemLabels().IsEmpty()) {
      SerializeSystemLabelData(lines.SystemLabels(), &lBlock, &pBlock);
      if (lBlock < 0 || (lBlock > 0 && pBlock == nullptr)) throw std::bad_alloc();
      CString strHash;
      CalcMD5Hash(pBlock, static_cast<ULONG>(lBlock), strHash);
      U16 trailer = kKX9TrailerMarker;
      AppendHex(trailer, static_cast<ULONG>(lBlock));
      trailer.push_back(u',');
      AppendDecimal(trailer, static_cast<LONG>(m_eMode));
      trailer.push_back(u',');
      trailer += strHash.View();
      lines.Line(trailer.data(), trailer.size());
    }
    *pBufferDue = true;
    // The image and its envelope must stay addressable by 32-bit sizes.
    const LONGLONG llTotal = static_cast<LONGLONG>(lines.Size()) + lBlock;
    constexpr LONGLONG kMaxSize = std::numeric_limits<LONG>::max();
    if (lHeaderSize < 0 || llTotal + lHeaderSize + 1 > kMaxSize) throw std::bad_alloc();

    const std::size_t nHeader = static_cast<std::size_t>(lHeaderSize);
    BYTE* pBuffer = new BYTE[nHeader + static_cast<std::size_t>(llTotal) + 1];
    pImage = pBuffer;
    PlatformAdviseSequentialWrite(pBuffer, nHeader + static_cast<std::size_t>(llTotal) + 1);
    // Every byte is written below; only the envelope's header is cleared.
    std::memset(pBuffer, 0, nHeader);
    const std::size_t nLines = lines.Size();
    lines.MoveTo(pBuffer + nHeader);
    if (lBlock > 0) std::memcpy(pBuffer + nHeader + nLines, pBlock, static_cast<std::size_t>(lBlock));
    pBuffer[nHeader + static_cast<std::size_t>(llTotal)] = 0;
    delete[] pBlock;
    return static_cast<LONG>(llTotal);
  } catch (...) {
    delete[] pBlock;
    throw;
  }
}

LONG CKX9ComFuncLabelStructure::ReadBinaryData(const BYTE* pImage, LONG lLength, _STKX9LABELSTRUCTURE* pData) {
  return ReadBinaryData(pImage, lLength, pData, nullptr);
}

LONG CKX9ComFuncLabelStructure::ReadBinaryData(const BYTE* pImage, LONG lLength, _STKX9LABELSTRUCTURE* pData,
                                               KX9ReadDiagnostics* pDiag) {
  if (lLength <= 0) return 0;
  if (pData == nullptr) pDiag = nullptr;  // the filling pass reports
  if (pImage == nullptr) return -1;

  const bool bUtf16 = m_eCPUSeries != KX9LabelCPUSeriesStandard;
  const std::size_t len = static_cast<std::size_t>(lLength);
  const std::size_t unitSize = bUtf16 ? 2 : 1;
  LONG lCount = 0;
  CGVLDataList lstSystemLabel;  // owned: deserialized records

  try {
    ImageLines lines(pImage, bUtf16, pDiag != nullptr);
    U16 prefix;  // the first units of a code-page line, for classifying it
    // Line numbers: the units between one taken line and the next are the
    // line feeds of empty lines.
    LONG line = 0;
    std::size_t after = 0;
    bool bTrailer = false;  // the block behind it takes the rest

    auto onLine = [&](std::size_t first, std::size_t end, std::size_t next) -> bool {
      const BYTE* s = pImage + first * unitSize;
      std::size_t n = end - first;  // units; the text ends at its first zero unit
      line += static_cast<LONG>(first - after) + 1;
      after = next;
      LineKind kind;
      if (bUtf16) {
        n = UnitsBeforeZero16(s, n);
        char16_t head[kMarkerPrefix];
        const std::size_t h = std::min(n, kMarkerPrefix);
        GetUtf16LE(s, h, head);
        kind = Classify(head, h);
      } else {
        const void* zero = std::memchr(s, 0, n);
        if (zero != nullptr) n = static_cast<std::size_t>(static_cast<const BYTE*>(zero) - s);
        // Every marker character is one byte in the supported code pages, so
        // a few more bytes than the longest marker classify the line; ASCII
        // bytes are the same characters in all of them.
        const std::size_t h = std::min(n, kMarkerPrefix + 1);
        char16_t head[kMarkerPrefix + 1];
        std::size_t k = 0;
        while (k < h && s[k] < 0x80) {
          head[k] = s[k];
          ++k;
        }
        if (k == h) {
          kind = Classify(head, std::min(h, kMarkerPrefix));
        } else {
          prefix.clear();
          AppendAnsiToWide(s, h, prefix);
          kind = Classify(prefix.data(), prefix.size() < kMarkerPrefix ? prefix.size() : kMarkerPrefix);
        }
      }
      if (pDiag && n < end - first)
        pDiag->Report(static_cast<LONGLONG>((first + n) * unitSize), line,
                      "a zero unit ends the line early: the rest of it is not read");
      if (pData != nullptr) lines.Add(first * unitSize, n, line);

      if (kind == LineKind::kHeader) {
        ++lCount;
        return true;
      }
      if (kind == LineKind::kOther) return true;

      // The trailer: the scan ends here. Only the filling pass reads it.
      if (pData == nullptr) return false;
      bTrailer = true;
      const char16_t* pLine = nullptr;
      std::size_t nLine = 0;
      lines.Get(lines.Count() - 1, pLine, nLine);
      CStringArray arrFields;
      _tokenize(CString(pLine, static_cast<int>(nLine)), arrFields);
      arrFields.SetSize(4);
      const LONG lBlock = wcstol(arrFields[1], nullptr, 16);
      const int nMode = static_cast<int>(_wtol(arrFields[2]));
      const std::size_t blockStart = next * unitSize;
      if (lBlock < 0 || static_cast<ULONGLONG>(blockStart) + static_cast<ULONGLONG>(lBlock) > len) {
        if (pDiag) pDiag->Report(blockStart, line, "the system-label block runs past the end: no system label is read");
        return false;
      }
      if (pDiag && blockStart + static_cast<std::size_t>(lBlock) < len)
        pDiag->Report(static_cast<LONGLONG>(blockStart) + lBlock, line,
                      "bytes after the system-label block are not read");
      CString strHash;
      CalcMD5Hash(pImage + blockStart, static_cast<ULONG>(lBlock), strHash);
      if (strHash.CompareNoCase(arrFields[3]) != 0) {
        if (pDiag)
          pDiag->Report(blockStart, line, "the system-label block does not match its digest: no system label is read");
        return false;
      }
      DeserializeSystemLabelData(pImage + blockStart, lBlock, nMode, lstSystemLabel);
      return false;
    };

    if (bUtf16) {
      const std::size_t units = len / 2;
      ScanLinear(
          units, len % 2 == 0, [&](std::size_t from) { return FindLineFeed16(pImage, from, units); },
          [&](std::size_t k) { return Unit16(pImage, k); }, onLine);
    } else {
      bool lead[256];
      bool bAnyLead = false;
      for (int b = 0; b < 256; ++b) {
        lead[b] = IsAnsiLeadByte(static_cast<BYTE>(b));
        bAnyLead = bAnyLead || lead[b];
      }
      if (bAnyLead) {
        ScanDoubleByte(pImage, len, lead, onLine);
      } else {
        ScanLinear(
            len, true,
            [&](std::size_t from) {
              const void* hit = std::memchr(pImage + from, kLF, len - from);
              return hit ? static_cast<std::size_t>(static_cast<const BYTE*>(hit) - pImage) : len;
            },
            [&](std::size_t k) { return pImage[k]; }, onLine);
      }
    }

    if (pDiag && bUtf16 && len % 2 != 0 && !bTrailer)
      pDiag->Report(static_cast<LONGLONG>(len - 1), 0, "the last byte is half a UTF-16 unit and is not read");

    // The lines read as ConvertStringToStructData reads them.
    if (lCount > 0 && pData != nullptr) {
      KX9ReadLabelLines(
          lines, lCount, pData, lstSystemLabel, m_eMode != KX9LabelModeWithoutSystemLabel,
          [](void* pContext, _STKX9LABELSTRUCTUREGVLDATA* pDest, const _STKX9LABELSTRUCTUREGVLDATA* pSrc) {
            static_cast<CKX9ComFuncLabelStructure*>(pContext)->_setSystemLabelInf(pDest, pSrc);
          },
          this, pDiag);
    }
  } catch (...) {
    lCount = -1;
  }

  for (int i = 0; i < lstSystemLabel.GetCount(); ++i) delete lstSystemLabel.GetAtIndex(i);
  return lCount;
}

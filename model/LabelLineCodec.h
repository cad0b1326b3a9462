// File: LabelLineCodec.h
//
// Internal to model/: the one formatter and the one reader of label lines,
// shared by the line conversion members, the label image and the text file,
// so that a line is written and read the same way on every path. The image
// code feeds them without building one string object per line.
#pragma once

#include <string>
#include <vector>

#include "model/KX9LabelRecords.h"
#include "model/KX9ReadDiagnostics.h"

// The header line markers: "GVL," or "SDT," opens a datum's lines.
constexpr char16_t kKX9GVLMarker[] = u"GVL,";
constexpr char16_t kKX9SDTMarker[] = u"SDT,";
constexpr std::size_t kKX9MarkerUnits = 4;
// The trailer marker: "SYSLBL," opens the line behind the lines that
// announces the system-label block.
constexpr char16_t kKX9TrailerMarker[] = u"SYSLBL,";

// Whether a line's text, with the comma its reader appends after it, begins
// with `marker` (zero-terminated). `n` counts the text without that comma.
inline bool KX9StartsWithMarker(const char16_t* text, std::size_t n, const char16_t* marker) {
  for (std::size_t k = 0; marker[k] != 0; ++k) {
    const char16_t c = k < n ? text[k] : (k == n ? u',' : u'\0');
    if (c != marker[k]) return false;
  }
  return true;
}

// The data type a header line opens (KX9_DATATYPE_GVL or _SDT), or 0 for any
// other line; `n` as for KX9StartsWithMarker.
inline LONG KX9HeaderDataType(const char16_t* text, std::size_t n) {
  if (KX9StartsWithMarker(text, n, kKX9GVLMarker)) return KX9_DATATYPE_GVL;
  if (KX9StartsWithMarker(text, n, kKX9SDTMarker)) return KX9_DATATYPE_SDT;
  return 0;
}

// Room for any 64-bit decimal: 19 digits and a sign, rounded up.
constexpr std::size_t KX9_DECIMAL_UNITS = 24;

// Writes the decimal digits of v (with a "-" when negative) so that they end
// just before `end`; returns where they start.
inline char16_t* KX9FormatDecimal(LONGLONG v, char16_t* end) {
  ULONGLONG m = v < 0 ? 0 - static_cast<ULONGLONG>(v) : static_cast<ULONGLONG>(v);
  do {
    *--end = static_cast<char16_t>(u'0' + m % 10);
    m /= 10;
  } while (m != 0);
  if (v < 0) *--end = u'-';
  return end;
}

// Receives the formatted lines in order, each without a line end.
class KX9LineSink {
 public:
  virtual void Line(const char16_t* p, std::size_t n) = 0;

 protected:
  ~KX9LineSink() = default;
};

// Number of lines KX9FormatLabelLines makes for data [0, lCount).
std::size_t KX9CountLabelLines(LONG lCount, const _STKX9LABELSTRUCTURE* pData);

// Formats data [0, lCount) into lines: per GVL or SDT datum its header line,
// then one line per element, each variable followed by its device lines.
// Every variable whose system-label flag field is "1" (status non-zero and
// bFlagAllowed) is appended to lstSystemLabel. Raises std::bad_alloc.
void KX9FormatLabelLines(LONG lCount, const _STKX9LABELSTRUCTURE* pData, bool bFlagAllowed, KX9LineSink& sink,
                         CKX9GVLDataList& lstSystemLabel);

// The lines of an image, encoded datum by datum as they come (each with its
// line feed, in UTF-16LE or the thread's ANSI code page) into a chain of
// growing chunks, so that a datum's records can go as soon as its lines are
// made, and the chunks can go one by one as they are copied into the image.
// The flagged variables are collected in order for the system-label block.
class KX9ImageLines final : public KX9LineSink {
 public:
  explicit KX9ImageLines(bool bUtf16) : m_bUtf16(bUtf16) {}
  ~KX9ImageLines();
  KX9ImageLines(const KX9ImageLines&) = delete;
  KX9ImageLines& operator=(const KX9ImageLines&) = delete;

  // Formats one datum's lines. With bTakeFlagged its flagged variables are
  // taken over (their slots in the datum become null) and live as long as
  // this object; otherwise they must outlive it. Raises std::bad_alloc.
  void Add(_STKX9LABELSTRUCTURE& datum, bool bFlagAllowed, bool bTakeFlagged);
  void Line(const char16_t* p, std::size_t n) override;
  CKX9GVLDataList& SystemLabels() { return m_lstSystemLabel; }
  std::size_t Size() const { return m_nSize; }
  // Copies the lines to `out` (Size() bytes), freeing each chunk once copied.
  void MoveTo(BYTE* out);

 private:
  struct Chunk {
    BYTE* p;
    std::size_t used;
    std::size_t capacity;
  };
  BYTE* Room(std::size_t n);

  bool m_bUtf16;
  std::vector<Chunk> m_chunks;
  std::size_t m_nSize = 0;  // over all chunks
  std::string m_ansi;  // one line in the code page, reused
  CKX9GVLDataList m_lstSystemLabel;
  CKX9GVLDataArray m_arrTaken;  // owned
};

// The lines to read, each already holding the comma its reader appends.
class KX9LineList {
 public:
  virtual int Count() const = 0;
  // The text of line i; valid until the next call.
  virtual void Get(int i, const char16_t*& p, std::size_t& n) = 0;
  // Where line i starts in the input: its byte and its line number.
  virtual void Place(int i, LONGLONG& offset, LONG& line) const = 0;

 protected:
  ~KX9LineList() = default;
};

// Copies the system-label part of `src` into `dest` for a flagged variable.
using KX9SystemLabelCopy = void (*)(void* pContext, _STKX9LABELSTRUCTUREGVLDATA* pDest,
                                    const _STKX9LABELSTRUCTUREGVLDATA* pSrc);

// The line reader: fills data [0, lCount) of pData from the lines. System
// labels are taken from lstSystemLabel in order, one per flagged variable,
// only when bUseFlag. Raises std::bad_alloc; what was appended stays. Lines
// outside any list, lists or variables cut short, lines after the last
// list (but a "SYSLBL" trailer) and, when bUseFlag, flags without a system
// label go to pDiag when there is one.
void KX9ReadLabelLines(KX9LineList& lines, LONG lCount, _STKX9LABELSTRUCTURE* pData,
                       const CKX9GVLDataList& lstSystemLabel, bool bUseFlag, KX9SystemLabelCopy pCopy, void* pContext,
                       KX9ReadDiagnostics* pDiag = nullptr);

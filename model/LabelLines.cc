// Label records <-> text lines: the common body of the label image and of the
// label structure text file. One header line per datum, one line per element,
// one line per allocated device; comma-separated fields, free text escaped.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/LabelLineCodec.h"

namespace {

using U16 = std::u16string;

constexpr char16_t kComma = u',';
constexpr char16_t kBackslash = u'\\';

// Number of fields of a member line and of a variable line, and of a device line.
constexpr int kMemberFields = 20;
constexpr int kVariableFields = 37;
constexpr int kDeviceFields = 2;
constexpr int kArraySizeFields = 3;  // dimensions a variable line carries

// ---------------------------------------------------------------------------
// Writing.

// The length of a field as a "%s" conversion takes it.
inline std::size_t CLength(const CString& text) {
  const std::u16string_view s = text.View();
  if (s.empty()) return 0;
  const char16_t* z = std::char_traits<char16_t>::find(s.data(), s.size(), u'\0');
  return z ? static_cast<std::size_t>(z - s.data()) : s.size();
}

inline bool NeedsEscape(char16_t c) { return c == kBackslash || c == kComma; }

// Builds one line at a time into a reused buffer, then hands it to the sink.
// Every append first makes room for exactly what it writes, so no line can
// outgrow the buffer, whatever fields it is made of.
class LineBuilder {
 public:
  explicit LineBuilder(KX9LineSink& sink) : m_sink(sink) {}

  void Begin() { m_w = m_buffer.get(); }
  void Literal(const char16_t* s, std::size_t n) {
    Room(n);
    std::memcpy(m_w, s, n * sizeof(char16_t));
    m_w += n;
  }
  void Comma() {
    Room(1);
    *m_w++ = kComma;
  }
  void Raw(const CString& text) { Literal(text.GetString(), CLength(text)); }
  // Every backslash doubled, every comma preceded by a backslash, in one
  // pass: both simply get a backslash in front of them.
  void Escaped(const CString& text) {
    const std::u16string_view s = text.View();
    const char16_t* p = s.data();
    const std::size_t n = s.size();
    Room(2 * n);
    char16_t* w = m_w;
    for (std::size_t i = 0; i < n; ++i) {
      const char16_t c = p[i];
      if (c == 0) break;
      if (NeedsEscape(c)) *w++ = kBackslash;
      *w++ = c;
    }
    m_w = w;
  }
  void Decimal(LONGLONG v) {
    char16_t buf[KX9_DECIMAL_UNITS];
    const char16_t* first = KX9FormatDecimal(v, buf + KX9_DECIMAL_UNITS);
    Literal(first, static_cast<std::size_t>(buf + KX9_DECIMAL_UNITS - first));
  }
  void End() { m_sink.Line(m_buffer.get(), Used()); }

 private:
  std::size_t Used() const { return static_cast<std::size_t>(m_w - m_buffer.get()); }
  void Room(std::size_t n) {
    if (n > static_cast<std::size_t>(m_end - m_w)) Grow(n);
  }
  // Out of line: lines rarely outgrow the buffer once the first long one
  // has been written.
  __attribute__((noinline)) void Grow(std::size_t n) {
    const std::size_t used = Used();
    const std::size_t capacity = std::max(used + n, 2 * static_cast<std::size_t>(m_end - m_buffer.get()) + 64);
    std::unique_ptr<char16_t[]> grown(new char16_t[capacity]);
    if (used != 0) std::memcpy(grown.get(), m_buffer.get(), used * sizeof(char16_t));
    m_buffer = std::move(grown);
    m_w = m_buffer.get() + used;
    m_end = m_buffer.get() + capacity;
  }

  KX9LineSink& m_sink;
  std::unique_ptr<char16_t[]> m_buffer;
  char16_t* m_w = nullptr;
  char16_t* m_end = nullptr;
};

// Formats the lines of data [0, lCount) through `out`. pSystemLabel, when
// given, collects the flagged variables.
template <class Out>
void FormatLines(LONG lCount, const _STKX9LABELSTRUCTURE* pData, bool bFlagAllowed, Out& out,
                 CKX9GVLDataList* pSystemLabel) {
  if (pData == nullptr) return;
  // A null element pointer is written as a record at its construction values,
  // so the header's element count still matches the lines that follow.
  static const _STKX9LABELSTRUCTURESDTDATA kBlankMember;
  static const _STKX9LABELSTRUCTUREGVLDATA kBlankVariable;

  for (LONG d = 0; d < lCount; ++d) {
    const _STKX9LABELSTRUCTURE& datum = pData[d];
    if (datum.dataType != KX9_DATATYPE_GVL && datum.dataType != KX9_DATATYPE_SDT) continue;
    const bool bGVL = datum.dataType == KX9_DATATYPE_GVL;
    out.Begin();
    out.Literal(bGVL ? kKX9GVLMarker : kKX9SDTMarker, kKX9MarkerUnits);
    out.Raw(datum.name);
    out.Comma();
    out.Decimal(datum.elements.GetSize());
    out.End();

    for (int e = 0; e < datum.elements.GetSize(); ++e) {
      if (!bGVL) {
        const auto* pm = static_cast<const _STKX9LABELSTRUCTURESDTDATA*>(datum.elements[e]);
        const _STKX9LABELSTRUCTURESDTDATA& m = pm ? *pm : kBlankMember;
        out.Begin();
        out.Decimal(static_cast<LONG>(m.lineNo));
        out.Comma();
        out.Escaped(m.name);
        out.Comma();
        out.Escaped(m.dataTypeName);
        out.Comma();
        out.Escaped(m.initData);
        for (const CString& c : m.comments) {
          out.Comma();
          out.Escaped(c);
        }
        out.End();
        continue;
      }

      auto* pv = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(datum.elements[e]);
      const _STKX9LABELSTRUCTUREGVLDATA& v = pv ? *pv : kBlankVariable;
      out.Begin();
      out.Decimal(static_cast<LONG>(v.lineNo));
      out.Comma();
      out.Escaped(v.name);
      out.Comma();
      out.Escaped(v.dataTypeName);
      out.Comma();
      out.Escaped(v.initData);
      out.Comma();
      out.Decimal(v.classKeyword);
      out.Comma();
      out.Decimal(v.structType);
      out.Comma();
      out.Escaped(v.comments[0]);
      out.Comma();
      out.Escaped(v.remark);
      out.Comma();
      out.Decimal(v.devices.GetSize());
      const bool bFlag = pv != nullptr && v.systemLabel.status != 0 && bFlagAllowed;
      out.Literal(bFlag ? u",1," : u",0,", 3);
      out.Raw(v.exAccess);
      for (int c = 1; c < KX9_COMMENT_COUNT; ++c) {
        out.Comma();
        out.Escaped(v.comments[c]);
      }
      for (int a = 0; a < kArraySizeFields; ++a) {
        out.Comma();
        if (a < v.arraySizes.GetSize()) {
          const _STARRAYSIZEINFO& size = v.arraySizes[a];
          out.Decimal(size.value1);
          out.Comma();
          out.Decimal(size.value2);
        } else {
          out.Comma();
        }
      }
      out.Comma();
      out.Raw(v.dynamicAttr1);
      out.Comma();
      out.Raw(v.dynamicAttr2);
      out.Comma();
      out.Raw(v.dynamicAttr4);
      out.Comma();
      out.Raw(v.dynamicAttr5);
      out.Comma();
      out.Decimal(v.dynamicAttr3);
      out.End();
      if (bFlag && pSystemLabel != nullptr) pSystemLabel->AddTail(pv);

      for (int k = 0; k < v.devices.GetSize(); ++k) {
        const _STKX9LABELSTRUCTUREGVLDEVICE& dev = v.devices[k];
        out.Begin();
        out.Escaped(dev.device);
        out.Comma();
        out.Escaped(dev.deviceExtra);
        out.End();
      }
    }
  }
}

// Bytes the line with its line feed takes in the image encoding; 32-bit
// arithmetic, as the image's sizes are.
inline ULONG EncodedLineSize(const char16_t* p, std::size_t n, bool bUtf16) {
  if (bUtf16) return 2u * (static_cast<ULONG>(n) + 1u);
  return static_cast<ULONG>(WideToAnsiLength(p, n)) + 1u;
}

// ---------------------------------------------------------------------------
// Splitting.

struct FieldSpan {
  std::size_t begin;
  std::size_t end;
  bool hasBackslash;
};

// Walks the fields of a line as _tokenize defines them: split at every comma,
// but a comma after an odd number of backslashes continues the field; a last
// piece ending in an odd number of backslashes is dropped with everything
// accumulated for it. Calls f(span) per field until f returns false.
template <class F>
void ForEachField(const char16_t* p, std::size_t n, F f) {
  std::size_t fieldBegin = 0;
  std::size_t run = 0;  // backslashes right before position i
  bool bBackslash = false;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = p[i];
    if (c == kBackslash) {
      ++run;
      bBackslash = true;
      continue;
    }
    if (c == kComma) {
      if (run & 1u) {  // escaped: the field goes on
        run = 0;
        continue;
      }
      if (!f(FieldSpan{fieldBegin, i, bBackslash})) return;
      fieldBegin = i + 1;
      bBackslash = false;
    }
    run = 0;
  }
  if ((run & 1u) == 0) f(FieldSpan{fieldBegin, n, bBackslash});
}

// Stores at most `max` fields of the line in `out`; returns how many.
inline int SplitFields(const char16_t* p, std::size_t len, FieldSpan* out, int max) {
  int n = 0;
  ForEachField(p, len, [&](const FieldSpan& s) {
    out[n++] = s;
    return n < max;
  });
  return n;
}

// The field text: the backslash in front of each escaped comma removed and
// every pair of backslashes made one. A run of k backslashes becomes (k-1)/2
// before an escaped comma and (k+1)/2 anywhere else, which is what removing
// the escape and then replacing pairs from the left gives.
// Writes the unescaped text of p[0, n) to `out`, which has room for n
// units (unescaping never lengthens); returns the units written.
std::size_t Unescape(char16_t* out, const char16_t* p, std::size_t n) {
  char16_t* w = out;
  std::size_t i = 0;
  for (;;) {
    std::size_t j = i;
    while (j < n && p[j] != kBackslash) ++j;
    std::memcpy(w, p + i, (j - i) * sizeof(char16_t));
    w += j - i;
    if (j == n) return static_cast<std::size_t>(w - out);
    i = j;
    while (j < n && p[j] == kBackslash) ++j;
    const std::size_t k = j - i;
    const std::size_t keep = (j < n && p[j] == kComma) ? (k - 1) / 2 : (k + 1) / 2;
    w = std::fill_n(w, keep, kBackslash);
    i = j;
  }
}

// Stores the unescaped text of p[0, n) in `dst`, in one block of its size at most.
void AssignField(CString& dst, const char16_t* p, std::size_t n, bool bEscaped) {
  if (!bEscaped) {
    dst = CString::Shared(p, n);
    return;
  }
  char16_t* w = dst.GetBufferSetLength(static_cast<int>(n));
  dst.ReleaseBuffer(static_cast<int>(Unescape(w, p, n)));
}

// One line split into its first `max` fields, missing ones empty.
class FieldReader {
 public:
  FieldReader(const char16_t* p, std::size_t n, int max) : m_p(p), m_n(SplitFields(p, n, m_spans, max)) {}

  bool Empty(int i) const { return i >= m_n || m_spans[i].begin == m_spans[i].end; }

  LONG Long(int i) const {
    if (i >= m_n) return 0;
    const FieldSpan& s = m_spans[i];
    return static_cast<LONG>(WideToDecimalClamped(m_p + s.begin, s.end - s.begin, INT32_MIN, INT32_MAX));
  }
  LONGLONG LongLong(int i) const {
    if (i >= m_n) return 0;
    const FieldSpan& s = m_spans[i];
    return WideToDecimalClamped(m_p + s.begin, s.end - s.begin, INT64_MIN, INT64_MAX);
  }

  // Stores the field text in `dst`; an empty or missing field empties it.
  void Text(int i, CString& dst) const {
    if (Empty(i)) {
      dst.Empty();
      return;
    }
    const FieldSpan& s = m_spans[i];
    AssignField(dst, m_p + s.begin, s.end - s.begin, s.hasBackslash);
  }

 private:
  FieldSpan m_spans[kVariableFields];
  const char16_t* m_p;
  int m_n;
};

}  // namespace

// ---------------------------------------------------------------------------
// The formatter and the reader.

std::size_t KX9CountLabelLines(LONG lCount, const _STKX9LABELSTRUCTURE* pData) {
  std::size_t nLines = 0;
  if (pData == nullptr) return 0;
  for (LONG d = 0; d < lCount; ++d) {
    const _STKX9LABELSTRUCTURE& datum = pData[d];
    if (datum.dataType != KX9_DATATYPE_GVL && datum.dataType != KX9_DATATYPE_SDT) continue;
    nLines += 1 + static_cast<std::size_t>(datum.elements.GetSize());
    if (datum.dataType != KX9_DATATYPE_GVL) continue;
    for (int e = 0; e < datum.elements.GetSize(); ++e) {
      const auto* v = static_cast<const _STKX9LABELSTRUCTUREGVLDATA*>(datum.elements[e]);
      if (v != nullptr) nLines += static_cast<std::size_t>(v->devices.GetSize());
    }
  }
  return nLines;
}

void KX9FormatLabelLines(LONG lCount, const _STKX9LABELSTRUCTURE* pData, bool bFlagAllowed, KX9LineSink& sink,
                         CKX9GVLDataList& lstSystemLabel) {
  LineBuilder builder(sink);
  FormatLines(lCount, pData, bFlagAllowed, builder, &lstSystemLabel);
}

void KX9ReadLabelLines(KX9LineList& lines, LONG lCount, _STKX9LABELSTRUCTURE* pData,
                       const CKX9GVLDataList& lstSystemLabel, bool bUseFlag, KX9SystemLabelCopy pCopy, void* pContext,
                       KX9ReadDiagnostics* pDiag) {
  if (lCount <= 0 || pData == nullptr) return;
  // A finding about line i of the list.
  auto report = [&](int i, const char* what) {
    LONGLONG offset = 0;
    LONG line = 0;
    lines.Place(i, offset, line);
    pDiag->Report(offset, line, what);
  };

  enum class State { kHeader, kElement, kDevice };
  State state = State::kHeader;
  LONG d = 0;                                          // datum being filled
  LONG nElements = 0;                                  // elements its header announced
  LONG nDevices = 0;                                   // device lines the held variable announced
  std::unique_ptr<_STKX9LABELSTRUCTUREGVLDATA> pHeld;  // dropped if its devices never come
  int nextSystemLabel = 0;
  const int nSystemLabels = lstSystemLabel.GetCount();
  const int nLines = lines.Count();

  // Appends a finished element to datum d and closes the datum when full.
  auto appendElement = [&](_STKX9LABELSTRUCTURE& datum, _STKX9LABELSTRUCTUREBASEDATA* p) {
    datum.elements.Add(p);
    if (datum.elements.GetSize() >= nElements) {
      ++d;
      state = State::kHeader;
    } else {
      state = State::kElement;
    }
  };

  int i = 0;
  int iHeader = 0;  // the line that opened the datum being filled
  for (; i < nLines && d < lCount; ++i) {
    const char16_t* p = nullptr;
    std::size_t n = 0;
    lines.Get(i, p, n);
    _STKX9LABELSTRUCTURE& datum = pData[d];

    if (state == State::kHeader) {
      const LONG lType = KX9HeaderDataType(p, n - 1);  // the line holds its appended comma
      if (lType == 0) {
        if (pDiag) report(i, "a line outside any list is skipped");
        continue;
      }
      iHeader = i;
      datum.dataType = lType;
      // The name is the raw text between the first and second comma.
      const std::size_t m = kKX9MarkerUnits;
      const char16_t* second = std::char_traits<char16_t>::find(p + m, n - m, kComma);
      const std::size_t nameEnd = second ? static_cast<std::size_t>(second - p) : n;
      if (nameEnd > m)
        datum.name.Assign(p + m, nameEnd - m);
      else
        datum.name.Empty();
      nElements = second == nullptr
                      ? 0
                      : static_cast<LONG>(WideToDecimalClamped(second + 1, n - nameEnd - 1, INT32_MIN, INT32_MAX));
      if (nElements < 1) {
        ++d;
        continue;
      }
      // Never reserve more elements than lines remain, whatever the header claims.
      const LONG remaining = static_cast<LONG>(nLines - i - 1);
      datum.elements.Reserve(datum.elements.GetSize() + (nElements < remaining ? nElements : remaining));
      state = State::kElement;
      continue;
    }

    if (state == State::kDevice) {
      FieldReader f(p, n, kDeviceFields);
      // Filled in place: no copy of the texts.
      const int k = pHeld->devices.GetSize();
      pHeld->devices.SetSize(k + 1);
      f.Text(0, pHeld->devices[k].device);
      f.Text(1, pHeld->devices[k].deviceExtra);
      if (pHeld->devices.GetSize() >= nDevices) {
        appendElement(datum, pHeld.get());
        pHeld.release();
      }
      continue;
    }

    // Element state.
    if (datum.dataType == KX9_DATATYPE_SDT) {
      FieldReader f(p, n, kMemberFields);
      auto pMember = std::make_unique<_STKX9LABELSTRUCTURESDTDATA>();
      pMember->lineNo = static_cast<ULONG>(f.Long(0));
      f.Text(1, pMember->name);
      f.Text(2, pMember->dataTypeName);
      f.Text(3, pMember->initData);
      for (int c = 0; c < KX9_COMMENT_COUNT; ++c) f.Text(4 + c, pMember->comments[c]);
      appendElement(datum, pMember.get());
      pMember.release();
      continue;
    }

    FieldReader f(p, n, kVariableFields);
    auto pVar = std::make_unique<_STKX9LABELSTRUCTUREGVLDATA>();
    pVar->lineNo = static_cast<ULONG>(f.Long(0));
    f.Text(1, pVar->name);
    f.Text(2, pVar->dataTypeName);
    f.Text(3, pVar->initData);
    pVar->classKeyword = f.Long(4);
    pVar->structType = f.Long(5);
    f.Text(6, pVar->comments[0]);
    f.Text(7, pVar->remark);
    const LONG lDevices = f.Long(8);
    f.Text(10, pVar->exAccess);
    for (int c = 1; c < KX9_COMMENT_COUNT; ++c) f.Text(10 + c, pVar->comments[c]);
    for (int a = 0; a < kArraySizeFields; ++a) {
      const int first = 26 + 2 * a;
      if (f.Empty(first) || f.Empty(first + 1)) break;
      _STARRAYSIZEINFO size;
      size.value1 = f.Long(first);
      size.value2 = f.LongLong(first + 1);
      pVar->arraySizes.Add(size);
    }
    f.Text(32, pVar->dynamicAttr1);
    f.Text(33, pVar->dynamicAttr2);
    f.Text(34, pVar->dynamicAttr4);
    f.Text(35, pVar->dynamicAttr5);
    pVar->dynamicAttr3 = f.Long(36);
    if (bUseFlag && f.Long(9) != 0) {
      if (nextSystemLabel < nSystemLabels)
        pCopy(pContext, pVar.get(), lstSystemLabel.GetAtIndex(nextSystemLabel++));
      else if (pDiag)
        report(i, "the variable is flagged as a system label, but no system label is left for it");
    }
    if (lDevices < 1) {
      appendElement(datum, pVar.get());
      pVar.release();
    } else {
      nDevices = lDevices;
      pHeld = std::move(pVar);
      state = State::kDevice;
    }
  }
  if (!pDiag) return;
  if (state == State::kDevice) report(nLines - 1, "the lines end inside a variable's devices: the variable is dropped");
  if (state != State::kHeader) report(iHeader, "the lines end before the list's last element");
  if (d < lCount && state == State::kHeader) report(nLines - 1, "the lines end before the last list");
  for (; i < nLines; ++i) {
    const char16_t* p = nullptr;
    std::size_t n = 0;
    lines.Get(i, p, n);
    if (!KX9StartsWithMarker(p, n - 1, kKX9TrailerMarker)) report(i, "a line after the last list is not read");
  }
}

// ---------------------------------------------------------------------------
// Members.

CString CKX9ComFuncLabelStructure::_escapeString(const CString& strText) {
  const std::u16string_view s = strText.View();
  if (s.empty()) return CString();
  CString strOut;
  char16_t* w = strOut.GetBufferSetLength(static_cast<int>(2 * s.size()));
  char16_t* const first = w;
  for (char16_t c : s) {
    if (NeedsEscape(c)) *w++ = kBackslash;
    *w++ = c;
  }
  strOut.ReleaseBuffer(static_cast<int>(w - first));
  return strOut;
}

void CKX9ComFuncLabelStructure::_tokenize(const CString& strLine, CStringArray& arrFields) {
  arrFields.RemoveAll();
  const std::u16string_view line = strLine.View();
  const char16_t* p = line.data();
  ForEachField(p, line.size(), [&](const FieldSpan& s) {
    CString strField;
    AssignField(strField, p + s.begin, s.end - s.begin, s.hasBackslash);
    arrFields.Add(std::move(strField));
    return true;
  });
}

LONG CKX9ComFuncLabelStructure::GetUnicodeStringLength(CString strText) {
  const std::u16string_view s = strText.View();
  return static_cast<LONG>(EncodedLineSize(s.data(), s.size(), m_eCPUSeries != KX9LabelCPUSeriesStandard));
}

LONG CKX9ComFuncLabelStructure::ConvertStructDataToString(LONG lCount, _STKX9LABELSTRUCTURE* pData,
                                                          CStringArray& arrLines, CGVLDataList& lstSystemLabel) {
  if (lCount <= 0 || pData == nullptr) return 0;

  // Keeps every line as a string and sums the encoded sizes, 32-bit as the
  // image's sizes are.
  class ArraySink : public KX9LineSink {
   public:
    ArraySink(CStringArray& lines, bool bUtf16) : m_lines(lines), m_bUtf16(bUtf16) {}
    void Line(const char16_t* p, std::size_t n) override {
      m_ulTotal += EncodedLineSize(p, n, m_bUtf16);
      m_lines.Add(CString(p, static_cast<int>(n)));
    }
    ULONG Total() const { return m_ulTotal; }

   private:
    CStringArray& m_lines;
    bool m_bUtf16;
    ULONG m_ulTotal = 0;
  };

  try {
    const std::size_t nLines = KX9CountLabelLines(lCount, pData);
    if (nLines <= static_cast<std::size_t>(INT_MAX - arrLines.GetSize()))
      arrLines.Reserve(arrLines.GetSize() + static_cast<int>(nLines));
    ArraySink sink(arrLines, m_eCPUSeries != KX9LabelCPUSeriesStandard);
    KX9FormatLabelLines(lCount, pData, m_eMode != KX9LabelModeWithoutSystemLabel, sink, lstSystemLabel);
    return static_cast<LONG>(sink.Total());
  } catch (...) {
    return -1;
  }
}

ULONG CKX9ComFuncLabelStructure::ConvertStringToStructData(CStringArray& arrLines, LONG lCount,
                                                           _STKX9LABELSTRUCTURE* pData,
                                                           const CGVLDataList& lstSystemLabel) {
  return ConvertStringToStructData(arrLines, lCount, pData, lstSystemLabel, nullptr, nullptr);
}

ULONG CKX9ComFuncLabelStructure::ConvertStringToStructData(CStringArray& arrLines, LONG lCount,
                                                           _STKX9LABELSTRUCTURE* pData,
                                                           const CGVLDataList& lstSystemLabel,
                                                           KX9ReadDiagnostics* pDiag, const LONGLONG* pOffsets) {
  class ArrayLines : public KX9LineList {
   public:
    ArrayLines(const CStringArray& lines, const LONGLONG* offsets) : m_lines(lines), m_offsets(offsets) {}
    int Count() const override { return m_lines.GetSize(); }
    void Get(int i, const char16_t*& p, std::size_t& n) override {
      const std::u16string_view s = m_lines[i].View();
      p = s.data();
      n = s.size();
    }
    void Place(int i, LONGLONG& offset, LONG& line) const override {
      offset = m_offsets ? m_offsets[i] : -1;
      line = i + 1;
    }

   private:
    const CStringArray& m_lines;
    const LONGLONG* m_offsets;
  };

  try {
    ArrayLines lines(arrLines, pOffsets);
    KX9ReadLabelLines(
        lines, lCount, pData, lstSystemLabel,
        // Without any system label to hand out (the text file), a flag
        // copies nothing and asks for none.
        m_eMode != KX9LabelModeWithoutSystemLabel && !lstSystemLabel.IsEmpty(),
        [](void* pContext, _STKX9LABELSTRUCTUREGVLDATA* pDest, const _STKX9LABELSTRUCTUREGVLDATA* pSrc) {
          static_cast<CKX9ComFuncLabelStructure*>(pContext)->_setSystemLabelInf(pDest, pSrc);
        },
        this, pDiag);
    return KX9_OK;
  } catch (...) {
    return KX9_ERR_ALLOC;
  }
}

// Out-of-line members of CString, printf-like formatting, and UTF-8.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "platform/kx9platform.h"

namespace {

inline char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

inline bool IsTrimSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::size_t Length(const char16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// One conversion of a format: flags, width, precision and length modifier.
struct Conversion {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool alt = false;
  bool zero = false;
  int width = 0;
  int precision = -1;  // -1: none given
  int size = 0;        // 0 default/32-bit, 1 short, 8 64-bit
};

void Pad(std::u16string& out, int count, char16_t c) {
  if (count > 0) out.append(static_cast<std::size_t>(count), c);
}

// Appends `body` (count units) padded to the width of `conv`.
void AppendPadded(std::u16string& out, const Conversion& conv, const char16_t* body, std::size_t count) {
  const int pad = conv.width - static_cast<int>(std::min<std::size_t>(count, 0x7FFFFFFF));
  if (!conv.left) Pad(out, pad, u' ');
  out.append(body, count);
  if (conv.left) Pad(out, pad, u' ');
}

void AppendInteger(std::u16string& out, const Conversion& conv, ULONGLONG magnitude, bool negative, bool isSigned,
                   unsigned base, bool upper) {
  char16_t digits[24];
  int nd = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (ULONGLONG v = magnitude; v != 0; v /= base) digits[nd++] = static_cast<char16_t>(set[v % base]);
  int zeros = 0;
  if (conv.precision >= 0) {
    zeros = conv.precision > nd ? conv.precision - nd : 0;
  } else if (nd == 0) {
    zeros = 1;  // the value 0 prints "0" unless a precision of 0 asks for no digits
  }
  char16_t prefix[2];
  int np = 0;
  if (isSigned) {
    if (negative) {
      prefix[np++] = u'-';
    } else if (conv.plus) {
      prefix[np++] = u'+';
    } else if (conv.space) {
      prefix[np++] = u' ';
    }
  } else if (conv.alt && magnitude != 0) {
    if (base == 16) {
      prefix[np++] = u'0';
      prefix[np++] = upper ? u'X' : u'x';
    } else if (base == 8 && zeros == 0) {
      zeros = 1;
    }
  }
  int total = np + zeros + nd;
  if (conv.zero && !conv.left && conv.precision < 0 && conv.width > total) {
    zeros += conv.width - total;
    total = conv.width;
  }
  const int pad = conv.width - total;
  if (!conv.left) Pad(out, pad, u' ');
  out.append(prefix, static_cast<std::size_t>(np));
  Pad(out, zeros, u'0');
  for (int i = nd - 1; i >= 0; --i) out.push_back(digits[i]);
  if (conv.left) Pad(out, pad, u' ');
}

void AppendFloating(std::u16string& out, const Conversion& conv, char type, double value) {
  char fmt[16];
  int k = 0;
  fmt[k++] = '%';
  if (conv.left) fmt[k++] = '-';
  if (conv.plus) fmt[k++] = '+';
  if (conv.space) fmt[k++] = ' ';
  if (conv.alt) fmt[k++] = '#';
  if (conv.zero) fmt[k++] = '0';
  fmt[k++] = '*';
  fmt[k++] = '.';
  fmt[k++] = '*';
  fmt[k++] = type;
  fmt[k] = 0;
  const int precision = conv.precision < 0 ? 6 : conv.precision;
  char small[64];
  int n = std::snprintf(small, sizeof small, fmt, conv.width, precision, value);
  if (n < 0) return;
  std::string big;
  const char* text = small;
  if (static_cast<std::size_t>(n) >= sizeof small) {
    big.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(&big[0], big.size(), fmt, conv.width, precision, value);
    text = big.c_str();
  }
  for (int i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
}

// Reads a non-negative decimal number, saturating far beyond any sane width.
int ReadNumber(const char16_t*& f) {
  int v = 0;
  while (*f >= u'0' && *f <= u'9') {
    if (v < 100000000) v = v * 10 + (*f - u'0');
    ++f;
  }
  return v;
}

// Appends the formatted text to `out`, which no argument may point into.
void AppendFormatV(std::u16string& out, const char16_t* fmt, va_list ap) {
  const char16_t* f = fmt;
  while (*f != 0) {
    const char16_t* run = f;
    while (*f != 0 && *f != u'%') ++f;
    if (f != run) out.append(run, static_cast<std::size_t>(f - run));
    if (*f == 0) break;
    const char16_t* const convStart = f;
    ++f;  // '%'
    if (*f == u'%') {
      out.push_back(u'%');
      ++f;
      continue;
    }
    Conversion conv;
    for (;; ++f) {
      if (*f == u'-') {
        conv.left = true;
      } else if (*f == u'+') {
        conv.plus = true;
      } else if (*f == u' ') {
        conv.space = true;
      } else if (*f == u'#') {
        conv.alt = true;
      } else if (*f == u'0') {
        conv.zero = true;
      } else {
        break;
      }
    }
    if (*f == u'*') {
      conv.width = va_arg(ap, int);
      if (conv.width < 0) {
        conv.left = true;
        conv.width = conv.width == INT32_MIN ? 0 : -conv.width;
      }
      ++f;
    } else {
      conv.width = ReadNumber(f);
    }
    if (*f == u'.') {
      ++f;
      if (*f == u'*') {
        conv.precision = va_arg(ap, int);
        if (conv.precision < 0) conv.precision = -1;
        ++f;
      } else {
        conv.precision = ReadNumber(f);
      }
    }
    if (f[0] == u'I' && f[1] == u'6' && f[2] == u'4') {
      conv.size = 8;
      f += 3;
    } else if (f[0] == u'I' && f[1] == u'3' && f[2] == u'2') {
      f += 3;
    } else if (f[0] == u'l' && f[1] == u'l') {
      conv.size = 8;
      f += 2;
    } else if (*f == u'h') {
      conv.size = 1;
      ++f;
    } else if (*f == u'l' || *f == u'w' || *f == u'L') {
      ++f;  // `long` is 32-bit here, and text is always wide
    }
    const char16_t type = *f;
    if (type == 0) {  // a conversion cut off by the end of the format
      out.append(convStart, static_cast<std::size_t>(f - convStart));
      break;
    }
    ++f;
    switch (type) {
      case u'd':
      case u'i': {
        LONGLONG v;
        if (conv.size == 8) {
          v = va_arg(ap, LONGLONG);
        } else {
          v = va_arg(ap, int);
          if (conv.size == 1) v = static_cast<short>(v);
        }
        const ULONGLONG mag = v < 0 ? ULONGLONG{0} - static_cast<ULONGLONG>(v) : static_cast<ULONGLONG>(v);
        AppendInteger(out, conv, mag, v < 0, true, 10, false);
        break;
      }
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        ULONGLONG v;
        if (conv.size == 8) {
          v = va_arg(ap, ULONGLONG);
        } else {
          v = va_arg(ap, unsigned);
          if (conv.size == 1) v = static_cast<unsigned short>(v);
        }
        const unsigned base = type == u'u' ? 10 : (type == u'o' ? 8 : 16);
        AppendInteger(out, conv, v, false, false, base, type == u'X');
        break;
      }
      case u'c': {
        const char16_t c = static_cast<char16_t>(va_arg(ap, int));
        AppendPadded(out, conv, &c, 1);
        break;
      }
      case u's': {
        const char16_t* s = va_arg(ap, const char16_t*);
        if (s == nullptr) s = u"(null)";
        std::size_t n = 0;
        if (conv.precision >= 0) {
          while (n < static_cast<std::size_t>(conv.precision) && s[n] != 0) ++n;
        } else {
          n = Length(s);
        }
        AppendPadded(out, conv, s, n);
        break;
      }
      case u'e':
      case u'E':
      case u'f':
      case u'F':
      case u'g':
      case u'G':
        AppendFloating(out, conv, static_cast<char>(type), va_arg(ap, double));
        break;
      default:
        // Not a conversion this formatter knows: keep the text as written.
        out.append(convStart, static_cast<std::size_t>(f - convStart));
        break;
    }
  }
}

}  // namespace

CString::CString(char16_t ch, int nRepeat) {
  Set(nullptr);
  if (nRepeat <= 0) return;
  char16_t* w = GetBufferSetLength(nRepeat);
  std::fill(w, w + nRepeat, ch);
}

CString::Rep* CString::NewRep(std::size_t capacity) {
  // Lengths are ints, as the framework's are.
  if (capacity > static_cast<std::size_t>(0x7FFFFFFF) / sizeof(char16_t) - sizeof(Rep)) throw std::bad_alloc();
  void* block = ::operator new(sizeof(Rep) + (capacity + 1) * sizeof(char16_t));
  Rep* r = new (block) Rep;
  r->refs.store(1, std::memory_order_relaxed);
  r->length = 0;
  r->capacity = static_cast<int>(capacity);
  Units(r)[0] = 0;
  return r;
}

char16_t* CString::Own(std::size_t capacity, std::size_t keep) {
  Rep* old = Get();
  if (old != nullptr && old->refs.load(std::memory_order_acquire) == 1 &&
      static_cast<std::size_t>(old->capacity) >= capacity)
    return Units(old);
  Rep* r = NewRep(capacity);
  if (old != nullptr && keep > 0) {
    keep = std::min<std::size_t>(keep, static_cast<std::size_t>(old->length));
    std::memcpy(Units(r), Units(old), keep * sizeof(char16_t));
    r->length = static_cast<int>(keep);
  }
  Set(r);
  Release(old);
  return Units(r);
}

void CString::Assign(const char16_t* p, std::size_t n) {
  if (n == 0) {
    Empty();
    return;
  }
  Rep* old = Get();
  if (old != nullptr && old->refs.load(std::memory_order_acquire) == 1 &&
      static_cast<std::size_t>(old->capacity) >= n) {
    std::memmove(Units(old), p, n * sizeof(char16_t));  // p may lie inside the old text
    old->length = static_cast<int>(n);
    Units(old)[n] = 0;
    return;
  }
  Rep* r = NewRep(n);
  std::memcpy(Units(r), p, n * sizeof(char16_t));
  r->length = static_cast<int>(n);
  Units(r)[n] = 0;
  Set(r);
  Release(old);  // after the copy: p may point into it
}

void CString::Append(const char16_t* p, std::size_t n) {
  if (n == 0) return;
  const std::size_t len = static_cast<std::size_t>(GetLength());
  Rep* old = Get();
  if (old != nullptr && old->refs.load(std::memory_order_acquire) == 1 &&
      static_cast<std::size_t>(old->capacity) >= len + n) {
    std::memcpy(Units(old) + len, p, n * sizeof(char16_t));
  } else {
    // Grows geometrically so that appending unit by unit stays linear.
    Rep* r = NewRep(std::max(len + n, len + len / 2));
    if (len > 0) std::memcpy(Units(r), Units(old), len * sizeof(char16_t));
    std::memcpy(Units(r) + len, p, n * sizeof(char16_t));
    Set(r);
    Release(old);  // after the copy: p may point into it
  }
  Rep* r = Get();
  r->length = static_cast<int>(len + n);
  Units(r)[len + n] = 0;
}

namespace {
constexpr std::size_t kSharedMaxUnits = 24;
constexpr std::size_t kSharedSlots = 256;
// The recently made short texts of this thread, by hash.
struct SharedTexts {
  CString slots[kSharedSlots];
};
thread_local SharedTexts t_shared;
}  // namespace

CString CString::Shared(const char16_t* p, std::size_t n) {
  CString text;
  if (n == 0) return text;
  if (n > kSharedMaxUnits) {
    text.Assign(p, n);
    return text;
  }
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  CString& slot = t_shared.slots[(h ^ (h >> 16)) & (kSharedSlots - 1)];
  if (slot.View() == std::u16string_view(p, n)) return slot;
  text.Assign(p, n);
  slot = text;
  return text;
}

char16_t* CString::GetBufferSetLength(int n) {
  const std::size_t units = static_cast<std::size_t>(n > 0 ? n : 1);
  char16_t* w = Own(units, units);
  Rep* r = Get();
  if (static_cast<std::size_t>(r->length) < units) std::fill(w + r->length, w + units, u'\0');
  r->length = static_cast<int>(units);
  w[units] = 0;
  return w;
}

void CString::ReleaseBuffer(int n) {
  Rep* r = Get();
  if (r == nullptr) return;
  if (n <= 0) {
    Empty();
    return;
  }
  r->length = std::min(n, r->capacity);
  Units(r)[r->length] = 0;
}

int CString::CompareNoCase(const char16_t* psz) const {
  // Compared as zero-terminated texts, like the run-time's comparison.
  const char16_t* a = GetString();
  const char16_t* b = psz ? psz : u"";
  for (;; ++a, ++b) {
    const char16_t ca = FoldAscii(*a);
    const char16_t cb = FoldAscii(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

CString CString::Left(int n) const {
  if (n <= 0) return CString();
  const std::u16string_view v = View();
  return CString(v.data(), static_cast<int>(std::min<std::size_t>(v.size(), static_cast<std::size_t>(n))));
}

CString CString::Mid(int first) const {
  if (first < 0) first = 0;
  const std::u16string_view v = View();
  if (static_cast<std::size_t>(first) >= v.size()) return CString();
  return CString(v.data() + first, static_cast<int>(v.size() - static_cast<std::size_t>(first)));
}

CString CString::Mid(int first, int count) const {
  if (first < 0) first = 0;
  if (count <= 0) return CString();
  const std::u16string_view v = View();
  const std::size_t f = static_cast<std::size_t>(first);
  if (f >= v.size()) return CString();
  return CString(v.data() + f, static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(count), v.size() - f)));
}

int CString::Find(char16_t ch, int start) const {
  const std::u16string_view v = View();
  if (start < 0 || static_cast<std::size_t>(start) >= v.size()) return -1;
  const std::size_t at = v.find(ch, static_cast<std::size_t>(start));
  return at == std::u16string_view::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char16_t* sub, int start) const {
  const std::u16string_view v = View();
  if (sub == nullptr || start < 0 || static_cast<std::size_t>(start) > v.size()) return -1;
  const std::size_t at = v.find(sub, static_cast<std::size_t>(start));
  return at == std::u16string_view::npos ? -1 : static_cast<int>(at);
}

int CString::Replace(const char16_t* oldText, const char16_t* newText) {
  if (oldText == nullptr || *oldText == 0 || IsEmpty()) return 0;
  const std::u16string_view s = View();
  const std::size_t oldLen = Length(oldText);
  std::size_t at = s.find(oldText, 0, oldLen);
  if (at == std::u16string_view::npos) return 0;
  const char16_t* repl = newText ? newText : u"";
  const std::size_t newLen = Length(repl);
  std::u16string result;
  result.reserve(s.size());
  std::size_t from = 0;
  int count = 0;
  while (at != std::u16string_view::npos) {
    result.append(s.substr(from, at - from));
    result.append(repl, newLen);
    from = at + oldLen;
    ++count;
    at = s.find(oldText, from, oldLen);
  }
  result.append(s.substr(from));
  Assign(result.data(), result.size());
  return count;
}

CString& CString::TrimLeft() {
  const std::u16string_view s = View();
  std::size_t i = 0;
  while (i < s.size() && IsTrimSpace(s[i])) ++i;
  if (i != 0) Assign(s.data() + i, s.size() - i);
  return *this;
}

namespace {

// Formats into a per-thread scratch text first: arguments (and the format
// itself) may point into the very string being formatted.
std::u16string& FormatScratch() {
  thread_local std::u16string scratch;
  scratch.clear();
  return scratch;
}

void ReleaseLargeScratch(std::u16string& scratch) {
  if (scratch.capacity() > (std::size_t{1} << 16)) std::u16string().swap(scratch);
}

}  // namespace

void CString::Format(const char16_t* fmt, ...) {
  std::u16string& text = FormatScratch();
  if (fmt != nullptr) {
    va_list ap;
    va_start(ap, fmt);
    AppendFormatV(text, fmt, ap);
    va_end(ap);
  }
  Assign(text.data(), text.size());
  ReleaseLargeScratch(text);
}

void CString::AppendFormat(const char16_t* fmt, ...) {
  if (fmt == nullptr) return;
  std::u16string& text = FormatScratch();
  va_list ap;
  va_start(ap, fmt);
  AppendFormatV(text, fmt, ap);
  va_end(ap);
  Append(text.data(), text.size());
  ReleaseLargeScratch(text);
}

BSTR CString::AllocSysString() const {
  const std::u16string_view s = View();
  BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (b == nullptr) throw std::bad_alloc();
  return b;
}

std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(s[i + 1]) - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;  // a lone surrogate has no UTF-8 form
      }
    }
    if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

std::u16string FromUtf8(const std::string& s) {
  std::u16string out;
  out.reserve(s.size());
  const std::size_t n = s.size();
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  std::size_t i = 0;
  while (i < n) {
    const unsigned b0 = byte(i);
    if (b0 < 0x80) {
      out.push_back(static_cast<char16_t>(b0));
      ++i;
      continue;
    }
    // Length of the sequence and the range allowed for its second byte;
    // the ranges exclude overlong forms, surrogates and values past U+10FFFF.
    int need;
    unsigned lo = 0x80;
    unsigned hi = 0xBF;
    std::uint32_t c;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      c = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      c = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k, ++j) {
      const unsigned lower = k == 0 ? lo : 0x80;
      const unsigned upper = k == 0 ? hi : 0xBF;
      if (j >= n || byte(j) < lower || byte(j) > upper) {
        ok = false;
        break;
      }
      c = (c << 6) | (byte(j) & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);  // one replacement for the longest valid prefix
      i = j;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i = j;
  }
  return out;
}

// The run-time's wide number readers: leading white space (TAB, LF, VT, FF,
// CR, SPACE), an optional sign, ASCII digits; values beyond the type clamp.
#include <cstdint>
#include <limits>

#include "platform/kx9platform.h"

namespace {

inline bool IsNumberSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

// Value of an ASCII digit or letter as a digit (a/A = 10 ...), or 99.
inline unsigned DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return static_cast<unsigned>(c - u'0');
  if (c >= u'a' && c <= u'z') return static_cast<unsigned>(c - u'a' + 10);
  if (c >= u'A' && c <= u'Z') return static_cast<unsigned>(c - u'A' + 10);
  return 99;
}

// Reads digits of `base` at s[i...] (at most up to s[n]) into a magnitude
// that saturates at `limit`; advances i; `any` tells whether a digit was read.
ULONGLONG ReadMagnitude(const char16_t* s, std::size_t n, std::size_t& i, unsigned base, ULONGLONG limit, bool& any) {
  ULONGLONG v = 0;
  any = false;
  for (unsigned d; i < n && (d = DigitValue(s[i])) < base; ++i) {
    any = true;
    if (v > (limit - d) / base) {
      v = limit;  // keep consuming digits, as the run-time does
    } else {
      v = v * base + d;
    }
  }
  return v;
}

// Unbounded: a zero unit ends every reading step before the end is reached.
constexpr std::size_t kToTerminator = std::numeric_limits<std::size_t>::max();

}  // namespace

LONGLONG WideToDecimalClamped(const char16_t* s, std::size_t n, LONGLONG lo, LONGLONG hi) {
  if (s == nullptr) return 0;
  std::size_t i = 0;
  while (i < n && IsNumberSpace(s[i])) ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  const ULONGLONG limit = negative ? 0 - static_cast<ULONGLONG>(lo) : static_cast<ULONGLONG>(hi);
  bool any;
  const ULONGLONG mag = ReadMagnitude(s, n, i, 10, limit, any);
  if (!negative) return static_cast<LONGLONG>(mag);
  return mag == 0 ? 0 : -static_cast<LONGLONG>(mag - 1) - 1;
}

int _wtoi(const char16_t* s) { return static_cast<int>(WideToDecimalClamped(s, kToTerminator, INT32_MIN, INT32_MAX)); }

LONG _wtol(const char16_t* s) {
  return static_cast<LONG>(WideToDecimalClamped(s, kToTerminator, INT32_MIN, INT32_MAX));
}

LONGLONG _wtoi64(const char16_t* s) { return WideToDecimalClamped(s, kToTerminator, INT64_MIN, INT64_MAX); }

LONG wcstol(const char16_t* s, char16_t** end, int base) {
  if (end != nullptr) *end = const_cast<char16_t*>(s);
  if (s == nullptr || base < 0 || base == 1 || base > 36) return 0;
  std::size_t i = 0;
  while (IsNumberSpace(s[i])) ++i;
  bool negative = false;
  if (s[i] == u'+' || s[i] == u'-') {
    negative = s[i] == u'-';
    ++i;
  }
  // "0x" counts as a prefix only when a hex digit follows; otherwise the
  // "0" alone is the number and reading stops at the "x".
  if ((base == 0 || base == 16) && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X') &&
      DigitValue(s[i + 2]) < 16) {
    i += 2;
    base = 16;
  } else if (base == 0) {
    base = s[i] == u'0' ? 8 : 10;
  }
  const ULONGLONG maxPos = static_cast<ULONGLONG>(std::numeric_limits<LONG>::max());
  const ULONGLONG limit = negative ? maxPos + 1 : maxPos;
  bool any;
  const ULONGLONG mag = ReadMagnitude(s, kToTerminator, i, static_cast<unsigned>(base), limit, any);
  if (!any) return 0;  // *end stays at the very start
  if (end != nullptr) *end = const_cast<char16_t*>(s + i);
  if (!negative) return static_cast<LONG>(mag);
  return mag == maxPos + 1 ? std::numeric_limits<LONG>::min() : static_cast<LONG>(-static_cast<LONG>(mag));
}

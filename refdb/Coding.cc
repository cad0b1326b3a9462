// File: Coding.cc
//
// Texts in the byte coding of the row store.
#include "refdb/RefDatabaseImpl.h"

namespace refdb {
namespace {
constexpr DWORD kNullText = 0xFFFFFFFFu;
}

void ByteWriter::Text(const OLECHAR* text, std::size_t units) {
  if (text == nullptr) {
    U32(kNullText);
    return;
  }
  U32(static_cast<DWORD>(units));
  Raw(text, units * sizeof(OLECHAR));
}

std::u16string ByteReader::Text(bool* isNull) {
  const DWORD units = U32();
  if (isNull) *isNull = units == kNullText;
  if (units == kNullText || !m_ok) return std::u16string();
  if (units > Remaining() / 2) {
    m_ok = false;
    return std::u16string();
  }
  std::u16string s(units, u'\0');
  Raw(&s[0], units * sizeof(OLECHAR));
  return s;
}

bool ByteReader::Bstr(BSTR* out) {
  *out = nullptr;
  const DWORD units = U32();
  if (!m_ok) return false;
  if (units == kNullText) return true;
  if (units > Remaining() / 2) {
    m_ok = false;
    return false;
  }
  BSTR b = SysAllocStringLen(nullptr, units);
  if (b == nullptr) return false;
  Raw(b, units * sizeof(OLECHAR));
  *out = b;
  return true;
}

void ByteReader::SkipText() {
  const DWORD units = U32();
  if (units == kNullText || !m_ok) return;
  if (units > Remaining() / 2) {
    m_ok = false;
    return;
  }
  m_pos += units * sizeof(OLECHAR);
}

}  // namespace refdb

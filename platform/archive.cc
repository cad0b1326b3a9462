// The framework archive encoding of counts and strings (little-endian).
#include "platform/kx9platform.h"

void CArchiveWriter::WriteWord(WORD v) {
  m_buf.push_back(static_cast<BYTE>(v));
  m_buf.push_back(static_cast<BYTE>(v >> 8));
}

void CArchiveWriter::WriteDWord(DWORD v) {
  WriteWord(static_cast<WORD>(v));
  WriteWord(static_cast<WORD>(v >> 16));
}

void CArchiveWriter::WriteCount(DWORD n) {
  if (n < 0xFFFF) {
    WriteWord(static_cast<WORD>(n));
  } else {
    WriteWord(0xFFFF);
    WriteDWord(n);
  }
}

void CArchiveWriter::WriteString(const CString& s) {
  const std::u16string_view text = s.View();
  const std::size_t n = text.size();
  WriteByte(0xFF);  // Unicode tag
  WriteWord(0xFFFE);
  if (n < 0xFF) {
    WriteByte(static_cast<BYTE>(n));
  } else {
    WriteByte(0xFF);
    if (n < 0xFFFE) {
      WriteWord(static_cast<WORD>(n));
    } else {
      WriteWord(0xFFFF);
      WriteDWord(static_cast<DWORD>(n));
    }
  }
  const std::size_t at = m_buf.size();
  m_buf.resize(at + n * 2);
  BYTE* d = m_buf.data() + at;
  for (std::size_t i = 0; i < n; ++i) {
    d[2 * i] = static_cast<BYTE>(text[i]);
    d[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
}

void CArchiveWriter::WriteBytes(const void* p, std::size_t n) {
  if (n == 0) return;
  const auto* b = static_cast<const BYTE*>(p);
  m_buf.insert(m_buf.end(), b, b + n);
}

BYTE CArchiveReader::ReadByte() {
  Need(1);
  return m_p[m_pos++];
}

WORD CArchiveReader::ReadWord() {
  Need(2);
  const WORD v = static_cast<WORD>(m_p[m_pos] | (m_p[m_pos + 1] << 8));
  m_pos += 2;
  return v;
}

DWORD CArchiveReader::ReadDWord() {
  Need(4);
  const DWORD v = static_cast<DWORD>(m_p[m_pos]) | (static_cast<DWORD>(m_p[m_pos + 1]) << 8) |
                  (static_cast<DWORD>(m_p[m_pos + 2]) << 16) | (static_cast<DWORD>(m_p[m_pos + 3]) << 24);
  m_pos += 4;
  return v;
}

DWORD CArchiveReader::ReadCount() {
  const WORD w = ReadWord();
  return w != 0xFFFF ? w : ReadDWord();
}

CString CArchiveReader::ReadString() {
  // Length prefix: a byte; 0xFF then a word; 0xFFFF then a dword, the
  // widest form (no 64-bit length exists in this encoding). The word 0xFFFE
  // right after the first 0xFF byte is the Unicode tag, followed by a length
  // of its own.
  bool wide = false;
  ULONGLONG n = ReadByte();
  if (n == 0xFF) {
    WORD w = ReadWord();
    if (w == 0xFFFE) {
      wide = true;
      n = ReadByte();
      if (n == 0xFF) w = ReadWord();
    }
    if (n == 0xFF) {
      n = w;
      if (w == 0xFFFF) n = ReadDWord();
    }
  }
  // Checked before anything is allocated: a claimed length can never make
  // the reader reserve more than the bytes that remain.
  const std::size_t unit = wide ? 2 : 1;
  if (n > Remaining() / unit) throw CArchiveException();
  const std::size_t count = static_cast<std::size_t>(n);
  const BYTE* src = m_p + m_pos;
  m_pos += count * unit;
  if (count == 0) return CString();
  std::u16string text;
  if (wide) {
    text.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      text[i] = static_cast<char16_t>(src[2 * i] | (src[2 * i + 1] << 8));
    }
  } else {
    AppendAnsiToWide(src, count, text);
  }
  return CString(std::move(text));
}

std::size_t CArchiveReader::ReadBytes(void* p, std::size_t n) {
  const std::size_t got = n < Remaining() ? n : Remaining();
  if (got != 0) std::memcpy(p, m_p + m_pos, got);
  m_pos += got;
  return got;
}

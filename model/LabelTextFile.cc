// The label structure text file: the label lines in the thread's ANSI code
// page, one per file line, each ended by CR LF. It carries no system-label
// trailer and no system-label block.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/LabelLineCodec.h"

namespace {

using U16 = std::u16string;

constexpr char16_t kDefaultFileName[] = u"LabelStructure.txt";
constexpr std::size_t kWriteChunk = 1u << 20;
constexpr std::size_t kReadChunk = 1u << 20;

struct FileCloser {
  void operator()(std::FILE* fp) const { std::fclose(fp); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string FileName(const CString& strPath) {
  return ToUtf8(strPath.IsEmpty() ? std::u16string_view(kDefaultFileName) : strPath.View());
}

// Text mode output: every line feed byte is written as CR LF.
void AppendTextMode(std::string& out, const std::string& bytes) {
  for (std::size_t pos = 0;;) {
    const std::size_t lf = bytes.find('\n', pos);
    if (lf == std::string::npos) {
      out.append(bytes, pos, std::string::npos);
      return;
    }
    out.append(bytes, pos, lf - pos);
    out.append("\r\n");
    pos = lf + 1;
  }
}

}  // namespace

void CKX9ComFuncLabelStructure::WriteTextFile(LONG lCount, _STKX9LABELSTRUCTURE* pData, CString strPath) {
  // No data (a count below 1 or no array) converts to no line: no file.
  CStringArray arrLines;
  CGVLDataList lstSystemLabel;  // the file carries no system-label data
  if (ConvertStructDataToString(lCount, pData, arrLines, lstSystemLabel) <= 0) return;

  FilePtr file(std::fopen(FileName(strPath).c_str(), "wb"));
  if (!file) return;

  std::string out;
  std::string line;
  out.reserve(kWriteChunk + 4096);
  for (int i = 0; i < arrLines.GetSize(); ++i) {
    const std::u16string_view text = arrLines[i].View();
    line.clear();
    AppendWideToAnsi(text.data(), text.size(), line);
    line.push_back('\n');
    AppendTextMode(out, line);
    if (out.size() >= kWriteChunk) {
      std::fwrite(out.data(), 1, out.size(), file.get());
      out.clear();
    }
  }
  if (!out.empty()) std::fwrite(out.data(), 1, out.size(), file.get());
}

LONG CKX9ComFuncLabelStructure::ReadTextFile(CString strPath, _STKX9LABELSTRUCTURE* pData) {
  return ReadTextFile(std::move(strPath), pData, nullptr);
}

LONG CKX9ComFuncLabelStructure::ReadTextFile(CString strPath, _STKX9LABELSTRUCTURE* pData, KX9ReadDiagnostics* pDiag) {
  std::string content;
  {
    FilePtr file(std::fopen(FileName(strPath).c_str(), "rb"));
    if (!file) return 0;
    std::size_t got = 0;
    do {
      const std::size_t old = content.size();
      content.resize(old + kReadChunk);
      got = std::fread(&content[old], 1, kReadChunk, file.get());
      content.resize(old + got);
    } while (got == kReadChunk);
  }

  // Text mode input: CR LF reads as LF, lines end at LF, and a last line
  // without a line end is still a line.
  CStringArray arrLines;
  std::vector<LONGLONG> offsets;  // where each line starts, for the findings
  LONG lCount = 0;
  const std::size_t n = content.size();
  std::size_t pos = 0;
  U16 text;  // one line, reused
  while (pos < n) {
    const std::size_t lf = content.find('\n', pos);
    std::size_t end = lf == std::string::npos ? n : lf;
    if (lf != std::string::npos && end > pos && content[end - 1] == '\r') --end;

    text.clear();
    AppendAnsiToWide(reinterpret_cast<const BYTE*>(content.data()) + pos, end - pos, text);
    text.push_back(u',');
    CString strLine(text.data(), static_cast<int>(text.size()));
    strLine.TrimLeft();  // in place: the block is the line's own
    const std::u16string_view line = strLine.View();
    if (KX9HeaderDataType(line.data(), line.size() - 1) != 0) ++lCount;  // the line holds its appended comma
    arrLines.Add(std::move(strLine));
    if (pDiag) offsets.push_back(static_cast<LONGLONG>(pos));

    pos = lf == std::string::npos ? n : lf + 1;
  }

  if (pData != nullptr) {
    const CGVLDataList lstNoSystemLabels;
    ConvertStringToStructData(arrLines, lCount, pData, lstNoSystemLabels, pDiag, pDiag ? offsets.data() : nullptr);
  }
  return lCount;
}

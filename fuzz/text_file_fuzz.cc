// Arbitrary bytes as a label structure text file, read back with both
// passes the way the component's callers run them: count with no records,
// then fill that many default-constructed records.
//
// Input: one control byte, then the file's bytes.
//   bits 0-2  the thread's ANSI code page, an index (modulo their number)
//             into the supported pages of 1252, 932, 936, 949, 950
//   bit 3     mode 1 (without system labels) instead of 0
// The fill pass must report the count pass's number; the filled records are
// a non-empty prefix, each a GVL (14) or an SDT (18), and the records behind
// it stay as constructed. Leaks are left to the sanitizer's exit check.
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "fuzz/FuzzHarness.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Project p;
  static const struct TempFile {  // one per process, rewritten for every input
    std::string name = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/kx9_text_file_fuzz_" +
                       std::to_string(static_cast<long>(::getpid()));
    ~TempFile() { std::remove(name.c_str()); }
  } file;
  static const UINT pages[] = {1252, 932, 936, 949, 950};
  if (size < 1) return 0;
  Check(SetThreadAnsiCodePage(pages[(data[0] & 7) % 5]));
  p.labels.SetMode((data[0] & 8) ? C::KX9LabelModeWithoutSystemLabel : C::KX9LabelModeNormal);
  std::FILE* f = std::fopen(file.name.c_str(), "wb");
  Check(f != nullptr && std::fwrite(data + 1, 1, size - 1, f) == size - 1 && std::fclose(f) == 0);
  const CString path(FromUtf8(file.name));
  const LONG count = A::ReadText(p.labels, path, nullptr);
  Check(count >= 0);
  if (count == 0) return 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)]);
  Check(A::ReadText(p.labels, path, records.get()) == count);
  // The first header line always opens record 0; filling never skips one.
  for (LONG i = 0, open = 1; i < count; ++i) {
    const _STKX9LABELSTRUCTURE& r = records[static_cast<std::size_t>(i)];
    open = open && (r.dataType == KX9_DATATYPE_GVL || r.dataType == KX9_DATATYPE_SDT);
    Check(open || (i > 0 && r.dataType == 0 && r.name.Str().empty() && r.elements.GetSize() == 0));
  }
  return 0;
}

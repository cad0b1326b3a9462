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
#include <cstdlib>
#include <memory>
#include <string>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct FuzzTag;
}

template <>
struct KX9TestAccess<FuzzTag> {
  using C = CKX9ComFuncLabelStructure;
  static LONG Read(C& o, const CString& path, _STKX9LABELSTRUCTURE* d) { return o.ReadTextFile(path, d); }
};

namespace {

struct Fixture {
  refdb::RefDatabase db;
  CKX9ComFuncLabelStructure labels{db.Workspace()};
  // One file per process, rewritten for every input.
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/kx9_text_file_fuzz_" +
                     std::to_string(static_cast<long>(::getpid()));
  Fixture() { labels.Initialize(db.NewProject(u"Fuzz")); }
  ~Fixture() { std::remove(path.c_str()); }
};

bool Untouched(const _STKX9LABELSTRUCTURE& r) {
  return r.dataType == 0 && r.name.Str().empty() && r.elements.GetSize() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Fixture fx;
  static const UINT pages[] = {1252, 932, 936, 949, 950};
  if (size < 1) return 0;
  const BYTE control = data[0];
  using C = CKX9ComFuncLabelStructure;
  if (!SetThreadAnsiCodePage(pages[(control & 7) % 5])) std::abort();
  fx.labels.SetMode((control & 8) ? C::KX9LabelModeWithoutSystemLabel : C::KX9LabelModeNormal);
  std::FILE* f = std::fopen(fx.path.c_str(), "wb");
  if (f == nullptr || std::fwrite(data + 1, 1, size - 1, f) != size - 1 || std::fclose(f) != 0) std::abort();
  const CString path(FromUtf8(fx.path));

  using A = KX9TestAccess<FuzzTag>;
  const LONG count = A::Read(fx.labels, path, nullptr);
  if (count < 0) std::abort();
  if (count == 0) return 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)]);
  const LONG filled = A::Read(fx.labels, path, records.get());
  if (filled != count) std::abort();

  // The first header line always opens record 0; filling never skips one.
  bool open = true;
  for (LONG i = 0; i < count; ++i) {
    const _STKX9LABELSTRUCTURE& r = records[static_cast<std::size_t>(i)];
    if (open && (r.dataType == KX9_DATATYPE_GVL || r.dataType == KX9_DATATYPE_SDT)) continue;
    if (i == 0 || !Untouched(r)) std::abort();
    open = false;
  }
  return 0;
}

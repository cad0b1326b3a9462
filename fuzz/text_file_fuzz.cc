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
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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
  Fixture() { labels.Initialize(db.NewProject(u"Fuzz")); }
};

// One file per process, rewritten for every input and removed at exit.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/kx9_text_file_fuzz_XXXXXX";
    m_fd = mkstemp(&name[0]);
    if (m_fd < 0) std::abort();
    m_name = name;
  }
  ~TempFile() {
    close(m_fd);
    unlink(m_name.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Put(const BYTE* data, std::size_t size) {
    if (ftruncate(m_fd, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }
  CString Path() const { return CString(FromUtf8(m_name)); }

 private:
  int m_fd = -1;
  std::string m_name;
};

// The supported pages among those the platform documents, 1252 first.
std::vector<UINT> SupportedCodePages() {
  std::vector<UINT> pages;
  for (UINT cp : {1252u, 932u, 936u, 949u, 950u})
    if (IsSupportedCodePage(cp)) pages.push_back(cp);
  if (pages.empty() || pages[0] != 1252) std::abort();
  return pages;
}

// Puts the thread's code page back whatever the input chose.
class CodePageScope {
 public:
  explicit CodePageScope(UINT cp) : m_saved(GetThreadAnsiCodePage()) {
    if (!SetThreadAnsiCodePage(cp) || GetThreadAnsiCodePage() != cp) std::abort();
  }
  ~CodePageScope() { SetThreadAnsiCodePage(m_saved); }
  CodePageScope(const CodePageScope&) = delete;
  CodePageScope& operator=(const CodePageScope&) = delete;

 private:
  UINT m_saved;
};

bool Untouched(const _STKX9LABELSTRUCTURE& r) {
  return r.dataType == 0 && r.name.Str().empty() && r.elements.GetSize() == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Fixture* fx = new Fixture();
  static TempFile file;
  static const std::vector<UINT> pages = SupportedCodePages();
  if (size < 1) return 0;
  const BYTE control = data[0];
  ++data;
  --size;

  using C = CKX9ComFuncLabelStructure;
  CodePageScope codePage(pages[(control & 7) % pages.size()]);
  fx->labels.SetMode((control & 8) ? C::KX9LabelModeWithoutSystemLabel : C::KX9LabelModeNormal);
  file.Put(data, size);
  const CString path = file.Path();

  using A = KX9TestAccess<FuzzTag>;
  const LONG count = A::Read(fx->labels, path, nullptr);
  if (count < 0) std::abort();
  if (count == 0) return 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)]);
  const LONG filled = A::Read(fx->labels, path, records.get());
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

// Arbitrary bytes into the label image reader, both passes, the way an
// importer runs them.
//
// Input: one control byte, then the image.
//   bits 0-1  encoding: 0 code page 1252, 1 code page 932, 2 UTF-16 (series
//             1), 3 UTF-16 (series 2)
//   bit 2     mode 1 (without system labels) instead of 0
//   bit 3     append a trailer with a matching digest: the image is then
//             two length bytes (little-endian) n, n bytes of lines, and the
//             rest is taken as the system-label block, so the block decoder
//             is reached behind a digest check that random bytes never pass.
// The reader must never fail in the counting pass, and the filling pass must
// find the same number of data or fail with -1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct FuzzTag;
}

template <>
struct KX9TestAccess<FuzzTag> {
  using C = CKX9ComFuncLabelStructure;
  static LONG Read(C& o, const BYTE* p, LONG n, _STKX9LABELSTRUCTURE* d) { return o.ReadBinaryData(p, n, d); }
};

namespace {

struct Fixture {
  refdb::RefDatabase db;
  CKX9ComFuncLabelStructure labels{db.Workspace()};
  Fixture() { labels.Initialize(db.NewProject(u"Fuzz")); }
};

void AppendText(std::vector<BYTE>& out, const char* text, bool utf16) {
  for (const char* p = text; *p != 0; ++p) {
    out.push_back(static_cast<BYTE>(*p));
    if (utf16) out.push_back(0);
  }
}

std::vector<BYTE> WithTrailer(const BYTE* data, std::size_t size, bool utf16, int mode) {
  std::vector<BYTE> img;
  if (size < 2) return img;
  std::size_t n = data[0] | (static_cast<std::size_t>(data[1]) << 8);
  data += 2;
  size -= 2;
  if (n > size) n = size;
  img.assign(data, data + n);
  const BYTE* block = data + n;
  const std::size_t blockSize = size - n;

  char line[96];
  int len = std::snprintf(line, sizeof line, "SYSLBL,%zx,%d,", blockSize, mode);
  BYTE digest[16];
  if (blockSize != 0 && PlatformHash(CALG_MD5, block, blockSize, digest, sizeof digest)) {
    for (BYTE b : digest) len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%x", b);
  }
  AppendText(img, line, utf16);
  AppendText(img, "\n", utf16);
  img.insert(img.end(), block, block + blockSize);
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Fixture* fx = new Fixture();
  if (size < 1) return 0;
  const BYTE control = data[0];
  ++data;
  --size;

  using C = CKX9ComFuncLabelStructure;
  const int encoding = control & 3;
  const bool utf16 = encoding >= 2;
  const int mode = (control >> 2) & 1;
  SetThreadAnsiCodePage(encoding == 1 ? 932 : 1252);
  fx->labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(utf16 ? encoding - 1 : 0));
  fx->labels.SetMode(static_cast<C::KX9LabelMode>(mode));

  std::vector<BYTE> image;
  if (control & 8) {
    image = WithTrailer(data, size, utf16, mode);
  } else {
    image.assign(data, data + size);
  }
  // Exactly the input bytes, so the sanitizer sees any read past the image.
  std::unique_ptr<BYTE[]> exact(new BYTE[image.size()]);
  if (!image.empty()) std::memcpy(exact.get(), image.data(), image.size());
  const LONG length = static_cast<LONG>(image.size());

  using A = KX9TestAccess<FuzzTag>;
  const LONG count = A::Read(fx->labels, exact.get(), length, nullptr);
  if (count < 0) std::abort();
  if (count == 0) return 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)]);
  const LONG filled = A::Read(fx->labels, exact.get(), length, records.get());
  if (filled != count && filled != -1) std::abort();
  return 0;
}

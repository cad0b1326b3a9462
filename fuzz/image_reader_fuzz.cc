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
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzHarness.h"

using namespace fuzz;

// The lines, a trailer with the block's size, the mode and the block's digest
// (each byte "%x"), then the block.
static std::vector<BYTE> WithTrailer(const BYTE* data, std::size_t size, bool utf16, int mode) {
  if (size < 2) return {};
  const std::size_t n = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2), blockSize = size - 2 - n;
  const BYTE* block = data + 2 + n;
  char line[96];
  int len = std::snprintf(line, sizeof line, "SYSLBL,%zx,%d,", blockSize, mode);
  BYTE digest[16];
  if (blockSize != 0 && PlatformHash(CALG_MD5, block, blockSize, digest, sizeof digest))
    for (BYTE b : digest) len += std::snprintf(line + len, sizeof line - static_cast<std::size_t>(len), "%x", b);
  std::vector<BYTE> img(data + 2, block);
  for (char c : std::string(line) + "\n") {
    img.push_back(static_cast<BYTE>(c));
    if (utf16) img.push_back(0);
  }
  img.insert(img.end(), block, block + blockSize);
  return img;
}

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Project* p = new Project();
  if (size < 1) return 0;
  const int encoding = data[0] & 3, mode = (data[0] >> 2) & 1;
  const bool utf16 = encoding >= 2;
  SetThreadAnsiCodePage(encoding == 1 ? 932 : 1252);
  p->labels.SetCPUSeries(static_cast<C::KX9LabelCPUSeries>(utf16 ? encoding - 1 : 0));
  p->labels.SetMode(static_cast<C::KX9LabelMode>(mode));
  const std::vector<BYTE> image =
      (data[0] & 8) ? WithTrailer(data + 1, size - 1, utf16, mode) : std::vector<BYTE>(data + 1, data + size);
  // Exactly the image's bytes, so the sanitizer sees any read past them.
  const LONG length = static_cast<LONG>(image.size());
  std::unique_ptr<BYTE[]> exact(new BYTE[image.size()]);
  std::copy(image.begin(), image.end(), exact.get());
  const LONG count = A::ReadImage(p->labels, exact.get(), length, nullptr);
  Check(count >= 0);
  if (count == 0) return 0;
  std::unique_ptr<_STKX9LABELSTRUCTURE[]> records(new _STKX9LABELSTRUCTURE[static_cast<std::size_t>(count)]);
  const LONG filled = A::ReadImage(p->labels, exact.get(), length, records.get());
  Check(filled == count || filled == -1);
  return 0;
}

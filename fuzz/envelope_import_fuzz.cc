// Arbitrary bytes as an export envelope, imported into a fresh project on
// the classic path. The first byte chooses the image encoding (bit 0: UTF-16
// through series 2, else the ANSI code page), the code page (bit 1: 932,
// else 1252) and the mode (bit 2); the rest is the envelope. A successful
// import is exported again, so the writer sees whatever the reader let in.
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  using fuzz::C;
  if (size < 1 || size > (1u << 24)) return 0;
  SetThreadAnsiCodePage((data[0] & 2) ? 932 : 1252);
  fuzz::Project p;
  p.labels.SetCPUSeries((data[0] & 1) ? static_cast<C::KX9LabelCPUSeries>(2) : C::KX9LabelCPUSeriesStandard);
  p.labels.SetMode((data[0] & 4) ? C::KX9LabelModeWithoutSystemLabel : C::KX9LabelModeNormal);
  _STKX9AUTODEVSET settings{};
  if (p.labels.SetAllData(data + 1, static_cast<LONG>(size - 1), settings, static_cast<C::KX9LabelCPUSeries>(-1)) ==
      KX9_OK) {
    BYTE* out = nullptr;
    LONG outSize = 0;
    p.labels.GetAllData(&out, &outSize, settings);
    delete[] out;
  }
  C::CGVLDataArray collected;  // collected system labels are the host's to delete
  p.labels.GetDeleteSystemLabelInf(collected);
  for (int i = 0; i < collected.GetSize(); ++i) delete collected[i];
  return 0;
}

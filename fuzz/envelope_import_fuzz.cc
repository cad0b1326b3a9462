// Arbitrary bytes as an export envelope, imported into a fresh project on
// the classic path. The first byte chooses the image encoding (bit 0: UTF-16
// through series 2, else the ANSI code page), the code page (bit 1: 932,
// else 1252) and the mode (bit 2); the rest is the envelope. A successful
// import is exported again, so the writer sees whatever the reader let in.
#include <cstddef>
#include <cstdint>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > (1u << 24)) return 0;
  using C = CKX9ComFuncLabelStructure;
  const std::uint8_t control = data[0];
  SetThreadAnsiCodePage((control & 2) ? 932 : 1252);

  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"Fuzz");
  C labels(db.Workspace());
  labels.Initialize(project);
  labels.SetCPUSeries((control & 1) ? static_cast<C::KX9LabelCPUSeries>(2) : C::KX9LabelCPUSeriesStandard);
  labels.SetMode((control & 4) ? C::KX9LabelModeWithoutSystemLabel : C::KX9LabelModeNormal);

  _STKX9AUTODEVSET settings{};
  const ULONG result =
      labels.SetAllData(data + 1, static_cast<LONG>(size - 1), settings, static_cast<C::KX9LabelCPUSeries>(-1));
  if (result == KX9_OK) {
    BYTE* out = nullptr;
    LONG outSize = 0;
    labels.GetAllData(&out, &outSize, settings);
    delete[] out;
  }

  // Collected system labels are the host's to delete.
  C::CGVLDataArray collected;
  labels.GetDeleteSystemLabelInf(collected);
  for (int i = 0; i < collected.GetSize(); ++i) delete collected[i];
  return 0;
}

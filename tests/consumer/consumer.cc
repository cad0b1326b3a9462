// A host's first use of the installed component: an object over no
// workspace refuses to export with 5, and the high-capacity flag setter
// succeeds without one.
#include <cstdio>

#include "component/KX9ComFuncLabelStructure.h"

int main() {
  CKX9ComFuncLabelStructure labels(nullptr);
  BYTE* data = nullptr;
  LONG size = 0;
  const _STKX9AUTODEVSET settings{};
  const ULONG exported = labels.GetAllData(&data, &size, settings);
  labels.SetCPUSeries(CKX9ComFuncLabelStructure::KX9LabelCPUSeriesX);
  const ULONG flagged = labels.SetExternalEquipmentFlag(1);
  const CString name(u"Speed");
  std::printf("GetAllData %u, SetExternalEquipmentFlag %u, name length %d\n", exported, flagged, name.GetLength());
  return exported == KX9_ERR_NO_WORKSPACE && flagged == KX9_OK && data == nullptr && name.GetLength() == 5 ? 0 : 1;
}

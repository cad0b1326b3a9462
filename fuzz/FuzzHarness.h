// What the fuzzers share: the component on a fresh project of the reference
// database, the private readers and writers they drive, and the abort that
// reports a broken invariant.
#pragma once

#include <cstdlib>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace fuzz {
struct Tag;
}

template <>
struct KX9TestAccess<fuzz::Tag> {
  using C = CKX9ComFuncLabelStructure;
  static LONG ReadImage(C& o, const BYTE* p, LONG n, _STKX9LABELSTRUCTURE* d) { return o.ReadBinaryData(p, n, d); }
  static LONG ReadText(C& o, const CString& path, _STKX9LABELSTRUCTURE* d) { return o.ReadTextFile(path, d); }
  static ULONG WriteBlock(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG ReadBlock(C& o, const BYTE* p, LONG n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, n, 0, l);
  }
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG ClearGeneric(C& o) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, 0, nullptr); }
};

namespace fuzz {

using C = CKX9ComFuncLabelStructure;
using A = KX9TestAccess<Tag>;

struct Project {
  refdb::RefDatabase db;
  C labels{db.Workspace()};
  Project() { labels.Initialize(db.NewProject(u"Fuzz")); }
};

// libFuzzer reports the input that breaks an invariant.
inline void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace fuzz

// Arbitrary bytes as a system-label block, read the way the image reader
// reads the block behind its trailer: a block that ends early raises
// CArchiveException, which that caller catches, and the records read before
// it stay in the list for the caller to delete.
//
// Every input starts on a project without system-label generic data, so
// anything stored came from the block. Checked:
//   - the reader appends exactly the block's count of records, no more when
//     it throws (none without a whole count), and never writes the comment
//     or remark, which a block does not carry;
//   - a throw stores no generic data;
//   - the records read, written again with the generic data, read back to
//     the same eleven fields each without a throw, and writing those gives
//     the same bytes again.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct FuzzTag;
}

template <>
struct KX9TestAccess<FuzzTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG Serialize(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, LONG n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, n, 0, l);
  }
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG ClearGeneric(C& o) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, 0, nullptr); }
};

namespace {
using A = KX9TestAccess<FuzzTag>;
using C = CKX9ComFuncLabelStructure;

struct Fixture {
  refdb::RefDatabase db;
  C labels{db.Workspace()};
  Fixture() { labels.Initialize(db.NewProject(u"Fuzz")); }
};

// Owns the records the reader appends, also those before a throw.
struct OwnedList {
  C::CGVLDataList list;
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() {
    for (int i = 0; i < list.GetCount(); ++i) delete list.GetAtIndex(i);
  }
};

struct Block {
  std::unique_ptr<BYTE[]> bytes;
  LONG size = 0;
};

Block Serialize(C& labels, C::CGVLDataList& list) {
  Block b;
  BYTE* p = nullptr;
  if (A::Serialize(labels, list, &b.size, &p) != KX9_OK) std::abort();
  b.bytes.reset(p);
  if (p == nullptr || b.size < 6) std::abort();  // a count and a generic length at least
  return b;
}

Block StoredGeneric(C& labels) {
  Block b;
  BYTE* p = nullptr;
  if (A::GetGeneric(labels, &b.size, &p) != KX9_OK) std::abort();
  b.bytes.reset(p);
  if (b.size < 0 || (b.size > 0 && p == nullptr)) std::abort();
  return b;
}

bool SameBytes(const Block& a, const Block& b) {
  return a.size == b.size &&
         (a.size == 0 || std::memcmp(a.bytes.get(), b.bytes.get(), static_cast<std::size_t>(a.size)) == 0);
}

// The eleven fields a block carries, compared unit by unit.
bool SameLabel(const _STKX9SYSTEMLABELDATA& a, const _STKX9SYSTEMLABELDATA& b) {
  return a.name.Str() == b.name.Str() && a.programName.Str() == b.programName.Str() && a.attribute == b.attribute &&
         a.status == b.status && a.listID == b.listID && a.dataType == b.dataType && a.dataSize == b.dataSize &&
         a.ID == b.ID && a.CPUID == b.CPUID && a.projectID == b.projectID && a.localName.Str() == b.localName.Str();
}

bool NothingElseWritten(const _STKX9SYSTEMLABELDATA& s) { return s.comment.Str().empty() && s.remark.Str().empty(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Fixture* fx = new Fixture();
  if (size > (1u << 24)) return 0;
  C& labels = fx->labels;
  if (A::ClearGeneric(labels) != KX9_OK) std::abort();

  // The count as the block states it: 16-bit, or FFFF and 32-bit.
  bool counted = false;
  DWORD declared = 0;
  if (size >= 2) {
    declared = static_cast<DWORD>(data[0] | (data[1] << 8));
    counted = declared != 0xFFFF;
    if (!counted && size >= 6) {
      declared = static_cast<DWORD>(data[2]) | (static_cast<DWORD>(data[3]) << 8) |
                 (static_cast<DWORD>(data[4]) << 16) | (static_cast<DWORD>(data[5]) << 24);
      counted = true;
    }
  }

  OwnedList first;
  bool thrown = false;
  ULONG result = KX9_OK;
  try {
    result = A::Deserialize(labels, size != 0 ? data : nullptr, static_cast<LONG>(size), first.list);
  } catch (const CArchiveException&) {
    thrown = true;
  }
  const DWORD got = static_cast<DWORD>(first.list.GetCount());
  if (thrown) {
    // All records may be whole when the block ends inside the generic length.
    if (counted ? got > declared : got != 0) std::abort();
  } else {
    if (!counted || got != declared) std::abort();
    if (result != KX9_OK && result != KX9_ERR_ALLOC) std::abort();
  }
  for (DWORD i = 0; i < got; ++i) {
    const _STKX9LABELSTRUCTUREGVLDATA* r = first.list.GetAtIndex(static_cast<int>(i));
    if (r == nullptr || !NothingElseWritten(r->systemLabel)) std::abort();
  }

  const Block generic = StoredGeneric(labels);
  if (thrown && generic.size != 0) std::abort();
  if (result != KX9_OK) return 0;

  // Round trip of what was read, generic data included; after a throw too,
  // as the records kept then are whole.
  const Block once = Serialize(labels, first.list);
  OwnedList second;
  if (A::Deserialize(labels, once.bytes.get(), once.size, second.list) != KX9_OK) std::abort();
  if (static_cast<DWORD>(second.list.GetCount()) != got) std::abort();
  for (DWORD i = 0; i < got; ++i) {
    const _STKX9SYSTEMLABELDATA& a = first.list.GetAtIndex(static_cast<int>(i))->systemLabel;
    const _STKX9SYSTEMLABELDATA& b = second.list.GetAtIndex(static_cast<int>(i))->systemLabel;
    if (!SameLabel(a, b) || !NothingElseWritten(b)) std::abort();
  }
  if (!SameBytes(StoredGeneric(labels), generic)) std::abort();
  if (!SameBytes(Serialize(labels, second.list), once)) std::abort();
  return 0;
}

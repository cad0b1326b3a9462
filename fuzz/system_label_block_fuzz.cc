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
#include <memory>
#include <tuple>
#include <vector>

#include "fuzz/FuzzHarness.h"

using namespace fuzz;

namespace {

// Owns the records the reader appends, also those before a throw.
struct Records : C::CGVLDataList {
  ~Records() {
    for (int i = 0; i < GetCount(); ++i) delete GetAtIndex(i);
  }
  const _STKX9SYSTEMLABELDATA& Label(DWORD i) const { return GetAtIndex(static_cast<int>(i))->systemLabel; }
};

// The bytes a successful `call` handed over (new[]) through its arguments.
template <class Call>
std::vector<BYTE> Take(Call call) {
  BYTE* p = nullptr;
  LONG size = 0;
  const ULONG result = call(&size, &p);
  const std::unique_ptr<BYTE[]> owned(p);
  Check(result == KX9_OK && size >= 0 && (size == 0 || p != nullptr));
  return std::vector<BYTE>(p, p + size);
}

// A written block: a count and a generic length at least.
std::vector<BYTE> Serialize(C& labels, Records& list) {
  const std::vector<BYTE> block = Take([&](LONG* n, BYTE** p) { return A::WriteBlock(labels, list, n, p); });
  Check(block.size() >= 6);
  return block;
}

// The eleven fields a block carries, then the comment and remark it does not.
auto Fields(const _STKX9SYSTEMLABELDATA& s) {
  return std::make_tuple(s.ID, s.name.View(), s.programName.View(), s.CPUID, s.attribute, s.status, s.projectID,
                         s.listID, s.dataType, s.dataSize, s.localName.View(), s.comment.View(), s.remark.View());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const BYTE* data, std::size_t size) {
  static Project* project = new Project();
  if (size > (1u << 24)) return 0;
  C& labels = project->labels;
  Check(A::ClearGeneric(labels) == KX9_OK);
  // The count as the block states it: 16-bit, or FFFF and 32-bit.
  DWORD declared = size >= 2 ? static_cast<DWORD>(data[0] | (data[1] << 8)) : 0;
  const bool counted = size >= 2 && (declared != 0xFFFF || size >= 6);
  if (size >= 6 && declared == 0xFFFF)
    declared = data[2] | (data[3] << 8) | (data[4] << 16) | (static_cast<DWORD>(data[5]) << 24);

  Records first;
  bool thrown = false;
  ULONG result = KX9_OK;
  try {
    result = A::ReadBlock(labels, size != 0 ? data : nullptr, static_cast<LONG>(size), first);
  } catch (const CArchiveException&) {
    thrown = true;
  }
  const DWORD got = static_cast<DWORD>(first.GetCount());
  // All records may be whole when the block ends inside the generic length.
  Check(thrown ? (counted ? got <= declared : got == 0)
               : counted && got == declared && (result == KX9_OK || result == KX9_ERR_ALLOC));
  for (DWORD i = 0; i < got; ++i)
    Check(first.GetAtIndex(static_cast<int>(i)) && first.Label(i).comment.IsEmpty() && first.Label(i).remark.IsEmpty());
  auto storedGeneric = [&] { return Take([&](LONG* n, BYTE** p) { return A::GetGeneric(labels, n, p); }); };
  const std::vector<BYTE> generic = storedGeneric();
  Check(!thrown || generic.empty());
  if (result != KX9_OK) return 0;

  // Round trip of what was read, generic data included; after a throw too,
  // as the records kept then are whole.
  const std::vector<BYTE> once = Serialize(labels, first);
  Records second;
  Check(A::ReadBlock(labels, once.data(), static_cast<LONG>(once.size()), second) == KX9_OK);
  Check(static_cast<DWORD>(second.GetCount()) == got);
  for (DWORD i = 0; i < got; ++i) Check(Fields(first.Label(i)) == Fields(second.Label(i)));
  Check(storedGeneric() == generic && Serialize(labels, second) == once);
  return 0;
}

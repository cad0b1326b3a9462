// Destruction, the high-capacity flush, and the lookups for the host's
// device allocation: structured types by name, basic types' allocation data.
#include "component/KX9ComFuncLabelStructure.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <tuple>

#include "tests/support/LabelFixtures.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {
using namespace label_test;

// The destructor deletes the dynamic label records (skipping null entries),
// never the host's system labels nor the dynamic structures.
TEST(LifecycleTest, DestructorDeletesDynamicLabelsOnly) {
  static_assert(std::has_virtual_destructor<C>::value, "hosts delete through a class pointer");
  // Both on the stack: deleting either would abort the run.
  _STKX9LABELSTRUCTUREGVLDATA systemLabel;  // the host's
  _STKX9DYNAMICSTRUCTURE structure;         // freed by ReleaseDynamicLabelStruct only
  std::vector<_STKX9DYNAMICLABELDATA*> records;
  C* labels = new C(nullptr);
  A::Collected(*labels).Add(&systemLabel);
  A::Structs(*labels).SetAt(42, &structure);
  for (int i = 0; i < 8; ++i) {
    records.push_back(new _STKX9DYNAMICLABELDATA());
    records.back()->name = CString(u'D', 32 * 1024);  // large enough to see on the heap
    A::Labels(*labels).Add(records.back());
    A::Labels(*labels).Add(nullptr);
  }
#if defined(__SANITIZE_ADDRESS__)
  delete labels;
  for (auto* p : records) EXPECT_TRUE(__asan_address_is_poisoned(p));
#else
  const long long before = static_cast<long long>(mallinfo2().uordblks);
  delete labels;
  EXPECT_GE(before - static_cast<long long>(mallinfo2().uordblks), 8LL * 32 * 1024 * 2);
#endif
}

// The flush reaches the database on the X path only (series 1, no other
// value); any non-zero status, a missing interface or a missing workspace
// is 2.
TEST(LifecycleTest, FlashDataBase) {
  Project p;
  C orphan(nullptr);
  auto flashAs = [](C& c, LONG series) { return c.SetCPUSeries(static_cast<Series>(series)), A::Flash(c); };
  for (LONG series : {0, 2, -1}) EXPECT_EQ(flashAs(p.c, series), KX9_OK) << series;
  EXPECT_EQ(p.db.Faults().TotalCalls(), 0);
  EXPECT_EQ(flashAs(p.c, 1), KX9_OK);
  EXPECT_EQ(flashAs(orphan, 1), KX9_ERR_DB);
  for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "Storage.Flush"})
    for (HRESULT status : {E_FAIL, HRESULT{1}}) {
      p.db.Faults().Set(op, refdb::Fault{status, 1234});
      EXPECT_EQ(A::Flash(p.c), KX9_ERR_DB) << op << " " << status;
    }
  p.db.WithholdInterface(p.db.ChildOfType(p.id, VN_TYPE_GVL_COLLECTION_X), IVNDataABS_Storage::iid);
  EXPECT_EQ(A::Flash(p.c), KX9_ERR_DB);
  EXPECT_EQ(p.db.FlushCount(p.id), 1);
}

// Any non-zero nInByte gives the size in bytes (0 gives words, as the format
// tests' data-type table shows); a name without a row (case folds ASCII
// letters only) succeeds and leaves the caller's values.
TEST(LookupsTest, AllocationSizeInBytesAndUnknownTypes) {
  C labels(nullptr);  // needs no database
  // Name, nInByte, size and allocation type afterwards.
  const std::tuple<const char16_t*, int, WORD, BYTE> cases[] = {
      {u"DInt", -3, 4, 5},    {u"lreal", 1, 8, 7},           {u"REAL", 1, 0x1234, 0x56},
      {u"", 0, 0x1234, 0x56}, {u"BOOLEAN", 1, 0x1234, 0x56}, {u"\u0130NT", 0, 0x1234, 0x56}};
  for (const auto& [name, inByte, expectedSize, expectedAlloc] : cases) {
    WORD size = 0x1234;
    BYTE alloc = 0x56;
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(name, inByte, size, alloc), KX9_OK);
    EXPECT_TRUE(size == expectedSize && alloc == expectedAlloc) << ToUtf8(name) << ": " << size << " " << int{alloc};
  }
}

// Names match case-sensitively and in full, the first in list order wins,
// an unreadable name is passed over, the series picks the collection; a
// failure gives its code and a null ID.
TEST(LookupsTest, StructDataIDByExactNameFirstWins) {
  Project p;
  auto find = [&p](const char16_t* name, ULONG expected, const STOBJECTID& want, C* c = nullptr) {
    STOBJECTID id;
    std::memset(&id, 0xAB, sizeof id);
    EXPECT_EQ((c != nullptr ? c : &p.c)->GetStructDataID(name, id), expected) << ToUtf8(name);
    EXPECT_EQ(id, want) << ToUtf8(name);
  };
  const STOBJECTID null = STOBJECTID::Null();
  find(u"Motor", KX9_ERR_NO_STRUCT, null);  // no SDT at all
  fx::AddClassicSDT(p.db, p.id, u"Alpha");
  const STOBJECTID motor1 = fx::AddClassicSDT(p.db, p.id, u"Motor");
  const STOBJECTID motor2 = fx::AddClassicSDT(p.db, p.id, u"Motor");
  const STOBJECTID motorX = fx::AddSDTX(p.db, p.id, u"Motor");
  find(u"Motor", KX9_OK, motor1);
  for (const char16_t* near : {u"motor", u"Moto", u"Motor ", u""}) find(near, KX9_ERR_NO_STRUCT, null);
  p.db.Faults().Set("Workspace.GetObjectName", refdb::Fault{E_FAIL, 1, 2, 1});  // unreadable: passed over
  find(u"Motor", KX9_OK, motor2);
  p.c.SetCPUSeries(kX);
  find(u"Motor", KX9_OK, motorX);

  p.db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{E_FAIL, 77});
  find(u"Motor", KX9_ERR_DB, null);
  for (int nth : {1, 2}) {
    p.db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{1, 77, nth, 1});
    find(u"Motor", KX9_ERR_DB, null);
  }
  C orphan(nullptr);
  find(u"Motor", KX9_ERR_NO_WORKSPACE, null, &orphan);
}
}  // namespace

// The system-label block and its digest text, the project's generic data,
// and the collection of system labels, against the reference database.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct SystemLabelTag;
}

template <>
struct KX9TestAccess<SystemLabelTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG Serialize(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, std::size_t n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, static_cast<LONG>(n), 0, l);
  }
  static int MD5(C& o, const BYTE* p, ULONG n, CString& s) { return o.CalcMD5Hash(p, n, s); }
  static int Hash(C& o, const BYTE* p, ULONG n, BYTE* out, ULONG alg) { return o.CalcHash(p, n, out, 16, alg); }
  static ULONG GetGeneric(C& o, LONG* n, BYTE** p) { return o.GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG SetGeneric(C& o, LONG n, const BYTE* p) { return o.SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, n, p); }
  static ULONG ListLabels(C& o, STOBJECTID id) { return o.GetSystemLabelData(id); }
  static ULONG CollectOne(C& o, STOBJECTID id) { return o._getSystemLabelInf(id); }
  static C::KX9LabelMode Mode(C& o) { return o.m_eMode; }
};

namespace {
using A = KX9TestAccess<SystemLabelTag>;
using C = CKX9ComFuncLabelStructure;
using Bytes = std::vector<BYTE>;
using Names = std::vector<std::u16string>;
namespace fx = refdb_fixtures;

// Owns the records of a list for the length of a test.
struct OwnedList {
  C::CGVLDataList list;
  ~OwnedList() {
    for (int i = 0; i < list.GetCount(); ++i) delete list.GetAtIndex(i);
  }
  _STKX9SYSTEMLABELDATA& Add() {
    list.AddTail(new _STKX9LABELSTRUCTUREGVLDATA());
    return list.GetTail()->systemLabel;
  }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kEmptyString = {0xFF, 0xFE, 0xFF, 0x00};
// A record at construction values: two strings, the numbers, localName.
const Bytes kEmptyRecord = Cat({kEmptyString, kEmptyString, Bytes(28, 0x00), kEmptyString});

struct SystemLabelTest : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrsAtStart = PlatformLiveBstrCount();

  void SetUp() override { labels.Initialize(project); }
  void TearDown() override {
    C::CGVLDataArray all;  // the collected records are ours once handed out
    labels.GetDeleteSystemLabelInf(all);
    for (int i = 0; i < all.GetSize(); ++i) delete all[i];
    EXPECT_EQ(PlatformLiveBstrCount(), bstrsAtStart);
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  Bytes Serialize(C::CGVLDataList& list) {
    LONG n = -1;
    BYTE* p = nullptr;
    EXPECT_EQ(A::Serialize(labels, list, &n, &p), KX9_OK);
    std::unique_ptr<BYTE[]> owned(p);
    return Bytes(p, p + n);
  }
  void SetGeneric(const Bytes& b) {
    ASSERT_EQ(A::SetGeneric(labels, static_cast<LONG>(b.size()), b.data()), KX9_OK);
    db.Faults().ResetCounts();
  }
  Bytes StoredGeneric() {
    LONG n = 0;
    BYTE* p = nullptr;
    EXPECT_EQ(A::GetGeneric(labels, &n, &p), KX9_OK);
    std::unique_ptr<BYTE[]> owned(p);
    return n > 0 ? Bytes(p, p + n) : Bytes();
  }
  STOBJECTID Variable(STOBJECTID gvl, const std::u16string& name, LONG status) {
    fx::VariableSpec desc;
    desc.name = name, desc.systemLabel.status = status;
    return fx::AddClassicVariable(db, gvl, desc);
  }
  // Reads a block from an exact-size copy, so that the address sanitizer
  // catches any read past it: whether it threw, and the records it read.
  std::pair<bool, int> Deserialize(const Bytes& b) {
    std::unique_ptr<BYTE[]> copy(new BYTE[b.size()]);
    std::copy(b.begin(), b.end(), copy.get());
    OwnedList back;
    try {
      EXPECT_EQ(A::Deserialize(labels, copy.get(), b.size(), back.list), KX9_OK);
      return {false, back.list.GetCount()};
    } catch (const CArchiveException&) {
      return {true, back.list.GetCount()};
    }
  }
  Names Collected() {  // hands the records out again, without giving them up
    C::CGVLDataArray arr;
    labels.GetDeleteSystemLabelInf(arr);
    Names names;
    for (int i = 0; i < arr.GetSize(); ++i) names.push_back(arr[i]->name.Str());
    return names;
  }
};

// Records head to tail in archive form, fields in their own order, comment
// and remark left out, then the generic data; reading the block back and
// writing it again gives the same bytes.
TEST_F(SystemLabelTest, SerializesByteExactAndReadsBack) {
  SetGeneric({1, 2, 3, 4, 5});
  OwnedList src, back;
  _STKX9SYSTEMLABELDATA& s = src.Add();
  s.name = u"N", s.programName = u"PQ", s.attribute = 0x1234, s.status = 5, s.listID = 0x01020304;
  s.dataType = -2, s.dataSize = 0xABCD, s.ID = 7, s.CPUID = 8, s.projectID = 9, s.localName = u"L";
  s.comment = u"not written", s.remark = u"not written";
  src.Add();
  const Bytes block = Serialize(src.list);
  EXPECT_EQ(block, Cat({{0x02, 0x00, 0xFF, 0xFE, 0xFF, 0x01, 'N', 0, 0xFF, 0xFE, 0xFF, 0x02, 'P',  0,    'Q',  0, 0x34,
                         0x12, 5,    0,    0,    0,    4,    3,   2, 1,    0xFE, 0xFF, 0xFF, 0xFF, 0xCD, 0xAB, 7, 0,
                         0,    0,    8,    0,    0,    0,    9,   0, 0,    0,    0xFF, 0xFE, 0xFF, 0x01, 'L',  0},
                        kEmptyRecord,
                        {5, 0, 0, 0, 1, 2, 3, 4, 5}}));
  ASSERT_EQ(A::Deserialize(labels, block.data(), block.size(), back.list), KX9_OK);
  EXPECT_EQ(Serialize(back.list), block);
}

// When the generic data cannot be read the block claims no generic bytes; a
// failure without a detail code reads as success, with the unfilled bytes zero.
TEST_F(SystemLabelTest, GenericDataFailuresNeverClaimBytes) {
  SetGeneric({9, 9, 9, 9});
  OwnedList empty;
  const std::tuple<const char*, int, LONG, Bytes> cases[] = {
      // the failing call, its nth call, its detail
      {"GenericData.GetGenericData", 2, 0x55, {0, 0, 0, 0, 0, 0}},  // the bytes, after the length
      {"Workspace.GetChildIDByType", 1, 0x55, {0, 0, 0, 0, 0, 0}},
      {"Workspace.GetChildIDByType", 1, 0, {0, 0, 0, 0, 0, 0}},
      {"GenericData.GetGenericData", 2, 0, {0, 0, 4, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& [op, nth, detail, block] : cases) {
    db.Faults().Set(op, refdb::Fault{-1, detail, nth, 1});
    EXPECT_EQ(Serialize(empty.list), block) << op << " " << detail;
  }
}

// Damaged blocks: ending inside the count or a record throws with the records
// read so far kept; generic data that is empty, cut short or of a huge length
// is skipped and the stored one stays; huge counts and string lengths end at
// the block's end.
TEST_F(SystemLabelTest, DamagedBlocksThrowOrSkipTheGenericData) {
  SetGeneric({0xA, 0xB, 0xC});
  OwnedList src;
  for (int i = 0; i < 2; ++i) src.Add().name = CString(u'n', 300);
  const Bytes block = Serialize(src.list);
  const std::size_t genericStart = block.size() - 3, record = (genericStart - 4 - 2) / 2;
  for (std::size_t k = 0; k < block.size(); ++k) {
    const bool cut = k < genericStart;
    const int records = (k >= 2 + record) + (k >= 2 + 2 * record);
    EXPECT_EQ(Deserialize(Bytes(block.begin(), block.begin() + static_cast<long>(k))), std::make_pair(cut, records))
        << k;
  }

  const std::pair<Bytes, std::pair<bool, int>> cases[] = {
      // the block, whether it throws, the records read
      {Cat({{0x01, 0x00}, kEmptyRecord, {10, 0, 0, 0, 1, 2, 3, 4, 5, 6}}), {false, 1}},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {false, 0}},
      {{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}, {false, 0}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, {true, 0}},
      {{0x01, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0}, {true, 0}},
  };
  for (const auto& [block, result] : cases) EXPECT_EQ(Deserialize(block), result) << block.size();
  EXPECT_EQ(db.Faults().Calls("GenericData.SetGenericData"), 0);
  EXPECT_EQ(StoredGeneric(), (Bytes{0xA, 0xB, 0xC}));
}

// Each digest byte in lower-case hex without its leading zero; empty input
// gives an empty text and leaves the output alone, a failing service zeroes it.
TEST(SystemLabelDigest, Md5TextDropsLeadingZeros) {
  C labels(nullptr);
  CString text(u"stale");
  const BYTE abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(A::MD5(labels, abc, 3, text), 1);
  EXPECT_EQ(text, u"90150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(A::MD5(labels, abc, 0, text), 0);
  EXPECT_TRUE(text.IsEmpty());

  BYTE out[16] = {0xEE};
  EXPECT_EQ(A::Hash(labels, nullptr, 3, out, CALG_MD5), 0);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(A::Hash(labels, abc, 3, out, 0x1234), 0);
  EXPECT_EQ(std::count(out, out + 16, 0), 16);
}

// Reading and storing the blob, and each failing step's own result code: the
// database's detail as it stands (0 reads as success), 2 without the interface.
TEST_F(SystemLabelTest, GenericDataRoundTripAndFailureCodes) {
  LONG n = -1;
  BYTE* p = reinterpret_cast<BYTE*>(&n);  // untouched for an empty blob
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), KX9_OK);
  EXPECT_TRUE(n == 0 && p == reinterpret_cast<BYTE*>(&n));
  const BYTE blob[] = {1, 2, 3, 4, 5, 6};
  SetGeneric(Bytes(blob, blob + 6));
  EXPECT_EQ(StoredGeneric(), Bytes(blob, blob + 6));

  for (LONG detail : {77, 0}) {
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.GetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      p = nullptr;
      EXPECT_EQ(A::GetGeneric(labels, &n, &p), static_cast<ULONG>(detail)) << op;
      EXPECT_EQ(p, nullptr) << op;
    }
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.SetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      EXPECT_EQ(A::SetGeneric(labels, 6, blob), static_cast<ULONG>(detail)) << op;
    }
  }
  // The bytes fail after the length: the buffer is still the caller's.
  db.Faults().Set("GenericData.GetGenericData", refdb::Fault{-1, 80, 2, 1});
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), 80u);
  ASSERT_NE(p, nullptr);
  delete[] p;

  STOBJECTID gen{};
  LONG d = 0;
  db.Workspace()->GetChildIDByType(project, VN_TYPE_GENERIC_DATA, &gen, &d);
  db.WithholdInterface(gen, IVNDataABS_GenericData::iid);
  EXPECT_EQ(A::GetGeneric(labels, &n, &p), KX9_ERR_DB);
  EXPECT_EQ(A::SetGeneric(labels, 6, blob), KX9_ERR_DB);
}

// Only statuses 2, 3, 5, 6, 8, 10, 11, 13 and 14 are kept, from every list in
// order, whatever the mode (which stays); structures give none; each call appends.
TEST_F(SystemLabelTest, CollectsKeptStatusesOfEveryListInOrder) {
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);  // no lists yet
  EXPECT_TRUE(Collected().empty());
  const STOBJECTID g1 = fx::AddClassicGVL(db, project, u"G1"), g2 = fx::AddClassicGVL(db, project, u"G2");
  for (LONG status = -1; status <= 16; ++status) Variable(g1, FromUtf8(std::to_string(status)), status);
  Variable(g2, u"d", 0), Variable(g2, u"e", 2);
  const STOBJECTID sdt = fx::AddClassicSDT(db, project, u"S");
  fx::AddClassicMember(db, sdt, fx::MemberSpec{});

  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(A::ListLabels(labels, sdt), KX9_OK);
  EXPECT_TRUE(Collected().empty());
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  const Names once = {u"2", u"3", u"5", u"6", u"8", u"10", u"11", u"13", u"14", u"e"};
  EXPECT_EQ(Collected(), once);
  EXPECT_EQ(A::Mode(labels), C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  EXPECT_EQ(Collected().size(), 2 * once.size());
}

// A failing read of the walk stops it with what was collected so far; one of
// a list's variables is skipped; one read alone reports its code, keeps
// nothing and leaves the mode.
TEST_F(SystemLabelTest, FailuresStopTheWalkAndKeepWhatWasCollected) {
  const STOBJECTID g1 = fx::AddClassicGVL(db, project, u"G1"), g2 = fx::AddClassicGVL(db, project, u"G2");
  Variable(g1, u"a", 3), Variable(fx::AddClassicGVL(db, project, u"G3"), u"c", 3);
  const STOBJECTID b = Variable(g2, u"b", 3);
  C orphan(nullptr);
  EXPECT_EQ(orphan.GetAllSystemLabelData(), KX9_ERR_NO_WORKSPACE);
  db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetObjectType", refdb::Fault{-1, 0x4D2, 2, 1});  // the second list: not the third
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_ERR_DB);
  EXPECT_EQ(Collected(), Names{u"a"});

  db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{-1, 0x4D2, 1, 1});  // no variable collection
  EXPECT_EQ(A::ListLabels(labels, g2), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::ListLabels(labels, g2), KX9_ERR_DB);
  db.Faults().Set("Workspace.GetDataObject", refdb::Fault{-1, 0x4D2, 1, 1});
  EXPECT_EQ(A::ListLabels(labels, g2), KX9_OK);
  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  db.Faults().Set("Workspace.GetDataObject", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::CollectOne(labels, b), KX9_ERR_NO_ELEMENT);
  db.Faults().Set("Variable.GetExAccess", refdb::Fault{-1, 0, 1, 1});  // its last field
  EXPECT_EQ(A::CollectOne(labels, b), KX9_ERR_DB);
  EXPECT_EQ(A::Mode(labels), C::KX9LabelModeWithoutSystemLabel);
  EXPECT_EQ(Collected(), Names{u"a"});
}

// The high-capacity series collects from the rows of its lists only.
TEST_F(SystemLabelTest, HighCapacitySeriesCollectsFromRows) {
  fx::VariableRowSpec kept, dropped;
  kept.name = u"k", kept.systemLabel.status = 6;
  dropped.name = u"d", dropped.systemLabel.status = 7;
  fx::AddRowsX(db, fx::AddGVLX(db, project, u"GX"), {dropped, kept});
  Variable(fx::AddClassicGVL(db, project, u"G"), u"classic", 6);  // not on this path
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  EXPECT_EQ(Collected(), Names{u"k"});
}

}  // namespace

// The system-label block and its digest text, the project's generic data,
// and the collection of system labels, against the reference database.
#include <gtest/gtest.h>

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
  using L = C::CGVLDataList;
  static ULONG Serialize(C& o, L& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, LONG n, L& l) { return o.DeserializeSystemLabelData(p, n, 0, l); }
  static int MD5(C& o, const BYTE* p, ULONG n, CString& s) { return o.CalcMD5Hash(p, n, s); }
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
using Var = _STKX9LABELSTRUCTUREGVLDATA;
namespace fx = refdb_fixtures;

const Bytes kEmptyString = {0xFF, 0xFE, 0xFF, 0x00};

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
    EXPECT_TRUE(PlatformLiveBstrCount() == bstrsAtStart && db.OutstandingReferences() == 0) << "a leak";
  }
  // The block of the given records' system labels.
  Bytes Serialize(const std::vector<Var*>& records) {
    C::CGVLDataList list;
    for (Var* r : records) list.AddTail(r);
    LONG n = -1;
    BYTE* p = nullptr;
    EXPECT_EQ(A::Serialize(labels, list, &n, &p), KX9_OK);
    std::unique_ptr<BYTE[]> owned(p);
    return Bytes(p, p + n);
  }
  // Reads a block (an exact-size vector, so that the address sanitizer
  // catches any read past it): whether it threw, and the records it read;
  // `again` receives the block they make.
  std::pair<bool, int> Deserialize(const Bytes& b, Bytes* again = nullptr) {
    C::CGVLDataList back;
    bool threw = false;
    try {
      EXPECT_EQ(A::Deserialize(labels, b.data(), static_cast<LONG>(b.size()), back), KX9_OK);
    } catch (const CArchiveException&) {
      threw = true;
    }
    std::vector<Var*> read;
    for (int i = 0; i < back.GetCount(); ++i) read.push_back(back.GetAtIndex(i));
    if (again) *again = Serialize(read);
    for (Var* r : read) delete r;
    return {threw, static_cast<int>(read.size())};
  }
  void SetGeneric(const Bytes& b) {
    ASSERT_EQ(A::SetGeneric(labels, static_cast<LONG>(b.size()), b.data()), KX9_OK);
    db.Faults().ResetCounts();
  }
  STOBJECTID Variable(STOBJECTID gvl, const std::u16string& name, LONG status) {
    fx::VariableSpec desc;
    desc.name = name, desc.systemLabel.status = status;
    return fx::AddClassicVariable(db, gvl, desc);
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
// and remark left out, a null record at construction values; then the
// generic data. Reading the block back and writing it again gives the same
// bytes. Its digest text has each byte in lower-case hex without a leading
// zero; empty input gives an empty text.
TEST_F(SystemLabelTest, SerializesByteExactAndReadsBack) {
  SetGeneric({1, 2, 3, 4, 5});
  Var full;
  full.systemLabel = {7, u"N", u"PQ", 8, 0x1234, 5, 9, 0x01020304, u"not written", u"not written", -2, 0xABCD, u"L"};
  const Bytes block = Serialize({&full, nullptr});
  Bytes expected = {0x02, 0x00, 0xFF, 0xFE, 0xFF, 0x01, 'N', 0, 0xFF, 0xFE, 0xFF, 0x02, 'P',  0,    'Q',  0, 0x34,
                    0x12, 5,    0,    0,    0,    4,    3,   2, 1,    0xFE, 0xFF, 0xFF, 0xFF, 0xCD, 0xAB, 7, 0,
                    0,    0,    8,    0,    0,    0,    9,   0, 0,    0,    0xFF, 0xFE, 0xFF, 0x01, 'L',  0};
  for (const Bytes& part : {kEmptyString, kEmptyString, Bytes(28, 0), kEmptyString, Bytes{5, 0, 0, 0, 1, 2, 3, 4, 5}})
    expected.insert(expected.end(), part.begin(), part.end());
  EXPECT_EQ(block, expected);
  Bytes again;
  EXPECT_TRUE(Deserialize(block, &again) == std::make_pair(false, 2) && again == block);

  CString text(u"stale");
  const BYTE abc[] = {'a', 'b', 'c'};
  EXPECT_TRUE(A::MD5(labels, abc, 3, text) == 1 && text == u"90150983cd24fb0d6963f7d28e17f72") << ToUtf8(text.Str());
  EXPECT_TRUE(A::MD5(labels, abc, 0, text) == 0 && text.IsEmpty());
}

// Damaged blocks: ending inside the count or a record throws with the records
// read so far kept; generic data that is empty, cut short or of a huge length
// is skipped and the stored one stays; huge counts and string lengths end at
// the block's end.
TEST_F(SystemLabelTest, DamagedBlocksThrowOrSkipTheGenericData) {
  SetGeneric({0xA, 0xB, 0xC});
  Var named;
  named.systemLabel.name = CString(u'n', 300);
  const Bytes block = Serialize({&named, &named});
  const std::size_t genericStart = block.size() - 3, record = (genericStart - 4 - 2) / 2;
  for (std::size_t k = 0; k < block.size(); ++k) {
    const int records = (k >= 2 + record) + (k >= 2 + 2 * record);
    EXPECT_EQ(Deserialize(Bytes(block.begin(), block.begin() + static_cast<long>(k))),
              std::make_pair(k < genericStart, records))
        << k;
  }
  const Bytes record0 = Serialize({nullptr});  // one empty record, the generic data
  const std::pair<Bytes, std::pair<bool, int>> cases[] = {
      // the block, whether it throws, the records read
      {Bytes(record0.begin(), record0.end() - 3), {false, 1}},  // 3 bytes announced, none there
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {false, 0}},
      {{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}, {false, 0}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, {true, 0}},
      {{0x01, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0}, {true, 0}},
  };
  for (const auto& [b, result] : cases) EXPECT_EQ(Deserialize(b), result) << b.size();
  EXPECT_EQ(db.Faults().Calls("GenericData.SetGenericData"), 0);
  EXPECT_EQ(Serialize({}), (Bytes{0, 0, 3, 0, 0, 0, 0xA, 0xB, 0xC}));
}

// Reading and storing the blob, and each failing step's own result code: the
// database's detail as it stands (0 reads as success), 2 without the
// interface. When the bytes fail after the length the buffer is the caller's,
// zero where unfilled, and a block claims them only without a detail code.
TEST_F(SystemLabelTest, GenericDataRoundTripAndFailureCodes) {
  LONG n = -1;
  BYTE* p = reinterpret_cast<BYTE*>(&n);  // untouched for an empty blob
  EXPECT_TRUE(A::GetGeneric(labels, &n, &p) == KX9_OK && n == 0 && p == reinterpret_cast<BYTE*>(&n));
  const Bytes blob = {1, 2, 3, 4, 5, 6};
  SetGeneric(blob);
  EXPECT_EQ(Serialize({}), (Bytes{0, 0, 6, 0, 0, 0, 1, 2, 3, 4, 5, 6}));

  for (LONG detail : {77, 0}) {
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.GetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      p = nullptr;
      EXPECT_TRUE(A::GetGeneric(labels, &n, &p) == static_cast<ULONG>(detail) && p == nullptr) << op;
    }
    for (const char* op : {"Workspace.GetChildIDByType", "Workspace.GetDataObject", "GenericData.SetGenericData"}) {
      db.Faults().Set(op, refdb::Fault{-1, detail, 1, 1});
      EXPECT_EQ(A::SetGeneric(labels, 6, blob.data()), static_cast<ULONG>(detail)) << op;
    }
  }
  for (LONG detail : {80, 0}) {
    db.Faults().Set("GenericData.GetGenericData", refdb::Fault{-1, detail, 2, 1});
    EXPECT_EQ(A::GetGeneric(labels, &n, &p), static_cast<ULONG>(detail));
    std::unique_ptr<BYTE[]> owned(p);
    EXPECT_EQ(Bytes(p, p + n), Bytes(6, 0));
    db.Faults().Set("GenericData.GetGenericData", refdb::Fault{-1, detail, 2, 1});
    EXPECT_EQ(Serialize({}), detail ? Bytes(6, 0) : (Bytes{0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  }

  db.WithholdInterface(db.ChildOfType(project, VN_TYPE_GENERIC_DATA), IVNDataABS_GenericData::iid);
  EXPECT_TRUE(A::GetGeneric(labels, &n, &p) == KX9_ERR_DB && A::SetGeneric(labels, 6, blob.data()) == KX9_ERR_DB);
}

// Only statuses 2, 3, 5, 6, 8, 10, 11, 13 and 14 are kept, from every list in
// order, whatever the mode (which stays); structures give none; each call
// appends. A failing read of the walk stops it with what was collected so
// far; a variable that cannot be read is skipped; one read alone reports its
// code and keeps nothing. The high-capacity series collects from the rows of
// its lists only.
TEST_F(SystemLabelTest, CollectsKeptStatusesOfEveryListInOrder) {
  EXPECT_EQ(C(nullptr).GetAllSystemLabelData(), KX9_ERR_NO_WORKSPACE);
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);  // no lists yet
  const STOBJECTID g1 = fx::AddClassicGVL(db, project, u"G1"), g2 = fx::AddClassicGVL(db, project, u"G2");
  for (LONG status = -1; status <= 16; ++status) Variable(g1, FromUtf8(std::to_string(status)), status);
  Variable(g2, u"d", 0);
  const STOBJECTID e = Variable(g2, u"e", 2), sdt = fx::AddClassicSDT(db, project, u"S");
  fx::AddClassicMember(db, sdt, fx::MemberSpec{});
  const Names kept = {u"2", u"3", u"5", u"6", u"8", u"10", u"11", u"13", u"14"};

  // The failing call, its nth call and detail; what it fails (the walk of
  // every list, of G2 alone, or the read of e alone) and the result.
  enum { kAll, kG2, kE };
  const std::tuple<const char*, int, LONG, int, ULONG> failures[] = {
      {"Workspace.GetChildIDByType", 1, 0x4D2, kAll, KX9_ERR_DB},
      {"Workspace.GetChildIDList", 1, 0x4D2, kAll, KX9_ERR_DB},
      {"Workspace.GetObjectType", 2, 0x4D2, kAll, KX9_ERR_DB},    // the second list stops the walk
      {"Workspace.GetChildIDByType", 1, 0x4D2, kG2, KX9_ERR_DB},  // no variable collection
      {"Workspace.GetChildIDList", 1, 0x4D2, kG2, KX9_ERR_DB},
      {"Workspace.GetDataObject", 2, 0x4D2, kG2, KX9_OK},  // e is skipped
      {"Workspace.GetDataObject", 1, 0, kE, KX9_ERR_NO_ELEMENT},
      {"Variable.GetExAccess", 1, 0, kE, KX9_ERR_DB},  // its last field
  };
  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  for (const auto& [op, nth, detail, what, result] : failures) {
    db.Faults().Set(op, refdb::Fault{-1, detail, nth, 1});
    const ULONG got = what == kAll  ? labels.GetAllSystemLabelData()
                      : what == kG2 ? A::ListLabels(labels, g2)
                                    : A::CollectOne(labels, e);
    EXPECT_EQ(got, result) << op << " " << nth;
  }
  EXPECT_EQ(A::ListLabels(labels, sdt), KX9_OK);
  EXPECT_EQ(Collected(), kept);

  Names expected = kept;
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
    expected.insert(expected.end(), kept.begin(), kept.end());
    expected.push_back(u"e");
  }
  EXPECT_EQ(Collected(), expected);
  EXPECT_EQ(A::Mode(labels), C::KX9LabelModeWithoutSystemLabel);
  fx::VariableRowSpec row, dropped;
  row.name = u"k", row.systemLabel.status = 6;
  dropped.name = u"d", dropped.systemLabel.status = 7;
  fx::AddRowsX(db, fx::AddGVLX(db, project, u"GX"), {dropped, row});
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(labels.GetAllSystemLabelData(), KX9_OK);
  expected.push_back(u"k");
  EXPECT_EQ(Collected(), expected);
}

}  // namespace

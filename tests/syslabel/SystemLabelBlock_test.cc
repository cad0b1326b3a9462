// System-label block, digest text and the collection of one system label,
// against the reference database.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct BlockTag;
}

template <>
struct KX9TestAccess<BlockTag> {
  using C = CKX9ComFuncLabelStructure;
  static ULONG Serialize(C& o, C::CGVLDataList& l, LONG* n, BYTE** p) { return o.SerializeSystemLabelData(l, n, p); }
  static ULONG Deserialize(C& o, const BYTE* p, std::size_t n, C::CGVLDataList& l) {
    return o.DeserializeSystemLabelData(p, static_cast<LONG>(n), 0, l);
  }
  static int MD5(C& o, const BYTE* p, ULONG n, CString& s) { return o.CalcMD5Hash(p, n, s); }
  static int Hash(C& o, const BYTE* p, ULONG n, BYTE* out, ULONG alg) { return o.CalcHash(p, n, out, 16, alg); }
  static ULONG Collect(C& o, STOBJECTID id) { return o._getSystemLabelInf(id); }
  static C::KX9LabelMode Mode(C& o) { return o.m_eMode; }
  static C::CGVLDataArray& Collected(C& o) { return o.m_arrDeleteSystemLabel; }
};

namespace {
using A = KX9TestAccess<BlockTag>;
using C = CKX9ComFuncLabelStructure;
using Bytes = std::vector<BYTE>;
using Record = _STKX9LABELSTRUCTUREGVLDATA;

// Owns the records of a list for the length of a test.
struct OwnedList {
  C::CGVLDataList list;
  ~OwnedList() {
    for (int i = 0; i < list.GetCount(); ++i) delete list.GetAtIndex(i);
  }
  Record* Add() {
    list.AddTail(new Record());
    return list.GetTail();
  }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kEmptyString = {0xFF, 0xFE, 0xFF, 0x00};
const Bytes kZeroNumbers(28, 0x00);  // attribute .. projectID of a record with all numbers 0

struct BlockFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrsAtStart = PlatformLiveBstrCount();

  void SetUp() override { labels.Initialize(project); }
  void TearDown() override {
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
  ComPtr<IVNDataABS_GenericData> Generic() {
    IUnknown* obj = nullptr;
    LONG d = 0;
    STOBJECTID gen{};
    db.Workspace()->GetChildIDByType(project, VN_TYPE_GENERIC_DATA, &gen, &d);
    db.Workspace()->GetDataObject(gen, &obj, &d);
    ComPtr<IVNDataABS_GenericData> g;
    EXPECT_TRUE(QueryInterfaceTo(obj, g));
    return g;
  }
  void SetGeneric(const Bytes& b) {
    LONG d = 0;
    ASSERT_EQ(Generic()->SetGenericData(VN_GENERIC_SYSTEM_LABEL, static_cast<LONG>(b.size()), b.data(), &d), 0);
    db.Faults().ResetCounts();
  }
  Bytes StoredGeneric() {
    LONG d = 0, n = 0;
    Generic()->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &n, nullptr, &d);
    Bytes b(static_cast<std::size_t>(n));
    if (n > 0) Generic()->GetGenericData(VN_GENERIC_SYSTEM_LABEL, &n, b.data(), &d);
    return b;
  }
};

TEST_F(BlockFixture, SerializesByteExactInArchiveForm) {
  OwnedList one;
  one.Add();
  const Bytes block = Serialize(one.list);
  EXPECT_EQ(block.size(), 46u);
  EXPECT_EQ(block, Cat({{0x01, 0x00}, kEmptyString, kEmptyString, kZeroNumbers, kEmptyString, {0, 0, 0, 0}}));

  // Field order differs from the record's; comment and remark never travel.
  OwnedList full;
  _STKX9SYSTEMLABELDATA& s = full.Add()->systemLabel;
  s.name = u"N", s.programName = u"PQ", s.attribute = 0x1234, s.status = 5, s.listID = 0x01020304;
  s.dataType = -2, s.dataSize = 0xABCD, s.ID = 7, s.CPUID = 8, s.projectID = 9, s.localName = u"L";
  s.comment = u"not written", s.remark = u"not written";
  EXPECT_EQ(Serialize(full.list),
            (Bytes{0x01, 0x00, 0xFF, 0xFE, 0xFF, 0x01, 'N', 0, 0xFF, 0xFE, 0xFF, 0x02, 'P',  0,    'Q', 0, 0x34, 0x12,
                   5,    0,    0,    0,    4,    3,    2,   1, 0xFE, 0xFF, 0xFF, 0xFF, 0xCD, 0xAB, 7,   0, 0,    0,
                   8,    0,    0,    0,    9,    0,    0,   0, 0xFF, 0xFE, 0xFF, 0x01, 'L',  0,    0,   0, 0,    0}));
}

TEST_F(BlockFixture, LongStringsAndLargeCountsUseTheWideForms) {
  const std::pair<std::size_t, Bytes> cases[] = {{254, {0xFE}},
                                                 {255, {0xFF, 0xFF, 0x00}},
                                                 {0xFFFD, {0xFF, 0xFD, 0xFF}},
                                                 {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
                                                 {70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}}};
  for (const auto& [units, lengthBytes] : cases) {
    OwnedList one, back;
    one.Add()->systemLabel.name = CString(u'x', static_cast<int>(units));
    const Bytes block = Serialize(one.list);
    Bytes text;
    for (std::size_t i = 0; i < units; ++i) text.insert(text.end(), {'x', 0});
    EXPECT_EQ(block, Cat({{0x01, 0x00, 0xFF, 0xFE, 0xFF},
                          lengthBytes,
                          text,
                          kEmptyString,
                          kZeroNumbers,
                          kEmptyString,
                          {0, 0, 0, 0}}))
        << units;
    ASSERT_EQ(A::Deserialize(labels, block.data(), block.size(), back.list), KX9_OK);
    ASSERT_EQ(back.list.GetCount(), 1);
    EXPECT_EQ(back.list.GetHead()->systemLabel.name, one.list.GetHead()->systemLabel.name);
  }
  for (DWORD n : {0xFFFEu, 0xFFFFu}) {
    OwnedList many, back;
    for (DWORD i = 0; i < n; ++i) many.Add();
    const Bytes block = Serialize(many.list);
    const Bytes head = n == 0xFFFE ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), block.begin())) << n;
    EXPECT_EQ(block.size(), head.size() + n * 40u + 4u);
    ASSERT_EQ(A::Deserialize(labels, block.data(), block.size(), back.list), KX9_OK);
    EXPECT_EQ(back.list.GetCount(), static_cast<int>(n));
  }
}

TEST_F(BlockFixture, RoundTripCarriesGenericDataAndUntaggedText) {
  SetGeneric({1, 2, 3, 4, 5});
  OwnedList src, back, plain;
  for (LONG i = 0; i < 3; ++i) {
    _STKX9SYSTEMLABELDATA& s = src.Add()->systemLabel;
    s.name = CString(std::u16string(u"Name") + char16_t(u'0' + i)), s.localName = u"\u00e9\u4e2d";
    s.status = 10 + i, s.ID = -i;
  }
  const Bytes block = Serialize(src.list);
  EXPECT_EQ(Bytes(block.end() - 9, block.end()), (Bytes{5, 0, 0, 0, 1, 2, 3, 4, 5}));
  SetGeneric({});
  ASSERT_EQ(A::Deserialize(labels, block.data(), block.size(), back.list), KX9_OK);
  ASSERT_EQ(back.list.GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    const _STKX9SYSTEMLABELDATA &a = src.list.GetAtIndex(i)->systemLabel, &b = back.list.GetAtIndex(i)->systemLabel;
    EXPECT_TRUE(a.name == b.name && a.localName == b.localName && a.status == b.status && a.ID == b.ID) << i;
  }
  EXPECT_EQ(StoredGeneric(), (Bytes{1, 2, 3, 4, 5}));

  // The reader also takes strings without the Unicode tag (ANSI text).
  const Bytes ansi = Cat({{0x01, 0x00, 0x02, 'A', 'B', 0x00}, kZeroNumbers, {0x01, 'Z', 0, 0, 0, 0}});
  ASSERT_EQ(A::Deserialize(labels, ansi.data(), ansi.size(), plain.list), KX9_OK);
  ASSERT_EQ(plain.list.GetCount(), 1);
  EXPECT_TRUE(plain.list.GetHead()->systemLabel.name == u"AB" && plain.list.GetHead()->systemLabel.localName == u"Z");
}

TEST_F(BlockFixture, GenericDataFailuresNeverClaimBytes) {
  SetGeneric({9, 9, 9, 9});
  OwnedList empty, back;
  struct {
    const char* op;
    int nth;
    LONG detail;
    Bytes block;
  } const cases[] = {
      {"GenericData.GetGenericData", 2, 0x55, {0, 0, 0, 0, 0, 0}},  // the bytes, after the length
      {"Workspace.GetChildIDByType", 1, 0x55, {0, 0, 0, 0, 0, 0}},
      {"Workspace.GetChildIDByType", 1, 0, {0, 0, 0, 0, 0, 0}},
      // A failure without a detail code reads as success: the length stands,
      // with the bytes the database never filled in as zeros.
      {"GenericData.GetGenericData", 2, 0, {0, 0, 4, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    db.Faults().Set(c.op, refdb::Fault{-1, c.detail, c.nth, 1});
    EXPECT_EQ(Serialize(empty.list), c.block) << c.op << " " << c.detail;
  }

  // G = 10 with only 6 bytes behind it: records kept, nothing stored.
  SetGeneric({7});
  const Bytes cut =
      Cat({{0x01, 0x00}, kEmptyString, kEmptyString, kZeroNumbers, kEmptyString, {10, 0, 0, 0, 1, 2, 3, 4, 5, 6}});
  EXPECT_EQ(A::Deserialize(labels, cut.data(), cut.size(), back.list), KX9_OK);
  EXPECT_EQ(back.list.GetCount(), 1);
  EXPECT_EQ(db.Faults().Calls("GenericData.SetGenericData"), 0);
  EXPECT_EQ(StoredGeneric(), Bytes{7});
}

TEST_F(BlockFixture, TruncatedBlocksThrowOrSucceedWithinBounds) {
  SetGeneric({0xA, 0xB, 0xC});
  OwnedList src;
  for (int i = 0; i < 2; ++i) src.Add()->systemLabel.name = CString(u'n', 300);
  const Bytes block = Serialize(src.list);
  const std::size_t genericStart = block.size() - 3;
  for (std::size_t k = 0; k < block.size(); ++k) {
    // An exact-size copy lets the address sanitizer catch any read past k.
    std::unique_ptr<BYTE[]> prefix(new BYTE[k == 0 ? 1 : k]);
    std::copy(block.begin(), block.begin() + static_cast<long>(k), prefix.get());
    OwnedList back;
    bool thrown = false;
    try {
      EXPECT_EQ(A::Deserialize(labels, prefix.get(), k, back.list), KX9_OK);
    } catch (const CArchiveException&) {
      thrown = true;
    }
    EXPECT_EQ(thrown, k < genericStart) << k;
  }
  EXPECT_EQ(db.Faults().Calls("GenericData.SetGenericData"), 0);

  // Huge counts and string lengths end at the block's end; a huge generic
  // length is skipped.
  const Bytes hugeCount = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  const Bytes hugeString = {0x01, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0};
  const Bytes hugeGeneric = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2};
  OwnedList none;
  EXPECT_EQ(A::Deserialize(labels, hugeGeneric.data(), hugeGeneric.size(), none.list), KX9_OK);
  for (const Bytes& b : {hugeCount, hugeString})
    EXPECT_THROW(A::Deserialize(labels, b.data(), b.size(), none.list), CArchiveException);
  EXPECT_EQ(none.list.GetCount(), 0);
  EXPECT_EQ(db.Faults().Calls("GenericData.SetGenericData"), 0);
}

TEST(SystemLabelDigest, Md5TextDropsLeadingZeros) {
  C labels(nullptr);
  CString text(u"stale");
  const BYTE abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(A::MD5(labels, abc, 3, text), 1);
  EXPECT_EQ(text, u"90150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(A::MD5(labels, reinterpret_cast<const BYTE*>("message digest"), 14, text), 1);
  EXPECT_EQ(text, u"f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(A::MD5(labels, abc, 0, text), 0);
  EXPECT_TRUE(text.IsEmpty());

  BYTE out[16];
  std::fill(out, out + 16, 0xEE);
  EXPECT_EQ(A::Hash(labels, nullptr, 3, out, CALG_MD5), 0);
  EXPECT_EQ(out[0], 0xEE);  // empty input leaves the output alone
  EXPECT_EQ(A::Hash(labels, abc, 3, out, 0x1234), 0);
  EXPECT_EQ(std::count(out, out + 16, 0), 16);  // a failing service zeroes it
}

TEST_F(BlockFixture, CollectsKeptStatusesWhateverTheMode) {
  namespace fx = refdb_fixtures;
  const STOBJECTID gvl = fx::AddClassicGVL(db, project, u"G");
  labels.SetMode(C::KX9LabelModeWithoutSystemLabel);
  std::vector<LONG> kept;
  for (LONG status = -1; status <= 16; ++status) {
    fx::VariableSpec desc;
    desc.systemLabel.status = status, desc.systemLabel.id = status * 100;
    ASSERT_EQ(A::Collect(labels, fx::AddClassicVariable(db, gvl, desc)), KX9_OK);
    EXPECT_EQ(A::Mode(labels), C::KX9LabelModeWithoutSystemLabel);
    for (LONG k : {2, 3, 5, 6, 8, 10, 11, 13, 14})
      if (status == k) kept.push_back(status);
  }
  // An unreadable variable, or one whose last field fails, is not kept.
  fx::VariableSpec desc;
  desc.systemLabel.status = 5;
  const STOBJECTID failing = fx::AddClassicVariable(db, gvl, desc);
  db.Faults().Set("Workspace.GetDataObject", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::Collect(labels, failing), KX9_ERR_NO_ELEMENT);
  db.Faults().Set("Variable.GetExAccess", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::Collect(labels, failing), KX9_ERR_DB);
  EXPECT_EQ(A::Mode(labels), C::KX9LabelModeWithoutSystemLabel);

  C::CGVLDataArray& got = A::Collected(labels);
  ASSERT_EQ(got.GetSize(), static_cast<int>(kept.size()));
  for (int i = 0; i < got.GetSize(); ++i) {
    EXPECT_EQ(got[i]->systemLabel.status, kept[static_cast<std::size_t>(i)]);
    EXPECT_EQ(got[i]->systemLabel.ID, kept[static_cast<std::size_t>(i)] * 100);
    delete got[i];
  }
  got.RemoveAll();
}

}  // namespace

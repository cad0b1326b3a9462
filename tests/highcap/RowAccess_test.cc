// High-capacity row access against the reference database: row order across
// batches, what survives a write and a read, ownership and failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/RefdbFixtures.h"

namespace {
struct RowTag;
}

template <>
struct KX9TestAccess<RowTag> {
  using C = CKX9ComFuncLabelStructure;
  using Var = stVNGlobalVariableAndSystemLabelElementDataX;
  static ULONG Get(C& o, STOBJECTID id, C::CElementArray& a) { return o._getDataElementX(id, a); }
  static ULONG Delete(C& o, STOBJECTID id) { return o._deleteDataElementX(id); }
  static ULONG Create(C& o, STOBJECTID id, C::CElementArray& a) { return o._createDataElementX(id, a); }
  static ULONG CreateAll(C& o, LONG n, _STKX9LABELSTRUCTURE* d) { return o._createAllDataX(n, d); }
  static ULONG GetComment(C& o, const stVNVariableComment& c, _STKX9LABELSTRUCTUREBASEDATA& r) {
    return o._getCommentX(c, r);
  }
  static Var* NewVars(C& o, LONG n) { return o._createGlobalVariableAndSystemLabelElementDataX(n); }
  static void FreeVars(C& o, Var*& p, LONG n) { o._releaseGlobalVariableAndSystemLabelElementDataX(p, n); }
  static C::CGVLDataArray& Kept(C& o) { return o.m_arrDeleteSystemLabel; }
};

namespace {
using A = KX9TestAccess<RowTag>;
using C = CKX9ComFuncLabelStructure;
using Rec = _STKX9LABELSTRUCTUREGVLDATA;
namespace fx = refdb_fixtures;
const std::string kGvl = "HighCapacityGlobalVariable.";

std::string S(const CString& s) { return ToUtf8(s.Str()); }

struct Datum : _STKX9LABELSTRUCTURE {  // deletes its element records by kind
  explicit Datum(LONG type) { dataType = type; }
  Rec* V(int i) { return static_cast<Rec*>(elements[i]); }
};

Rec* NewRec(Datum& d, const std::string& name, const char16_t* type = u"INT", LONG structType = 0) {
  auto* v = new Rec;
  v->name = FromUtf8(name);
  v->dataTypeName = type;
  v->structType = structType;
  d.elements.Add(v);
  return v;
}
void AddDevice(Rec* v, const char16_t* device, const char16_t* extra) {
  v->devices.Add(_STKX9LABELSTRUCTUREGVLDEVICE{CString(device), CString(extra)});
}

struct RowFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  STOBJECTID gvl = fx::AddGVLX(db, project, u"G");
  C labels{db.Workspace()};
  long bstrs = PlatformLiveBstrCount(), blocks = PlatformLiveTaskMemCount();

  void SetUp() override {
    labels.Initialize(project);
    labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
    db.Faults().ResetCounts();
  }
  void TearDown() override {
    for (int i = 0; i < A::Kept(labels).GetSize(); ++i) delete A::Kept(labels)[i];  // the host's records
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs) << "a BSTR leaked";
    EXPECT_EQ(PlatformLiveTaskMemCount(), blocks) << "a task-memory block leaked";
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
  long Calls(const std::string& op) { return db.Faults().Calls(op); }
  void Fail(const std::string& op, int nth = 1, HRESULT status = -1) {
    db.Faults().Set(op, refdb::Fault{status, 0x77, nth, 1});
  }
};

TEST_F(RowFixture, WriteStoresEveryKindAndReadGivesItBack) {
  Datum in(VN_TYPE_GVL);
  Rec* v = NewRec(in, "Simple", u"DINT");
  v->lineNo = 7;
  v->initData = u"42";
  v->exAccess = u"1";
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) v->comments[i] = FromUtf8("c" + std::to_string(i));
  AddDevice(v, u"D100", u"X1");
  AddDevice(v, u"D200", u"X2");  // a simple variable stores only its first device
  _STARRAYSIZEINFO size;
  size.value1 = -3;
  size.value2 = 1LL << 40;
  v->arraySizes.Add(size);
  NewRec(in, "Bare");  // no device entry
  v = NewRec(in, "Struct", u"ST", 1);
  AddDevice(v, u"M0", u"E0");
  AddDevice(v, u"", u"E1");
  v = NewRec(in, "Dyn", u"ST", 2);  // dynamic attributes instead of devices
  v->dynamicAttr1 = u"a1";
  v->dynamicAttr3 = -9;
  v->dynamicAttr5 = u"-3";
  AddDevice(v, u"ignored", u"");
  v->exAccess = u"yes";
  NewRec(in, "Sys")->systemLabel = {11, u"SysName", u"Prog", 2, 0xABCD, 5, 3, 4, u"c", u"r", 6, 0xFEDC, u"Local"};
  NewRec(in, "NotSys")->systemLabel = {99, u"lost", u"", 1, 1, 0, 1, 1, u"", u"", 1, 1, u""};  // nothing written
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);

  const std::vector<fx::VariableRowSpec> rows = fx::ReadRowsX(db, gvl);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(std::vector<LONG>({rows[0].dataTypeCode, rows[1].dataTypeCode, rows[2].dataTypeCode}),
            std::vector<LONG>({3, 2, 9}));
  EXPECT_EQ(std::vector<LONG>({rows[0].exAccess, rows[3].exAccess}), std::vector<LONG>({1, 0}));
  EXPECT_EQ(rows[2].structTypeName + rows[3].structTypeName, u"STST");
  EXPECT_TRUE(rows[3].memberDevices.empty() && rows[3].device.empty());

  Datum out(VN_TYPE_GVL);
  ASSERT_EQ(A::Get(labels, gvl, out.elements), KX9_OK);
  ASSERT_EQ(out.elements.GetSize(), 6);
  Rec* r = out.V(0);
  EXPECT_EQ(r->lineNo, 7u);
  EXPECT_EQ(S(r->initData) + S(r->exAccess), "421");
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) EXPECT_EQ(S(r->comments[i]), "c" + std::to_string(i));
  ASSERT_EQ(r->devices.GetSize(), 1);
  EXPECT_EQ(S(r->devices[0].device) + S(r->devices[0].deviceExtra), "D100X1");
  ASSERT_EQ(r->arraySizes.GetSize(), 1);
  EXPECT_EQ(r->arraySizes[0].value1, -3);
  EXPECT_EQ(r->arraySizes[0].value2, 1LL << 40);
  ASSERT_EQ(out.V(1)->devices.GetSize(), 1);  // a simple type always reads one entry, here empty
  EXPECT_TRUE(out.V(1)->devices[0].device.IsEmpty() && out.V(1)->devices[0].deviceExtra.IsEmpty());
  ASSERT_EQ(out.V(2)->devices.GetSize(), 2);
  EXPECT_EQ(S(out.V(2)->devices[1].deviceExtra) + S(out.V(2)->exAccess), "E10");
  r = out.V(3);
  EXPECT_EQ(r->devices.GetSize(), 0);
  EXPECT_EQ(S(r->dynamicAttr1) + S(r->dynamicAttr5) + S(r->exAccess), "a1-30");
  EXPECT_EQ(r->dynamicAttr3, -9);
  const _STKX9SYSTEMLABELDATA& sys = out.V(4)->systemLabel;
  EXPECT_EQ(S(sys.name) + S(sys.programName) + S(sys.localName) + S(sys.comment), "SysNameProgLocal");
  EXPECT_EQ(std::vector<LONG>(
                {sys.ID, sys.CPUID, sys.attribute, sys.status, sys.projectID, sys.listID, sys.dataType, sys.dataSize}),
            std::vector<LONG>({11, 2, 0xABCD, 5, 3, 4, 6, 0xFEDC}));
  EXPECT_EQ(out.V(5)->systemLabel.ID + out.V(5)->systemLabel.name.GetLength(), 0);

  // Members: class keyword 8 and the case-sensitive type code.
  const STOBJECTID sdt = fx::AddSDTX(db, project, u"ST");
  Datum members(VN_TYPE_SDT);
  for (const char16_t* type : {u"BOOL", u"dint"}) {
    auto* m = new _STKX9LABELSTRUCTURESDTDATA;
    m->name = m->dataTypeName = m->initData = m->comments[2] = type;
    members.elements.Add(m);
  }
  ASSERT_EQ(A::Create(labels, sdt, members.elements), KX9_OK);
  const auto memberRows = fx::ReadMemberRowsX(db, sdt);
  ASSERT_EQ(memberRows.size(), 2u);
  EXPECT_EQ(memberRows[0].classKeyword * 1000 + memberRows[0].dataTypeCode, 8001);
  EXPECT_EQ(memberRows[1].classKeyword * 1000 + memberRows[1].dataTypeCode, 8100);
  Datum back(VN_TYPE_SDT);
  ASSERT_EQ(A::Get(labels, sdt, back.elements), KX9_OK);
  ASSERT_EQ(back.elements.GetSize(), 2);
  auto* m = static_cast<_STKX9LABELSTRUCTURESDTDATA*>(back.elements[1]);
  EXPECT_EQ(S(m->name) + S(m->dataTypeName) + S(m->initData) + S(m->comments[2]), "dintdintdintdint");
}

// Every text the writer puts into a row is a BSTR, empty ones included, so
// the database can tell an empty entry from a missing one; only the fields
// a kind of row does not carry stay null.
TEST_F(RowFixture, EmptyTextsTravelAsEmptyStringsNotNull) {
  const std::string dynamicAttrs = "dynamicAttr1 dynamicAttr2 dynamicAttr4 dynamicAttr5";
  const std::string sysTexts = "sysName sysProgramName sysLocalName";
  struct Case {
    const char* what;
    LONG structType;
    int devices;
    LONG status;
    std::string nullTexts;
  };
  const Case cases[] = {
      {"simple with an empty device", 0, 1, 0, "structTypeName " + dynamicAttrs + " " + sysTexts},
      {"simple without a device", 0, 0, 0, "device deviceExtra structTypeName " + dynamicAttrs + " " + sysTexts},
      {"structured with empty member devices", 1, 2, 0, "device deviceExtra " + dynamicAttrs + " " + sysTexts},
      {"dynamic", 2, 0, 0, "device deviceExtra " + sysTexts},
      {"system label with empty names", 0, 1, 5, "structTypeName " + dynamicAttrs},
  };
  Datum in(VN_TYPE_GVL);
  for (const Case& c : cases) {
    Rec* v = NewRec(in, "", u"", c.structType);
    for (int i = 0; i < c.devices; ++i) AddDevice(v, u"", u"");
    v->systemLabel.status = c.status;
  }
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);
  const std::vector<fx::VariableRowSpec> rows = fx::ReadRowsX(db, gvl);
  ASSERT_EQ(rows.size(), std::size(cases));
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].nullTexts, cases[i].nullTexts) << cases[i].what;

  const STOBJECTID sdt = fx::AddSDTX(db, project, u"ST");
  Datum members(VN_TYPE_SDT);
  members.elements.Add(new _STKX9LABELSTRUCTURESDTDATA);
  ASSERT_EQ(A::Create(labels, sdt, members.elements), KX9_OK);
  const auto memberRows = fx::ReadMemberRowsX(db, sdt);
  ASSERT_EQ(memberRows.size(), 1u);
  EXPECT_EQ(memberRows[0].nullTexts, "");
}

// 2,500 rows behind a gap in the row IDs come back in row order in batches
// of 1000, 1000 and 500, each with the sizes stored under its own row ID.
TEST_F(RowFixture, ReadKeepsRowOrderAndSizesAcrossBatchBorders) {
  std::vector<fx::VariableRowSpec> descs(2600);
  auto sized = [](int i) { return i % 7 == 0 || i == 999 || i == 1000 || i == 2599; };
  for (int i = 0; i < 2600; ++i) {
    descs[static_cast<size_t>(i)].name = FromUtf8("V" + std::to_string(i));
    if (sized(i)) descs[static_cast<size_t>(i)].arraySizes = {{i, i * 3LL}, {-i, 1}};
  }
  const std::vector<LONG> ids = fx::AddRowsX(db, gvl, descs);
  IUnknown* object = nullptr;
  LONG detail = 0;
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> table;
  ASSERT_EQ(db.Workspace()->GetDataObject(gvl, &object, &detail), S_OK);
  ASSERT_TRUE(QueryInterfaceTo(object, table));
  ASSERT_EQ(table->DeleteRows(100, ids.data() + 300, &detail), S_OK);  // variables 300..399
  table.Reset();

  db.Faults().ResetCounts();
  Datum out(VN_TYPE_GVL);
  ASSERT_EQ(A::Get(labels, gvl, out.elements), KX9_OK);
  EXPECT_EQ(Calls(kGvl + "GetRows"), 3);
  ASSERT_EQ(out.elements.GetSize(), 2500);
  long withSizes = 0;
  for (int k = 0; k < 2500; ++k) {
    const int i = k < 300 ? k : k + 100;
    Rec* v = out.V(k);
    ASSERT_EQ(S(v->name), "V" + std::to_string(i));
    ASSERT_EQ(v->arraySizes.GetSize(), sized(i) ? 2 : 0) << i;
    if (!sized(i)) continue;
    ++withSizes;
    EXPECT_EQ(v->arraySizes[0].value1, i);
    EXPECT_EQ(v->arraySizes[0].value2, i * 3LL);
    EXPECT_EQ(v->arraySizes[1].value1, -i);
  }
  EXPECT_EQ(Calls(kGvl + "GetArraySizes"), withSizes);

  Fail(kGvl + "GetRows", 3);  // the first two batches stay with the caller
  Datum partial(VN_TYPE_GVL);
  EXPECT_EQ(A::Get(labels, gvl, partial.elements), KX9_ERR_DB);
  EXPECT_EQ(partial.elements.GetSize(), 2000);
}

// The rows read are those GetRowCount announced, whatever count GetRowIDs
// reports beside the IDs.
TEST_F(RowFixture, RowIDCountOutputDoesNotShortenTheRead) {
  fx::AddRowsX(db, gvl, std::vector<fx::VariableRowSpec>(3));
  const STOBJECTID sdt = fx::AddSDTX(db, project, u"ST");
  fx::AddRowsX(db, sdt, std::vector<fx::MemberRowSpec>(3));
  for (LONG reported : {0, 1, 2, 4}) {
    db.SetReportedRowIDCount(reported);
    Datum vars(VN_TYPE_GVL), members(VN_TYPE_SDT);
    EXPECT_EQ(A::Get(labels, gvl, vars.elements), KX9_OK);
    EXPECT_EQ(A::Get(labels, sdt, members.elements), KX9_OK);
    EXPECT_EQ(vars.elements.GetSize(), 3) << reported;
    EXPECT_EQ(members.elements.GetSize(), 3) << reported;
  }
}

TEST_F(RowFixture, DeletionKeepsSystemLabelsOfTheListedStatuses) {
  std::vector<fx::VariableRowSpec> descs(16);
  for (LONG s = 0; s < 16; ++s) {
    descs[static_cast<size_t>(s)].name = FromUtf8("S" + std::to_string(s));
    descs[static_cast<size_t>(s)].systemLabel.status = s;
  }
  fx::AddRowsX(db, gvl, descs);
  Fail(kGvl + "DeleteRows");  // the labels were collected before
  EXPECT_EQ(A::Delete(labels, gvl), KX9_ERR_DB);
  EXPECT_EQ(fx::ReadRowsX(db, gvl).size(), 16u);
  std::string names;
  for (int i = 0; i < A::Kept(labels).GetSize(); ++i) names += S(A::Kept(labels)[i]->name) + " ";
  EXPECT_EQ(names, "S2 S3 S5 S6 S8 S10 S11 S13 S14 ");

  Fail(kGvl + "GetRows");  // collecting fails: nothing kept, the rows still go
  EXPECT_EQ(A::Delete(labels, gvl), KX9_OK);
  EXPECT_EQ(A::Kept(labels).GetSize(), 9);
  EXPECT_TRUE(fx::ReadRowsX(db, gvl).empty());
  EXPECT_TRUE(db.Exists(gvl));
}

TEST_F(RowFixture, FailuresReportTheirCodes) {
  std::vector<fx::VariableRowSpec> descs(3);
  for (auto& s : descs) s.arraySizes = {{1, 2}};
  fx::AddRowsX(db, gvl, descs);
  const struct {
    std::string op;
    HRESULT status;
    ULONG expected;
    int records;
  } reads[] = {
      {"Workspace.GetDataObject", -1, KX9_ERR_DB, 0},
      {"Workspace.GetObjectType", 5, KX9_ERR_DB, 0},
      {kGvl + "GetRowCount", -1, KX9_ERR_DB, 0},
      {kGvl + "GetRowIDs", -2, KX9_ERR_DB, 0},
      {kGvl + "GetArraySizeCount", -1, KX9_ERR_DB, 0},
      {kGvl + "GetArraySizes", -1, KX9_ERR_DB, 0},
      {kGvl + "GetRowCount", 1, KX9_OK, 0},  // a positive status is success here
  };
  for (const auto& c : reads) {
    Fail(c.op, 1, c.status);
    Datum out(VN_TYPE_GVL);
    EXPECT_EQ(A::Get(labels, gvl, out.elements), c.expected) << c.op;
    EXPECT_EQ(out.elements.GetSize(), c.records) << c.op;
  }
  Datum none(VN_TYPE_GVL);
  {
    AllocFailure fail(1, kAllocTaskMem);  // the first array-size buffer
    EXPECT_EQ(A::Get(labels, gvl, none.elements), KX9_ERR_ALLOC);
  }
  ASSERT_EQ(A::Delete(labels, gvl), KX9_OK);

  Datum in(VN_TYPE_GVL);
  for (int i = 0; i < 2500; ++i) NewRec(in, "V" + std::to_string(i));
  db.Faults().ResetCounts();
  EXPECT_EQ(A::Create(labels, gvl, none.elements), KX9_OK);  // nothing to write: no rows added
  Fail(kGvl + "AddRows");
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(Calls(kGvl + "AddRows") * 10 + Calls(kGvl + "SetRows"), 10);
  Fail(kGvl + "SetRows", 2);  // the rows stay added, the first batch written
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  auto rows = fx::ReadRowsX(db, gvl);
  ASSERT_EQ(rows.size(), 2500u);
  EXPECT_EQ(rows[999].name + u"|" + rows[1000].name, u"V999|");
  ASSERT_EQ(A::Delete(labels, gvl), KX9_OK);
  in.V(1500)->arraySizes.SetSize(1);
  db.Faults().ResetCounts();
  Fail(kGvl + "SetArraySizes");  // keeps its whole batch from being written
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(Calls(kGvl + "SetRows"), 1);

  // Task memory: 1 the comment entries, 2 and 3 the member device arrays.
  // Only the comment entries may fail without stopping the write.
  Datum one(VN_TYPE_GVL);
  AddDevice(NewRec(one, "V", u"ST", 1), u"D", u"E");
  for (int nth : {2, 3}) {
    AllocFailure fail(nth, kAllocTaskMem);
    EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_ERR_ALLOC) << nth;
  }
  {
    AllocFailure fail(1, kAllocTaskMem);
    EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_OK);
  }
  EXPECT_TRUE(fx::ReadRowsX(db, gvl).back().comments.empty());

  // Whole data: none, a type other than 14 or 18 after one created, a
  // failing flush.
  EXPECT_EQ(A::CreateAll(labels, 0, nullptr), KX9_OK);
  EXPECT_EQ(db.FlushCount(project), 0);
  _STKX9LABELSTRUCTURE data[2];
  data[0].dataType = VN_TYPE_GVL;
  data[0].name = u"L";
  data[1].dataType = VN_TYPE_GLOBAL_VARIABLE;
  EXPECT_EQ(A::CreateAll(labels, 2, data), KX9_ERR_TYPE);
  EXPECT_EQ(db.Children(db.ChildOfType(project, VN_TYPE_GVL_COLLECTION_X)).size(), 2u);
  EXPECT_EQ(A::CreateAll(labels, 1, data), KX9_OK);
  EXPECT_EQ(db.FlushCount(project), 1);
  for (const char* op : {"Workspace.GetChildIDByType", "Workspace.CreateDataObject", "Storage.Flush"}) {
    Fail(op, 1, 1);  // each fails on any non-zero status
    EXPECT_EQ(A::CreateAll(labels, 1, data), KX9_ERR_DB) << op;
  }
  const STOBJECTID sdt = fx::AddSDTX(db, project, u"ST");
  Fail("HighCapacityStructure.DeleteRows", 1, 1);  // only a negative status fails
  EXPECT_EQ(A::Delete(labels, sdt), KX9_OK);
  Fail("HighCapacityStructure.DeleteRows");
  EXPECT_EQ(A::Delete(labels, sdt), KX9_ERR_DB);
  db.WithholdInterface(gvl, IVNDataABS_HighCapacityGlobalVariable::iid);
  EXPECT_EQ(A::Get(labels, gvl, none.elements) + A::Delete(labels, gvl) + A::Create(labels, gvl, in.elements), 6u);
}

TEST_F(RowFixture, ReleaseFreesWhateverEitherSidePutInARow) {
  stVNVariableCommentItem items[3] = {{8, SysAllocString(u"k8")}, {9, SysAllocString(u"k9")}, {24, nullptr}};
  EXPECT_EQ(A::NewVars(labels, 0), nullptr);
  auto* vars = A::NewVars(labels, 2);
  ASSERT_NE(vars, nullptr);
  auto& v = vars[1];
  EXPECT_EQ(v.name, nullptr);
  v.comment.count = 3;
  v.comment.items = static_cast<stVNVariableCommentItem*>(CoTaskMemAlloc(sizeof items));
  std::memcpy(static_cast<void*>(v.comment.items), items, sizeof items);
  _STKX9LABELSTRUCTUREBASEDATA rec;
  EXPECT_EQ(A::GetComment(labels, v.comment, rec), KX9_OK);  // keys outside 9..24 are ignored
  EXPECT_EQ(S(rec.comments[0]) + "|" + S(rec.comments[15]), "k9|");
  for (BSTR* f : {&v.name, &v.dataTypeName, &v.initData, &v.device, &v.deviceExtra, &v.remark, &v.structTypeName,
                  &v.dynamicAttr1, &v.dynamicAttr2, &v.dynamicAttr4, &v.dynamicAttr5, &v.sysName, &v.sysProgramName,
                  &v.sysSpareText, &v.sysLocalName})
    *f = SysAllocString(u"x");
  v.memberDeviceCount = 2;
  v.memberDevices = static_cast<BSTR*>(CoTaskMemAlloc(2 * sizeof(BSTR)));
  v.memberDeviceExtras = static_cast<BSTR*>(CoTaskMemAlloc(2 * sizeof(BSTR)));
  v.memberDevices[0] = SysAllocString(u"d");
  v.memberDevices[1] = v.memberDeviceExtras[0] = nullptr;
  v.memberDeviceExtras[1] = SysAllocString(u"e");
  A::FreeVars(labels, vars, 2);
  EXPECT_EQ(vars, nullptr);  // TearDown proves that nothing was left
}

}  // namespace

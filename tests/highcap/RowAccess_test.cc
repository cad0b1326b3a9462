// Row-based element access of the high-capacity series against the
// reference database: batches, field round trips, ownership and every
// failure code.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct RowTag;
}

template <>
struct KX9TestAccess<RowTag> {
  using C = CKX9ComFuncLabelStructure;
  using Var = stVNGlobalVariableAndSystemLabelElementDataX;
  using Mem = stVNStructElementDataX;
  static ULONG Get(C& o, STOBJECTID id, C::CElementArray& a) { return o._getDataElementX(id, a); }
  static ULONG Delete(C& o, STOBJECTID id) { return o._deleteDataElementX(id); }
  static ULONG Create(C& o, STOBJECTID id, C::CElementArray& a) { return o._createDataElementX(id, a); }
  static ULONG GetGVL(C& o, IUnknown* p, C::CElementArray& a) { return o._getDataElementGVLX(p, a); }
  static ULONG CreateGVL(C& o, IUnknown* p, C::CElementArray& a) { return o._createDataElementGVLX(p, a); }
  static ULONG CreateAll(C& o, LONG n, _STKX9LABELSTRUCTURE* d) { return o._createAllDataX(n, d); }
  static ULONG SystemLabels(C& o, STOBJECTID id) { return o._getSystemLabelDataX(id); }
  static ULONG ArraySizes(C& o, IVNDataABS_HighCapacityGlobalVariable* p, LONG row, C::CArraySizeArray& a) {
    return o._getArrayElmSizeX(p, row, a);
  }
  static ULONG SetComment(C& o, const _STKX9LABELSTRUCTUREBASEDATA& r, stVNVariableComment& c) {
    return o._setCommentX(r, c);
  }
  static ULONG GetComment(C& o, const stVNVariableComment& c, _STKX9LABELSTRUCTUREBASEDATA& r) {
    return o._getCommentX(c, r);
  }
  static LONG* RowIDList(C& o, LONG n) { return o._createRowIDList(n); }
  static Var* NewVars(C& o, LONG n) { return o._createGlobalVariableAndSystemLabelElementDataX(n); }
  static Mem* NewMembers(C& o, LONG n) { return o._createStructElementDataX(n); }
  static void FreeVars(C& o, Var*& p, LONG n) { o._releaseGlobalVariableAndSystemLabelElementDataX(p, n); }
  static void FreeMembers(C& o, Mem*& p, LONG n) { o._releaseStructElementDataX(p, n); }
  static C::CGVLDataArray& Deleted(C& o) { return o.m_arrDeleteSystemLabel; }
};

namespace {
using A = KX9TestAccess<RowTag>;
using C = CKX9ComFuncLabelStructure;
using Var = stVNGlobalVariableAndSystemLabelElementDataX;
using Mem = stVNStructElementDataX;

constexpr const char* kGvlOps = "HighCapacityGlobalVariable.";

std::u16string U(const std::string& s) { return FromUtf8(s); }
std::string S(const CString& s) { return ToUtf8(s.Str()); }
std::string S(BSTR b) { return b ? ToUtf8(std::u16string(b, SysStringLen(b))) : std::string("<null>"); }

// A datum whose destructor deletes its element records by kind.
struct Datum : _STKX9LABELSTRUCTURE {
  explicit Datum(LONG type) { dataType = type; }
  _STKX9LABELSTRUCTUREGVLDATA* Var(int i) { return static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(elements[i]); }
  _STKX9LABELSTRUCTURESDTDATA* Mem(int i) { return static_cast<_STKX9LABELSTRUCTURESDTDATA*>(elements[i]); }
};

_STKX9LABELSTRUCTUREGVLDATA* NewVar(const std::string& name, const char16_t* type = u"INT", LONG structType = 0) {
  auto* v = new _STKX9LABELSTRUCTUREGVLDATA;
  v->name = U(name);
  v->dataTypeName = type;
  v->structType = structType;
  return v;
}

void AddDevice(_STKX9LABELSTRUCTUREGVLDATA* v, const char16_t* device, const char16_t* extra) {
  _STKX9LABELSTRUCTUREGVLDEVICE d;
  d.device = device;
  d.deviceExtra = extra;
  v->devices.Add(d);
}

void AddSize(_STKX9LABELSTRUCTUREGVLDATA* v, LONG value1, LONGLONG value2) {
  _STARRAYSIZEINFO s;
  s.value1 = value1;
  s.value2 = value2;
  v->arraySizes.Add(s);
}

// Passes every call on to the database's row table and records what the
// component hands over, so tests can see batch borders and row bytes.
class SpyTable final : public IVNDataABS_HighCapacityGlobalVariable {
 public:
  explicit SpyTable(IVNDataABS_HighCapacityGlobalVariable* inner) : m_inner(inner) {}
  ~SpyTable() { m_inner->Release(); }
  SpyTable(const SpyTable&) = delete;
  SpyTable& operator=(const SpyTable&) = delete;

  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (iid == IVNDataABS_HighCapacityGlobalVariable::iid || iid == IID_IUnknown) {
      *ppv = static_cast<IVNDataABS_HighCapacityGlobalVariable*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }

  HRESULT AddRows(LONG n, LONG* ids, LONG* d) override { return m_inner->AddRows(n, ids, d); }
  HRESULT DeleteRows(LONG n, const LONG* ids, LONG* d) override { return m_inner->DeleteRows(n, ids, d); }
  HRESULT GetRowIDs(LONG a, LONG b, LONG c, LONG n, LONG e, LONG* ids, LONG* r, LONG* d) override {
    HRESULT hr = m_inner->GetRowIDs(a, b, c, n, e, ids, r, d);
    if (hr >= 0) listed.assign(ids, ids + n);
    return hr;
  }
  HRESULT GetRowCount(LONG* n, LONG* d) override { return m_inner->GetRowCount(n, d); }
  HRESULT GetRows(LONG n, const LONG* ids, Var* rows, LONG* d) override {
    requested.emplace_back(ids, ids + n);
    return m_inner->GetRows(n, ids, rows, d);
  }
  HRESULT SetRows(LONG n, const Var* rows, LONG* d) override {
    if (onSetRows) onSetRows(rows, n);
    written.push_back(n);
    return m_inner->SetRows(n, rows, d);
  }
  HRESULT GetArraySizeCount(LONG row, LONG* n, LONG* d) override { return m_inner->GetArraySizeCount(row, n, d); }
  HRESULT GetArraySizes(LONG row, LONG n, LONG a, stVNArraySizeX* e, LONG* r, LONG* d) override {
    sizesAsked.push_back(row);
    return m_inner->GetArraySizes(row, n, a, e, r, d);
  }
  HRESULT SetArraySizes(LONG row, LONG n, LONG a, const stVNArraySizeX* e, LONG* d) override {
    return m_inner->SetArraySizes(row, n, a, e, d);
  }
  HRESULT GetRowObjectID(LONG row, STOBJECTID* id, LONG* d) override { return m_inner->GetRowObjectID(row, id, d); }

  long refs = 0;
  std::vector<LONG> listed;
  std::vector<std::vector<LONG>> requested;
  std::vector<LONG> written;
  std::vector<LONG> sizesAsked;
  std::function<void(const Var*, LONG)> onSetRows;

 private:
  IVNDataABS_HighCapacityGlobalVariable* m_inner;
};

struct RowFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrBase = 0;
  long memBase = 0;

  void SetUp() override {
    labels.Initialize(project);
    labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
    bstrBase = PlatformLiveBstrCount();
    memBase = PlatformLiveTaskMemCount();
  }
  void TearDown() override {
    PlatformFailTaskMemAllocAt(0);
    C::CGVLDataArray& kept = A::Deleted(labels);
    for (int i = 0; i < kept.GetSize(); ++i) delete kept[i];  // the host's records
    kept.RemoveAll();
    EXPECT_EQ(PlatformLiveBstrCount(), bstrBase) << "a BSTR leaked";
    EXPECT_EQ(PlatformLiveTaskMemCount(), memBase) << "a task-memory block leaked";
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }

  // A new, empty high-capacity GVL (14) or SDT (18) of the project.
  STOBJECTID NewData(LONG type, const char16_t* name) {
    const STOBJECTID parent = db.ChildOfType(project, type == VN_TYPE_GVL ? VN_TYPE_GVL_COLLECTION_X
                                                                          : VN_TYPE_SDT_COLLECTION_X);
    BSTR bstrName = SysAllocString(name);
    STOBJECTID id = STOBJECTID::Null();
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->CreateDataObject(parent, bstrName, type, 0, &id, &detail), S_OK);
    SysFreeString(bstrName);
    db.Faults().ResetCounts();
    return id;
  }

  // The row interface T of a datum; the caller releases it.
  template <class T>
  T* Table(const STOBJECTID& id) {
    IUnknown* object = nullptr;
    LONG detail = 0;
    EXPECT_EQ(db.Workspace()->GetDataObject(id, &object, &detail), S_OK);
    void* pv = nullptr;
    EXPECT_EQ(object->QueryInterface(IIDOf<T>(), &pv), S_OK);
    return static_cast<T*>(pv);
  }

  // Every raw row of a GVL, in row order; the caller frees them with FreeVars.
  Var* RawVars(const STOBJECTID& id, LONG& n) {
    auto* t = Table<IVNDataABS_HighCapacityGlobalVariable>(id);
    LONG detail = 0;
    n = 0;
    EXPECT_EQ(t->GetRowCount(&n, &detail), S_OK);
    std::vector<LONG> ids(static_cast<size_t>(n));
    LONG returned = 0;
    EXPECT_EQ(t->GetRowIDs(1, 2, 1, n, 0, ids.data(), &returned, &detail), S_OK);
    Var* rows = A::NewVars(labels, n);
    EXPECT_EQ(t->GetRows(n, ids.data(), rows, &detail), S_OK);
    t->Release();
    return rows;
  }

  LONG RowCount(const STOBJECTID& id, bool gvl = true) {
    LONG n = -1;
    LONG detail = 0;
    if (gvl) {
      auto* t = Table<IVNDataABS_HighCapacityGlobalVariable>(id);
      t->GetRowCount(&n, &detail);
      t->Release();
    } else {
      auto* t = Table<IVNDataABS_HighCapacityStructure>(id);
      t->GetRowCount(&n, &detail);
      t->Release();
    }
    return n;
  }
};

// --- round trips ----------------------------------------------------------------

TEST_F(RowFixture, VariablesSurviveWriteAndReadBackByKind) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);

  auto* simple = NewVar("Simple", u"DINT");
  simple->lineNo = 7;
  simple->classKeyword = 3;
  simple->initData = u"42";
  simple->remark = u"remark";
  simple->exAccess = u"1";
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) simple->comments[i] = U("comment " + std::to_string(i));
  AddDevice(simple, u"D100", u"X1");
  AddDevice(simple, u"D200", u"X2");  // only the first device of a simple variable is stored
  AddSize(simple, -3, 1LL << 40);
  AddSize(simple, 4, 5);
  in.elements.Add(simple);

  auto* bare = NewVar("Bare");  // no device entry, exAccess stays "0"
  bare->comments[15] = u"last";
  in.elements.Add(bare);

  auto* structured = NewVar("Struct", u"ST", 1);
  AddDevice(structured, u"M0", u"E0");
  AddDevice(structured, u"", u"E1");
  AddDevice(structured, u"M2", u"");
  structured->exAccess = u"";
  in.elements.Add(structured);

  auto* dynamic = NewVar("Dyn", u"ST", 2);
  dynamic->dynamicAttr1 = u"a1";
  dynamic->dynamicAttr2 = u"12";
  dynamic->dynamicAttr3 = -9;
  dynamic->dynamicAttr4 = u"a4";
  dynamic->dynamicAttr5 = u"-3";
  AddDevice(dynamic, u"ignored", u"ignored");
  dynamic->exAccess = u"yes";
  in.elements.Add(dynamic);

  auto* other = NewVar("Other", u"ST", 7);  // any other structure type has member devices
  AddDevice(other, u"Q0", u"R0");
  in.elements.Add(other);

  auto* sys = NewVar("Sys", u"BOOL");
  sys->systemLabel.ID = 11;
  sys->systemLabel.name = u"SysName";
  sys->systemLabel.programName = u"Prog";
  sys->systemLabel.CPUID = 2;
  sys->systemLabel.attribute = 0xABCD;
  sys->systemLabel.status = 5;
  sys->systemLabel.projectID = 3;
  sys->systemLabel.listID = 4;
  sys->systemLabel.comment = u"not carried";
  sys->systemLabel.remark = u"not carried";
  sys->systemLabel.dataType = 6;
  sys->systemLabel.dataSize = 0xFEDC;
  sys->systemLabel.localName = u"Local";
  in.elements.Add(sys);

  auto* notSys = NewVar("NotSys");  // status 0: the other fields are not written
  notSys->systemLabel.ID = 99;
  notSys->systemLabel.name = u"lost";
  notSys->systemLabel.attribute = 1;
  in.elements.Add(notSys);

  // What the rows carry as they are handed over, field by field.
  SpyTable spy(Table<IVNDataABS_HighCapacityGlobalVariable>(gvl));
  int checked = 0;
  spy.onSetRows = [&](const Var* rows, LONG n) {
    ASSERT_EQ(n, 7);
    for (LONG i = 0; i < n; ++i) {
      ASSERT_EQ(rows[i].comment.count, 16);  // empty comments travel too
      for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(rows[i].comment.items[k].key, static_cast<ULONGLONG>(9 + k));
        EXPECT_NE(rows[i].comment.items[k].text, nullptr);
      }
    }
    EXPECT_EQ(rows[0].dataTypeCode, 3);
    EXPECT_EQ(rows[0].hasArraySizes, 1);
    EXPECT_EQ(rows[0].exAccess, 1);
    EXPECT_EQ(S(rows[0].device), "D100");
    EXPECT_EQ(S(rows[0].deviceExtra), "X1");
    EXPECT_EQ(rows[0].structTypeName, nullptr);
    EXPECT_EQ(rows[0].memberDevices, nullptr);
    EXPECT_EQ(rows[1].hasArraySizes, 0);
    EXPECT_EQ(rows[1].device, nullptr);  // no device entry: both texts stay null
    EXPECT_EQ(rows[1].deviceExtra, nullptr);
    EXPECT_EQ(rows[1].dataTypeCode, 2);
    EXPECT_EQ(rows[2].dataTypeCode, 9);
    ASSERT_EQ(rows[2].memberDeviceCount, 3);
    EXPECT_EQ(S(rows[2].memberDevices[1]), "");
    EXPECT_EQ(S(rows[2].memberDeviceExtras[1]), "E1");
    EXPECT_EQ(S(rows[2].structTypeName), "ST");
    EXPECT_EQ(rows[2].device, nullptr);
    EXPECT_EQ(rows[2].exAccess, 0);
    EXPECT_EQ(rows[3].memberDeviceCount, 0);
    EXPECT_EQ(rows[3].memberDevices, nullptr);
    EXPECT_EQ(rows[3].device, nullptr);
    EXPECT_EQ(S(rows[3].structTypeName), "ST");
    EXPECT_EQ(rows[3].dynamicAttr3, -9);
    EXPECT_EQ(rows[3].exAccess, 0);
    EXPECT_EQ(rows[4].memberDeviceCount, 1);
    EXPECT_EQ(rows[4].dynamicAttr1, nullptr);
    EXPECT_EQ(rows[5].sysAttribute, 0xABCDu);
    EXPECT_EQ(rows[5].sysDataSize, 0xFEDCu);
    EXPECT_EQ(rows[5].sysStatus, 5);
    EXPECT_EQ(rows[6].sysID, 0);
    EXPECT_EQ(rows[6].sysName, nullptr);
    EXPECT_EQ(rows[6].sysAttribute, 0u);
    for (LONG i = 0; i < n; ++i) {
      EXPECT_EQ(rows[i].sysSpareText, nullptr);
      EXPECT_EQ(rows[i].dynamicAttr4 == nullptr, i != 3);
    }
    ++checked;
  };
  ASSERT_EQ(A::CreateGVL(labels, &spy, in.elements), KX9_OK);
  EXPECT_EQ(checked, 1);
  EXPECT_EQ(spy.refs, 0);
  EXPECT_EQ(db.Faults().Calls("HighCapacityGlobalVariable.AddRows"), 1);
  EXPECT_EQ(db.Faults().Calls("HighCapacityGlobalVariable.SetArraySizes"), 1);

  Datum out(VN_TYPE_GVL);
  ASSERT_EQ(A::Get(labels, gvl, out.elements), KX9_OK);
  ASSERT_EQ(out.elements.GetSize(), 7);

  const auto* r = out.Var(0);
  EXPECT_EQ(S(r->name), "Simple");
  EXPECT_EQ(r->lineNo, 7u);
  EXPECT_EQ(r->classKeyword, 3);
  EXPECT_EQ(S(r->dataTypeName), "DINT");
  EXPECT_EQ(S(r->initData), "42");
  EXPECT_EQ(S(r->remark), "remark");
  EXPECT_EQ(S(r->exAccess), "1");
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) EXPECT_EQ(S(r->comments[i]), "comment " + std::to_string(i));
  ASSERT_EQ(r->devices.GetSize(), 1);
  EXPECT_EQ(S(r->devices[0].device), "D100");
  EXPECT_EQ(S(r->devices[0].deviceExtra), "X1");
  ASSERT_EQ(r->arraySizes.GetSize(), 2);
  EXPECT_EQ(r->arraySizes[0].value1, -3);
  EXPECT_EQ(r->arraySizes[0].value2, 1LL << 40);
  EXPECT_EQ(r->arraySizes[1].value1, 4);
  EXPECT_EQ(r->arraySizes[1].value2, 5);
  EXPECT_EQ(S(r->reservedText), "0");

  r = out.Var(1);
  ASSERT_EQ(r->devices.GetSize(), 1);  // a simple variable always reads one entry
  EXPECT_TRUE(r->devices[0].device.IsEmpty());
  EXPECT_TRUE(r->devices[0].deviceExtra.IsEmpty());
  EXPECT_EQ(S(r->comments[15]), "last");
  EXPECT_TRUE(r->comments[0].IsEmpty());
  EXPECT_EQ(S(r->exAccess), "0");
  EXPECT_EQ(r->arraySizes.GetSize(), 0);

  r = out.Var(2);
  EXPECT_EQ(r->structType, 1);
  ASSERT_EQ(r->devices.GetSize(), 3);
  EXPECT_EQ(S(r->devices[0].device), "M0");
  EXPECT_EQ(S(r->devices[1].deviceExtra), "E1");
  EXPECT_EQ(S(r->devices[2].device), "M2");
  EXPECT_EQ(S(r->exAccess), "0");

  r = out.Var(3);
  EXPECT_EQ(r->structType, 2);
  EXPECT_EQ(r->devices.GetSize(), 0);
  EXPECT_EQ(S(r->dynamicAttr1), "a1");
  EXPECT_EQ(S(r->dynamicAttr2), "12");
  EXPECT_EQ(r->dynamicAttr3, -9);
  EXPECT_EQ(S(r->dynamicAttr4), "a4");
  EXPECT_EQ(S(r->dynamicAttr5), "-3");

  r = out.Var(4);
  ASSERT_EQ(r->devices.GetSize(), 1);
  EXPECT_EQ(S(r->devices[0].device), "Q0");
  EXPECT_TRUE(r->dynamicAttr1.IsEmpty());

  r = out.Var(5);
  EXPECT_EQ(r->systemLabel.ID, 11);
  EXPECT_EQ(S(r->systemLabel.name), "SysName");
  EXPECT_EQ(S(r->systemLabel.programName), "Prog");
  EXPECT_EQ(r->systemLabel.CPUID, 2);
  EXPECT_EQ(r->systemLabel.attribute, 0xABCD);
  EXPECT_EQ(r->systemLabel.status, 5);
  EXPECT_EQ(r->systemLabel.projectID, 3);
  EXPECT_EQ(r->systemLabel.listID, 4);
  EXPECT_EQ(r->systemLabel.dataType, 6);
  EXPECT_EQ(r->systemLabel.dataSize, 0xFEDC);
  EXPECT_EQ(S(r->systemLabel.localName), "Local");
  EXPECT_TRUE(r->systemLabel.comment.IsEmpty());
  EXPECT_TRUE(r->systemLabel.remark.IsEmpty());

  r = out.Var(6);
  EXPECT_EQ(r->systemLabel.status, 0);
  EXPECT_EQ(r->systemLabel.ID, 0);
  EXPECT_TRUE(r->systemLabel.name.IsEmpty());
  EXPECT_EQ(r->systemLabel.attribute, 0);
}

TEST_F(RowFixture, MembersSurviveWriteAndReadBack) {
  const STOBJECTID sdt = NewData(VN_TYPE_SDT, u"ST");
  Datum in(VN_TYPE_SDT);
  const char16_t* types[] = {u"BOOL", u"dint", u"LREAL", u"Other"};
  for (int i = 0; i < 4; ++i) {
    auto* m = new _STKX9LABELSTRUCTURESDTDATA;
    m->lineNo = static_cast<ULONG>(10 + i);
    m->name = U("M" + std::to_string(i));
    m->dataTypeName = types[i];
    m->initData = U(std::to_string(i * 2));
    m->comments[i] = U("c" + std::to_string(i));
    in.elements.Add(m);
  }
  ASSERT_EQ(A::Create(labels, sdt, in.elements), KX9_OK);

  auto* t = Table<IVNDataABS_HighCapacityStructure>(sdt);
  LONG detail = 0;
  LONG ids[4] = {};
  LONG returned = 0;
  ASSERT_EQ(t->GetRowIDs(1, 2, 1, 4, 0, ids, &returned, &detail), S_OK);
  Mem* rows = A::NewMembers(labels, 4);
  ASSERT_EQ(t->GetRows(4, ids, rows, &detail), S_OK);
  t->Release();
  const LONG codes[] = {1, 100, 6, 100};  // the code lookup is case-sensitive
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rows[i].classKeyword, 8);
    EXPECT_EQ(rows[i].dataTypeCode, codes[i]) << i;
    EXPECT_EQ(rows[i].comment.count, 16);
  }
  A::FreeMembers(labels, rows, 4);

  Datum out(VN_TYPE_SDT);
  ASSERT_EQ(A::Get(labels, sdt, out.elements), KX9_OK);
  ASSERT_EQ(out.elements.GetSize(), 4);
  for (int i = 0; i < 4; ++i) {
    const auto* m = out.Mem(i);
    EXPECT_EQ(m->lineNo, static_cast<ULONG>(10 + i));
    EXPECT_EQ(S(m->name), "M" + std::to_string(i));
    EXPECT_EQ(m->dataTypeName, CString(types[i]));
    EXPECT_EQ(S(m->initData), std::to_string(i * 2));
    for (int c = 0; c < KX9_COMMENT_COUNT; ++c)
      EXPECT_EQ(S(m->comments[c]), c == i ? "c" + std::to_string(i) : "");
  }
}

// 2,500 variables behind a gap in the row IDs: batches of 1000, 1000 and
// 500, records in row order, sizes from each row's own ID.
TEST_F(RowFixture, BatchesKeepRowOrderAndArraySizesAcrossBorders) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);
  const int kWritten = 2600;
  auto hasSizes = [](int i) { return i % 7 == 0 || i == 999 || i == 1000 || i == 1999 || i == 2599; };
  for (int i = 0; i < kWritten; ++i) {
    auto* v = NewVar("V" + std::to_string(i));
    v->lineNo = static_cast<ULONG>(i);
    if (hasSizes(i)) {
      AddSize(v, i, i * 3LL);
      if (i % 2 == 0) AddSize(v, -i, -1);
    }
    in.elements.Add(v);
  }
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);
  EXPECT_EQ(db.Faults().Calls("HighCapacityGlobalVariable.SetRows"), 3);

  // Drop variables 300..399 so that list positions and row IDs part ways.
  {
    auto* t = Table<IVNDataABS_HighCapacityGlobalVariable>(gvl);
    std::vector<LONG> ids(kWritten);
    LONG returned = 0;
    LONG detail = 0;
    ASSERT_EQ(t->GetRowIDs(1, 2, 1, kWritten, 0, ids.data(), &returned, &detail), S_OK);
    ASSERT_EQ(t->DeleteRows(100, ids.data() + 300, &detail), S_OK);
    t->Release();
  }
  std::vector<int> expected;
  for (int i = 0; i < kWritten; ++i)
    if (i < 300 || i >= 400) expected.push_back(i);
  ASSERT_EQ(expected.size(), 2500u);

  db.Faults().ResetCounts();
  Datum out(VN_TYPE_GVL);
  ASSERT_EQ(A::Get(labels, gvl, out.elements), KX9_OK);
  EXPECT_EQ(db.Faults().Calls("HighCapacityGlobalVariable.GetRowIDs"), 1);
  EXPECT_EQ(db.Faults().Calls("HighCapacityGlobalVariable.GetRows"), 3);
  ASSERT_EQ(out.elements.GetSize(), 2500);

  // The batches are consecutive slices of the row-ID list, and sizes are
  // asked for under the ID a row was requested by, once per sized variable.
  SpyTable spy(Table<IVNDataABS_HighCapacityGlobalVariable>(gvl));
  Datum viaSpy(VN_TYPE_GVL);
  ASSERT_EQ(A::GetGVL(labels, &spy, viaSpy.elements), KX9_OK);
  ASSERT_EQ(spy.listed.size(), 2500u);
  ASSERT_EQ(spy.requested.size(), 3u);
  const size_t batchSizes[] = {1000, 1000, 500};
  for (size_t k = 0; k < 3; ++k) {
    ASSERT_EQ(spy.requested[k].size(), batchSizes[k]);
    EXPECT_TRUE(std::equal(spy.requested[k].begin(), spy.requested[k].end(), spy.listed.begin() + 1000 * k));
  }
  std::vector<LONG> sizedIDs;
  for (size_t k = 0; k < 2500; ++k)
    if (hasSizes(expected[k])) sizedIDs.push_back(spy.listed[k]);
  EXPECT_EQ(spy.sizesAsked, sizedIDs);
  EXPECT_EQ(sizedIDs.size(), 361u);
  EXPECT_EQ(viaSpy.elements.GetSize(), 2500);
  int sized = 0;
  for (int k = 0; k < 2500; ++k) {
    const int i = expected[static_cast<size_t>(k)];
    const auto* v = out.Var(k);
    ASSERT_EQ(S(v->name), "V" + std::to_string(i));
    EXPECT_EQ(v->lineNo, static_cast<ULONG>(i));
    if (!hasSizes(i)) {
      EXPECT_EQ(v->arraySizes.GetSize(), 0) << i;
      continue;
    }
    ++sized;
    ASSERT_EQ(v->arraySizes.GetSize(), i % 2 == 0 ? 2 : 1) << i;
    EXPECT_EQ(v->arraySizes[0].value1, i);
    EXPECT_EQ(v->arraySizes[0].value2, i * 3LL);
    if (i % 2 == 0) {
      EXPECT_EQ(v->arraySizes[1].value1, -i);
    }
  }

  // The third batch fails: the first two batches stay in the caller's array.
  db.Faults().Set("HighCapacityGlobalVariable.GetRows", refdb::Fault{-1, 0, 3, 1});
  Datum partial(VN_TYPE_GVL);
  EXPECT_EQ(A::Get(labels, gvl, partial.elements), KX9_ERR_DB);
  EXPECT_EQ(partial.elements.GetSize(), 2000);
}

TEST_F(RowFixture, CommentKeysOutsideNineToTwentyFourAreIgnored) {
  _STKX9LABELSTRUCTUREBASEDATA rec;
  stVNVariableComment c{};
  const ULONGLONG keys[] = {8, 9, 24, 25, 0x100000009ULL, 16};
  std::vector<stVNVariableCommentItem> items(6);
  for (int i = 0; i < 6; ++i) {
    items[static_cast<size_t>(i)].key = keys[i];
    items[static_cast<size_t>(i)].text = SysAllocString(U("k" + std::to_string(i)).c_str());
  }
  c.count = 6;
  c.items = items.data();
  EXPECT_EQ(A::GetComment(labels, c, rec), KX9_OK);
  EXPECT_EQ(S(rec.comments[0]), "k1");
  EXPECT_EQ(S(rec.comments[15]), "k2");
  EXPECT_EQ(S(rec.comments[7]), "k5");
  int filled = 0;
  for (const CString& s : rec.comments) filled += s.IsEmpty() ? 0 : 1;
  EXPECT_EQ(filled, 3);
  for (auto& item : items) SysFreeString(item.text);

  // A write replaces whatever entries the comment held.
  stVNVariableComment w{};
  rec.comments[3] = u"three";
  ASSERT_EQ(A::SetComment(labels, rec, w), KX9_OK);
  ASSERT_EQ(A::SetComment(labels, rec, w), KX9_OK);
  ASSERT_EQ(w.count, 16);
  EXPECT_EQ(S(w.items[3].text), "three");
  EXPECT_NE(w.items[4].text, nullptr);  // empty comments are empty BSTRs
  EXPECT_EQ(SysStringLen(w.items[4].text), 0u);
  // A failed allocation leaves no entries.
  PlatformFailTaskMemAllocAt(1);
  EXPECT_EQ(A::SetComment(labels, rec, w), KX9_ERR_ALLOC);
  EXPECT_EQ(w.count, 0);
  EXPECT_EQ(w.items, nullptr);
}

// --- deletion and system labels -----------------------------------------------------

TEST_F(RowFixture, DeletionCollectsSystemLabelsBeforeRowsGo) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);
  for (LONG status = 0; status <= 15; ++status) {
    auto* v = NewVar("S" + std::to_string(status));
    v->systemLabel.status = status;
    v->systemLabel.name = U("sys" + std::to_string(status));
    in.elements.Add(v);
  }
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);

  // Deleting fails, yet the labels were collected first.
  db.Faults().Set("HighCapacityGlobalVariable.DeleteRows", refdb::Fault{-5, 0, 1, 1});
  EXPECT_EQ(A::Delete(labels, gvl), KX9_ERR_DB);
  EXPECT_EQ(RowCount(gvl), 16);
  const std::vector<LONG> kept = {2, 3, 5, 6, 8, 10, 11, 13, 14};
  C::CGVLDataArray& deleted = A::Deleted(labels);
  ASSERT_EQ(deleted.GetSize(), 9);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(deleted[i]->systemLabel.status, kept[static_cast<size_t>(i)]);
    EXPECT_EQ(S(deleted[i]->name), "S" + std::to_string(kept[static_cast<size_t>(i)]));
  }

  EXPECT_EQ(A::Delete(labels, gvl), KX9_OK);
  EXPECT_EQ(RowCount(gvl), 0);
  EXPECT_TRUE(db.Exists(gvl));
  EXPECT_EQ(deleted.GetSize(), 18);

  // A structure loses its rows without any collecting.
  const STOBJECTID sdt = NewData(VN_TYPE_SDT, u"ST");
  Datum members(VN_TYPE_SDT);
  members.elements.Add(new _STKX9LABELSTRUCTURESDTDATA);
  ASSERT_EQ(A::Create(labels, sdt, members.elements), KX9_OK);
  EXPECT_EQ(A::Delete(labels, sdt), KX9_OK);
  EXPECT_EQ(RowCount(sdt, false), 0);
  EXPECT_EQ(deleted.GetSize(), 18);

  // Collecting fails when the rows cannot be read; nothing is kept.
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);
  db.Faults().Set("HighCapacityGlobalVariable.GetRows", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::SystemLabels(labels, gvl), KX9_ERR_DB);
  EXPECT_EQ(deleted.GetSize(), 18);
  EXPECT_EQ(A::SystemLabels(labels, gvl), KX9_OK);
  EXPECT_EQ(deleted.GetSize(), 27);
}

// --- failures ---------------------------------------------------------------------

TEST_F(RowFixture, ReadFailuresReportTheirCodes) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);
  for (int i = 0; i < 3; ++i) {
    auto* v = NewVar("V" + std::to_string(i));
    AddSize(v, i, i);
    in.elements.Add(v);
  }
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);

  const struct {
    std::string op;
    HRESULT status;
    ULONG expected;
    int records;
  } cases[] = {
      {"Workspace.GetDataObject", -1, KX9_ERR_DB, 0},
      {"Workspace.GetObjectType", 5, KX9_ERR_DB, 0},
      {std::string(kGvlOps) + "GetRowCount", -1, KX9_ERR_DB, 0},
      {std::string(kGvlOps) + "GetRowIDs", -2, KX9_ERR_DB, 0},
      {std::string(kGvlOps) + "GetRows", -3, KX9_ERR_DB, 0},
      {std::string(kGvlOps) + "GetArraySizeCount", -1, KX9_ERR_DB, 0},
      {std::string(kGvlOps) + "GetArraySizes", -1, KX9_ERR_DB, 0},
      // A positive status is success on the row interfaces.
      {std::string(kGvlOps) + "GetRowCount", 1, KX9_OK, 0},
      {std::string(kGvlOps) + "GetArraySizeCount", 1, KX9_OK, 3},
  };
  for (const auto& c : cases) {
    db.Faults().Set(c.op, refdb::Fault{c.status, 0x77, 1, 1});
    Datum out(VN_TYPE_GVL);
    EXPECT_EQ(A::Get(labels, gvl, out.elements), c.expected) << c.op;
    EXPECT_EQ(out.elements.GetSize(), c.records) << c.op;
    db.Faults().ClearAll();
  }

  // The second variable's sizes fail: the first stays, the failing one is gone.
  db.Faults().Set(std::string(kGvlOps) + "GetArraySizes", refdb::Fault{-1, 0, 2, 1});
  Datum out(VN_TYPE_GVL);
  EXPECT_EQ(A::Get(labels, gvl, out.elements), KX9_ERR_DB);
  EXPECT_EQ(out.elements.GetSize(), 1);
  db.Faults().ClearAll();

  db.WithholdInterface(gvl, IVNDataABS_HighCapacityGlobalVariable::iid);
  Datum none(VN_TYPE_GVL);
  EXPECT_EQ(A::Get(labels, gvl, none.elements), KX9_ERR_DB);
  EXPECT_EQ(A::Delete(labels, gvl), KX9_ERR_DB);
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);

  // Neither a list nor a type: nothing is done.
  const STOBJECTID collection = db.ChildOfType(project, VN_TYPE_GVL_COLLECTION_X);
  db.Faults().ResetCounts();
  EXPECT_EQ(A::Get(labels, collection, none.elements), KX9_OK);
  EXPECT_EQ(A::Delete(labels, collection), KX9_OK);
  EXPECT_EQ(A::Create(labels, collection, in.elements), KX9_OK);
  EXPECT_EQ(none.elements.GetSize(), 0);
  EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "DeleteRows"), 0);

  C noWorkspace(nullptr);
  EXPECT_EQ(A::Get(noWorkspace, gvl, none.elements), KX9_ERR_NO_WORKSPACE);
  EXPECT_EQ(A::CreateAll(noWorkspace, 0, nullptr), KX9_ERR_NO_WORKSPACE);
}

TEST_F(RowFixture, ArraySizeReaderChecksItsInterfaceAndBuffer) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);
  auto* v = NewVar("A");
  AddSize(v, 0x7FFFFFFF, -7);
  AddSize(v, -1, 8);
  in.elements.Add(v);
  in.elements.Add(NewVar("B"));
  ASSERT_EQ(A::Create(labels, gvl, in.elements), KX9_OK);
  auto* t = Table<IVNDataABS_HighCapacityGlobalVariable>(gvl);
  LONG rows[2] = {};
  LONG returned = 0;
  LONG detail = 0;
  ASSERT_EQ(t->GetRowIDs(1, 2, 1, 2, 0, rows, &returned, &detail), S_OK);
  const LONG row = rows[0];

  C::CArraySizeArray sizes;
  EXPECT_EQ(A::ArraySizes(labels, nullptr, row, sizes), KX9_ERR_ARG);
  PlatformFailTaskMemAllocAt(1);
  EXPECT_EQ(A::ArraySizes(labels, t, row, sizes), KX9_ERR_ALLOC);
  EXPECT_EQ(sizes.GetSize(), 0);
  // Sizes are appended after what the array held.
  _STARRAYSIZEINFO first;
  first.value1 = 5;
  sizes.Add(first);
  EXPECT_EQ(A::ArraySizes(labels, t, row, sizes), KX9_OK);
  ASSERT_EQ(sizes.GetSize(), 3);
  EXPECT_EQ(sizes[1].value1, 0x7FFFFFFF);
  EXPECT_EQ(sizes[1].value2, -7);
  EXPECT_EQ(sizes[2].value1, -1);
  // No sizes under a row: nothing appended, and no buffer is allocated.
  PlatformFailTaskMemAllocAt(1);
  EXPECT_EQ(A::ArraySizes(labels, t, rows[1], sizes), KX9_OK);
  EXPECT_EQ(sizes.GetSize(), 3);
  PlatformFailTaskMemAllocAt(0);
  db.Faults().Set(std::string(kGvlOps) + "GetArraySizes", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::ArraySizes(labels, t, row, sizes), KX9_ERR_DB);
  EXPECT_EQ(sizes.GetSize(), 3);
  t->Release();
}

TEST_F(RowFixture, WriteFailuresReportTheirCodes) {
  const STOBJECTID gvl = NewData(VN_TYPE_GVL, u"G");
  Datum in(VN_TYPE_GVL);
  for (int i = 0; i < 2500; ++i) in.elements.Add(NewVar("V" + std::to_string(i)));

  // Nothing to write: no row is added.
  Datum empty(VN_TYPE_GVL);
  EXPECT_EQ(A::Create(labels, gvl, empty.elements), KX9_OK);
  EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "AddRows"), 0);

  db.Faults().Set(std::string(kGvlOps) + "AddRows", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "SetRows"), 0);

  // The second batch fails: the rows stay added and the first batch written.
  db.Faults().Set(std::string(kGvlOps) + "SetRows", refdb::Fault{-1, 0, 2, 1});
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "SetRows"), 2);
  LONG n = 0;
  Var* rows = RawVars(gvl, n);
  ASSERT_EQ(n, 2500);
  EXPECT_EQ(S(rows[999].name), "V999");
  EXPECT_EQ(S(rows[1000].name), "<null>");
  A::FreeVars(labels, rows, n);
  ASSERT_EQ(A::Delete(labels, gvl), KX9_OK);

  // Sizes that cannot be stored keep their whole batch from being written.
  AddSize(in.Var(1500), 1, 1);
  db.Faults().ResetCounts();
  db.Faults().Set(std::string(kGvlOps) + "SetArraySizes", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::Create(labels, gvl, in.elements), KX9_ERR_DB);
  EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "SetRows"), 1);
  EXPECT_EQ(RowCount(gvl), 2500);
  ASSERT_EQ(A::Delete(labels, gvl), KX9_OK);

  // Allocation failures of the size entries and of the member device arrays.
  Datum one(VN_TYPE_GVL);
  auto* v = NewVar("V", u"ST", 1);
  AddDevice(v, u"D", u"E");
  one.elements.Add(v);
  for (int nth : {2, 3}) {  // 1: the comment entries, 2 and 3: the device arrays
    db.Faults().ResetCounts();
    PlatformFailTaskMemAllocAt(nth);
    EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_ERR_ALLOC) << nth;
    EXPECT_EQ(db.Faults().Calls(std::string(kGvlOps) + "SetRows"), 0);
  }
  v->structType = 0;
  AddSize(v, 1, 2);
  PlatformFailTaskMemAllocAt(2);  // after the comment entries: the size entries
  EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_ERR_ALLOC);
  // The comment entries alone may fail: the row is written without them.
  PlatformFailTaskMemAllocAt(1);
  EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_OK);

  // Failures of the dispatch before any row is touched.
  for (const char* op : {"Workspace.GetDataObject", "Workspace.GetObjectType"}) {
    db.Faults().Set(op, refdb::Fault{-1, 0, 1, 1});
    EXPECT_EQ(A::Create(labels, gvl, one.elements), KX9_ERR_DB) << op;
    db.Faults().Set(op, refdb::Fault{-1, 0, 1, 1});
    EXPECT_EQ(A::Delete(labels, gvl), KX9_ERR_DB) << op;
  }
}

TEST_F(RowFixture, CreateAllDataCreatesInOrderAndFlushes) {
  EXPECT_EQ(A::CreateAll(labels, 0, nullptr), KX9_OK);
  EXPECT_EQ(db.FlushCount(project), 0);

  _STKX9LABELSTRUCTURE data[4];
  data[0].dataType = VN_TYPE_SDT;
  data[0].name = u"ST";
  auto* m = new _STKX9LABELSTRUCTURESDTDATA;
  m->name = u"M";
  m->dataTypeName = u"INT";
  data[0].elements.Add(m);
  data[1].dataType = VN_TYPE_GVL;
  data[1].name = u"G1";
  data[1].elements.Add(NewVar("V"));
  data[2].dataType = VN_TYPE_GLOBAL_VARIABLE;
  data[2].name = u"Bad";
  data[3].dataType = VN_TYPE_GVL;
  data[3].name = u"G2";

  EXPECT_EQ(A::CreateAll(labels, 2, data), KX9_OK);
  EXPECT_EQ(db.FlushCount(project), 1);
  const STOBJECTID gvls = db.ChildOfType(project, VN_TYPE_GVL_COLLECTION_X);
  const STOBJECTID sdts = db.ChildOfType(project, VN_TYPE_SDT_COLLECTION_X);
  ASSERT_EQ(db.Children(gvls).size(), 1u);
  ASSERT_EQ(db.Children(sdts).size(), 1u);
  EXPECT_EQ(db.ObjectName(db.Children(gvls)[0]), u"G1");
  EXPECT_EQ(RowCount(db.Children(gvls)[0]), 1);
  EXPECT_EQ(RowCount(db.Children(sdts)[0], false), 1);

  // A record of type 16 stops the walk after the records before it; no flush.
  EXPECT_EQ(A::CreateAll(labels, 4, data), KX9_ERR_TYPE);
  EXPECT_EQ(db.Children(gvls).size(), 2u);
  EXPECT_EQ(db.FlushCount(project), 1);

  const struct {
    const char* op;
    HRESULT status;
  } faults[] = {{"Workspace.GetChildIDByType", 1}, {"Workspace.CreateDataObject", -1}, {"Storage.Flush", -1}};
  for (const auto& f : faults) {
    db.Faults().Set(f.op, refdb::Fault{f.status, 0x55, 1, 1});
    EXPECT_EQ(A::CreateAll(labels, 2, data), KX9_ERR_DB) << f.op;
  }
  db.Faults().Set(std::string(kGvlOps) + "AddRows", refdb::Fault{-1, 0, 1, 1});
  EXPECT_EQ(A::CreateAll(labels, 2, data), KX9_ERR_DB);
}

// --- blocks and their release ---------------------------------------------------------

TEST_F(RowFixture, ReleaseFreesEverythingEitherSidePutThere) {
  EXPECT_EQ(A::NewVars(labels, 0), nullptr);
  EXPECT_EQ(A::NewMembers(labels, -1), nullptr);
  EXPECT_EQ(A::RowIDList(labels, -1), nullptr);
  LONG* ids = A::RowIDList(labels, 3);
  ASSERT_NE(ids, nullptr);
  EXPECT_EQ(ids[0] | ids[1] | ids[2], 0);
  delete[] ids;

  Var* vars = A::NewVars(labels, 2);
  ASSERT_NE(vars, nullptr);
  const char* zero = reinterpret_cast<const char*>(vars);
  for (size_t i = 0; i < 2 * sizeof(Var); ++i) ASSERT_EQ(zero[i], 0);
  for (int r = 0; r < 2; ++r) {
    Var& v = vars[r];
    for (BSTR* f : {&v.name, &v.dataTypeName, &v.initData, &v.device, &v.deviceExtra, &v.remark, &v.structTypeName,
                    &v.dynamicAttr1, &v.dynamicAttr2, &v.dynamicAttr4, &v.dynamicAttr5, &v.sysName,
                    &v.sysProgramName, &v.sysSpareText, &v.sysLocalName})
      *f = SysAllocString(u"x");
    v.comment.count = 2;
    v.comment.items = static_cast<stVNVariableCommentItem*>(CoTaskMemAlloc(2 * sizeof(stVNVariableCommentItem)));
    v.comment.items[0].text = SysAllocString(u"c");
    v.comment.items[1].text = nullptr;
    v.memberDeviceCount = 2;
    v.memberDevices = static_cast<BSTR*>(CoTaskMemAlloc(2 * sizeof(BSTR)));
    v.memberDeviceExtras = static_cast<BSTR*>(CoTaskMemAlloc(2 * sizeof(BSTR)));
    v.memberDevices[0] = SysAllocString(u"d");
    v.memberDevices[1] = nullptr;
    v.memberDeviceExtras[0] = nullptr;
    v.memberDeviceExtras[1] = SysAllocString(u"e");
  }
  A::FreeVars(labels, vars, 2);
  EXPECT_EQ(vars, nullptr);
  A::FreeVars(labels, vars, 2);  // null is ignored

  Mem* mems = A::NewMembers(labels, 1);
  for (BSTR* f : {&mems->name, &mems->dataTypeName, &mems->initData, &mems->spareText1, &mems->spareText2,
                  &mems->spareText3, &mems->spareText4})
    *f = SysAllocString(u"y");
  mems->comment.count = 0;  // the entry array goes even without entries
  mems->comment.items = static_cast<stVNVariableCommentItem*>(CoTaskMemAlloc(sizeof(stVNVariableCommentItem)));
  A::FreeMembers(labels, mems, 1);
  EXPECT_EQ(mems, nullptr);
  // TearDown proves that no BSTR and no task-memory block is left.
}

}  // namespace

// File: RefdbFixtures.cc
#include "tests/support/RefdbFixtures.h"

#include <deque>
#include <stdexcept>
#include <string>
#include <tuple>

namespace refdb_fixtures {
namespace {

using VarRow = stVNGlobalVariableAndSystemLabelElementDataX;
using MemberRow = stVNStructElementDataX;

// Raises when a database call failed (any non-zero status).
void Check(HRESULT status, const char* op) {
  if (status != S_OK) throw std::runtime_error(std::string("refdb fixture: ") + op + " failed");
}

// BSTRs made for one builder call, freed with it.
struct Strings {
  std::deque<BstrHolder> all;
  BSTR operator()(const std::u16string& s) {
    BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (b == nullptr) throw std::bad_alloc();
    return all.emplace_back(b).Get();
  }
  // Null for the empty text, as the component writes missing texts.
  BSTR OrNull(const std::u16string& s) { return s.empty() ? nullptr : (*this)(s); }
};

template <class T>
ComPtr<T> Interface(refdb::RefDatabase& db, const STOBJECTID& id) {
  IUnknown* object = nullptr;
  LONG detail = 0;
  Check(db.Workspace()->GetDataObject(id, &object, &detail), "Workspace.GetDataObject");
  ComPtr<T> p;
  if (!QueryInterfaceTo(object, p)) throw std::runtime_error("refdb fixture: an element lacks an interface");
  return p;
}

STOBJECTID AddData(refdb::RefDatabase& db, const STOBJECTID& project, LONG collectionType, LONG type,
                   const std::u16string& name) {
  LONG detail = 0;
  STOBJECTID collection{}, id{};
  Check(db.Workspace()->GetChildIDByType(project, collectionType, &collection, &detail), "Workspace.GetChildIDByType");
  Strings s;
  Check(db.Workspace()->CreateDataObject(collection, s(name), type, 0, &id, &detail), "Workspace.CreateDataObject");
  return id;
}

// The fields that a row and its description share: texts by name, and numbers.
template <class Row, class Desc>
using TextField = std::tuple<const char*, BSTR Row::*, std::u16string Desc::*>;
template <class Row, class Desc>
using NumberField = std::pair<LONG Row::*, LONG Desc::*>;

using R = VarRow;
using V = VariableRowSpec;
using L = SystemLabelSpec;
using M = MemberRowSpec;
// clang-format off
const TextField<R, V> kVarTexts[] = {
    {"name", &R::name, &V::name}, {"dataTypeName", &R::dataTypeName, &V::dataTypeName},
    {"initData", &R::initData, &V::initData}, {"device", &R::device, &V::device},
    {"deviceExtra", &R::deviceExtra, &V::deviceExtra}, {"remark", &R::remark, &V::remark},
    {"structTypeName", &R::structTypeName, &V::structTypeName}, {"dynamicAttr1", &R::dynamicAttr1, &V::dynamicAttr1},
    {"dynamicAttr2", &R::dynamicAttr2, &V::dynamicAttr2}, {"dynamicAttr4", &R::dynamicAttr4, &V::dynamicAttr4},
    {"dynamicAttr5", &R::dynamicAttr5, &V::dynamicAttr5}};
const NumberField<R, V> kVarNumbers[] = {
    {&R::lineNo, &V::lineNo}, {&R::classKeyword, &V::classKeyword}, {&R::structType, &V::structType},
    {&R::dataTypeCode, &V::dataTypeCode}, {&R::dynamicAttr3, &V::dynamicAttr3}, {&R::exAccess, &V::exAccess}};
const TextField<R, L> kSysTexts[] = {
    {"sysName", &R::sysName, &L::name}, {"sysProgramName", &R::sysProgramName, &L::programName},
    {"sysLocalName", &R::sysLocalName, &L::localName}};
const NumberField<R, L> kSysNumbers[] = {{&R::sysStatus, &L::status}};
const TextField<MemberRow, M> kMemberTexts[] = {
    {"name", &MemberRow::name, &M::name}, {"dataTypeName", &MemberRow::dataTypeName, &M::dataTypeName},
    {"initData", &MemberRow::initData, &M::initData}};
const NumberField<MemberRow, M> kMemberNumbers[] = {
    {&MemberRow::lineNo, &M::lineNo}, {&MemberRow::classKeyword, &M::classKeyword},
    {&MemberRow::dataTypeCode, &M::dataTypeCode}};
// clang-format on

std::string U(const CString& s) { return ToUtf8(s.Str()); }
std::string N(LONGLONG n) { return std::to_string(n); }  // by value: packed fields too

std::u16string Text(BSTR b) { return b ? std::u16string(b) : std::u16string(); }

void Note(std::string& names, const char* name, bool isNull) {
  if (isNull) names += names.empty() ? name : std::string(" ") + name;
}

template <class Texts, class Numbers, class Row, class Desc>
void Put(const Texts& texts, const Numbers& numbers, const Desc& desc, Row& row, Strings& s) {
  for (const auto& [name, text, descText] : texts) row.*text = s.OrNull(desc.*descText);
  for (const auto& [number, descNumber] : numbers) row.*number = desc.*descNumber;
}

// Also frees the texts it read.
template <class Texts, class Numbers, class Row, class Desc>
void Take(const Texts& texts, const Numbers& numbers, Row& row, Desc& desc, std::string& nullTexts) {
  for (const auto& [name, text, descText] : texts) {
    desc.*descText = Text(row.*text);
    Note(nullTexts, name, row.*text == nullptr);
    SysFreeString(row.*text);
  }
  for (const auto& [number, descNumber] : numbers) desc.*descNumber = row.*number;
}

// One AddRows and one SetRows call for rows of `descs`: the row IDs written
// here, the rest by `fill`.
template <class Row, class Desc, class Itf, class Fill>
std::vector<LONG> AddAll(Itf* rows, const std::vector<Desc>& descs, Fill fill) {
  std::vector<LONG> ids(descs.size());
  LONG d = 0;
  if (descs.empty()) return ids;
  Check(rows->AddRows(static_cast<LONG>(ids.size()), ids.data(), &d), "AddRows");
  Strings s;
  std::vector<Row> block(descs.size());
  for (std::size_t i = 0; i < descs.size(); ++i) {
    block[i].rowID = ids[i];
    fill(descs[i], block[i], s);
  }
  Check(rows->SetRows(static_cast<LONG>(block.size()), block.data(), &d), "SetRows");
  return ids;
}

// Frees the comment entries of a row read, noting a null text among them.
void FreeComment(stVNVariableComment& c, std::string& nullTexts) {
  bool anyNull = false;
  for (LONG i = 0; i < c.count; ++i) anyNull |= c.items[i].text == nullptr, SysFreeString(c.items[i].text);
  CoTaskMemFree(c.items);
  Note(nullTexts, "comment", anyNull);
}

// Every row of a high-capacity table in one GetRows call, each described
// by `take`, which frees what the database put in the row.
template <class Row, class Desc, class Itf, class Take>
std::vector<Desc> ReadAll(Itf* rows, Take take) {
  LONG d = 0, count = 0, returned = 0;
  Check(rows->GetRowCount(&count, &d), "GetRowCount");
  std::vector<Desc> descs;
  if (count <= 0) return descs;
  std::vector<LONG> ids(static_cast<std::size_t>(count));
  Check(rows->GetRowIDs(1, 2, 1, count, 0, ids.data(), &returned, &d), "GetRowIDs");
  ids.resize(static_cast<std::size_t>(returned));
  std::vector<Row> block(ids.size());
  if (!ids.empty()) Check(rows->GetRows(static_cast<LONG>(ids.size()), ids.data(), block.data(), &d), "GetRows");
  for (Row& r : block) descs.push_back(take(r));
  return descs;
}

}  // namespace

STOBJECTID AddClassicGVL(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name) {
  return AddData(db, project, VN_TYPE_GVL_COLLECTION, VN_TYPE_GVL, name);
}

STOBJECTID AddClassicSDT(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name) {
  return AddData(db, project, VN_TYPE_SDT_COLLECTION, VN_TYPE_SDT, name);
}

STOBJECTID AddGVLX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name) {
  return AddData(db, project, VN_TYPE_GVL_COLLECTION_X, VN_TYPE_GVL, name);
}

STOBJECTID AddSDTX(refdb::RefDatabase& db, const STOBJECTID& project, const std::u16string& name) {
  return AddData(db, project, VN_TYPE_SDT_COLLECTION_X, VN_TYPE_SDT, name);
}

STOBJECTID AddClassicMember(refdb::RefDatabase& db, const STOBJECTID& sdt, const MemberSpec& m) {
  LONG d = 0;
  STOBJECTID id{};
  Strings s;
  Check(db.Workspace()->CreateElementObject(sdt, &id, &d), "Workspace.CreateElementObject");
  Check(db.Workspace()->SetObjectName(id, s(m.name), &d), "Workspace.SetObjectName");
  Check(Interface<IVNDataABS_GlobalVariable>(db, id)->SetTypeString(s(m.typeName), &d), "GlobalVariable.SetTypeString");
  if (m.typeCode != -1)
    Check(Interface<IVNDataABS_VariableDataType>(db, id)->SetTypeCode(m.typeCode, &d), "VariableDataType.SetTypeCode");
  return id;
}

STOBJECTID AddClassicVariable(refdb::RefDatabase& db, const STOBJECTID& gvl, const VariableSpec& v) {
  const STOBJECTID id = AddClassicMember(db, gvl, v);
  LONG d = 0;
  Strings s;
  Check(Interface<IVNDataABS_Variable>(db, id)->SetExAccess(v.exAccess, &d), "Variable.SetExAccess");
  if (!v.memberDevices.empty()) {
    std::vector<BSTR> devices, extras;
    for (const DevicePair& p : v.memberDevices) devices.push_back(s(p.first)), extras.push_back(s(p.second));
    Check(Interface<IVNDataABS_StructVariable>(db, id)->SetMemberDevices(devices.data(), extras.data(),
                                                                         static_cast<LONG>(devices.size()), &d),
          "StructVariable.SetMemberDevices");
  }
  if (v.systemLabel.status != 0)
    Check(Interface<IVNDataABS_SystemLabel>(db, id)->SetStatus(v.systemLabel.status, &d), "SystemLabel.SetStatus");
  return id;
}

std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX, const std::vector<VariableRowSpec>& descs) {
  auto rows = Interface<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX);
  std::deque<std::vector<BSTR>> arrays;  // the member device arrays, kept until SetRows
  return AddAll<VarRow>(rows.Get(), descs, [&](const VariableRowSpec& v, VarRow& r, Strings& s) {
    Put(kVarTexts, kVarNumbers, v, r, s);
    Put(kSysTexts, kSysNumbers, v.systemLabel, r, s);
    std::vector<BSTR>&devices = arrays.emplace_back(), &extras = arrays.emplace_back();
    for (const DevicePair& p : v.memberDevices) devices.push_back(s(p.first)), extras.push_back(s(p.second));
    r.memberDeviceCount = static_cast<LONG>(devices.size());
    r.memberDevices = devices.empty() ? nullptr : devices.data();
    r.memberDeviceExtras = extras.empty() ? nullptr : extras.data();
    r.hasArraySizes = v.arraySizes.empty() ? 0 : 1;
    std::vector<stVNArraySizeX> sizes;
    for (const auto& a : v.arraySizes) sizes.push_back({a.first, a.second});
    LONG d = 0;
    if (!sizes.empty())
      Check(rows->SetArraySizes(r.rowID, static_cast<LONG>(sizes.size()), 1, sizes.data(), &d), "SetArraySizes");
  });
}

std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX, const std::vector<MemberRowSpec>& descs) {
  auto rows = Interface<IVNDataABS_HighCapacityStructure>(db, sdtX);
  return AddAll<MemberRow>(rows.Get(), descs, [](const MemberRowSpec& m, MemberRow& r, Strings& s) {
    Put(kMemberTexts, kMemberNumbers, m, r, s);
  });
}

std::vector<VariableRowSpec> ReadRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX) {
  auto rows = Interface<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX);
  return ReadAll<VarRow, VariableRowSpec>(rows.Get(), [&rows](VarRow& r) {
    VariableRowSpec v;
    v.rowID = r.rowID;
    Take(kVarTexts, kVarNumbers, r, v, v.nullTexts);
    Take(kSysTexts, kSysNumbers, r, v.systemLabel, v.nullTexts);
    FreeComment(r.comment, v.nullTexts);
    for (LONG i = 0; i < r.memberDeviceCount; ++i)
      SysFreeString(r.memberDevices[i]), SysFreeString(r.memberDeviceExtras[i]);
    CoTaskMemFree(r.memberDevices), CoTaskMemFree(r.memberDeviceExtras);
    SysFreeString(r.sysSpareText);
    LONG d = 0, count = 0, returned = 0;
    Check(rows->GetArraySizeCount(r.rowID, &count, &d), "HighCapacityGlobalVariable.GetArraySizeCount");
    std::vector<stVNArraySizeX> sizes(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count > 0)
      Check(rows->GetArraySizes(r.rowID, count, 1, sizes.data(), &returned, &d),
            "HighCapacityGlobalVariable.GetArraySizes");
    for (LONG i = 0; i < returned; ++i) v.arraySizes.emplace_back(static_cast<LONG>(sizes[i].value1), sizes[i].value2);
    return v;
  });
}

std::vector<MemberRowSpec> ReadMemberRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX) {
  auto rows = Interface<IVNDataABS_HighCapacityStructure>(db, sdtX);
  return ReadAll<MemberRow, MemberRowSpec>(rows.Get(), [](MemberRow& r) {
    MemberRowSpec m;
    m.rowID = r.rowID;
    Take(kMemberTexts, kMemberNumbers, r, m, m.nullTexts);
    FreeComment(r.comment, m.nullTexts);
    for (BSTR b : {r.spareText1, r.spareText2, r.spareText3, r.spareText4}) SysFreeString(b);
    return m;
  });
}

std::string Describe(const _STKX9LABELSTRUCTUREGVLDATA& r) {
  std::string s = N(r.lineNo) + " " + U(r.name) + " " + N(r.classKeyword) + " " + U(r.dataTypeName) + " " +
                  U(r.initData) + " " + N(r.structType) + " " + U(r.remark) + " ex" + U(r.exAccess) + " c:";
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i)
    if (!r.comments[i].IsEmpty()) s += N(i) + "=" + U(r.comments[i]) + ",";
  s += " d:";
  for (int i = 0; i < r.devices.GetSize(); ++i) s += U(r.devices[i].device) + "/" + U(r.devices[i].deviceExtra) + ",";
  for (int i = 0; i < r.arraySizes.GetSize(); ++i)
    s += "(" + N(r.arraySizes[i].value1) + "," + N(r.arraySizes[i].value2) + ")";
  s += " dyn:" + U(r.dynamicAttr1) + "," + U(r.dynamicAttr2) + "," + N(r.dynamicAttr3) + "," + U(r.dynamicAttr4) + "," +
       U(r.dynamicAttr5);
  const _STKX9SYSTEMLABELDATA& y = r.systemLabel;
  return s + " sys:" + N(y.ID) + "," + U(y.name) + "," + U(y.programName) + "," + N(y.CPUID) + "," + N(y.attribute) +
         "," + N(y.status) + "," + N(y.projectID) + "," + N(y.listID) + "," + U(y.comment) + "," + U(y.remark) + "," +
         N(y.dataType) + "," + N(y.dataSize) + "," + U(y.localName);
}

}  // namespace refdb_fixtures

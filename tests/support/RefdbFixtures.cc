// File: RefdbFixtures.cc
#include "tests/support/RefdbFixtures.h"

#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>

namespace refdb_fixtures {
namespace {

// Raises when a database call failed (any non-zero status).
void Check(HRESULT status, const char* op) {
  if (status != S_OK) throw std::runtime_error(std::string("refdb fixture: ") + op + " failed");
}

// BSTRs made for one builder call, freed with it.
class Strings {
 public:
  Strings() = default;
  Strings(const Strings&) = delete;
  Strings& operator=(const Strings&) = delete;
  ~Strings() {
    for (BSTR b : m_all) SysFreeString(b);
  }
  BSTR operator()(const std::u16string& s) {
    BSTR b = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (b == nullptr) throw std::bad_alloc();
    m_all.push_back(b);
    return b;
  }
  // Null for the empty text, as the component writes missing texts.
  BSTR OrNull(const std::u16string& s) { return s.empty() ? nullptr : (*this)(s); }

 private:
  std::vector<BSTR> m_all;
};

template <class T>
ComPtr<T> Interface(refdb::RefDatabase& db, const STOBJECTID& id, const char* what) {
  IUnknown* object = nullptr;
  LONG detail = 0;
  Check(db.Workspace()->GetDataObject(id, &object, &detail), "Workspace.GetDataObject");
  ComPtr<T> p;
  if (!QueryInterfaceTo(object, p)) throw std::runtime_error(std::string("refdb fixture: no ") + what);
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

// A new element of `data` named `name`, with the fields common to variables and members.
STOBJECTID AddElement(refdb::RefDatabase& db, const STOBJECTID& data, const std::u16string& name,
                      const std::u16string& typeName, const std::u16string& initData, const std::u16string& comment,
                      ULONG lineNo, LONG typeCode) {
  LONG d = 0;
  STOBJECTID id{};
  Strings s;
  Check(db.Workspace()->CreateElementObject(data, &id, &d), "Workspace.CreateElementObject");
  Check(db.Workspace()->SetObjectName(id, s(name), &d), "Workspace.SetObjectName");
  auto var = Interface<IVNDataABS_Variable>(db, id, "IVNDataABS_Variable");
  auto gv = Interface<IVNDataABS_GlobalVariable>(db, id, "IVNDataABS_GlobalVariable");
  Check(var->SetLineNo(lineNo, &d), "Variable.SetLineNo");
  Check(var->SetComment(s(comment), &d), "Variable.SetComment");
  Check(gv->SetTypeString(s(typeName), &d), "GlobalVariable.SetTypeString");
  Check(gv->SetInitData(s(initData), &d), "GlobalVariable.SetInitData");
  if (typeCode != -1)
    Check(Interface<IVNDataABS_VariableDataType>(db, id, "IVNDataABS_VariableDataType")->SetTypeCode(typeCode, &d),
          "VariableDataType.SetTypeCode");
  return id;
}

void WriteComments(const std::vector<std::u16string>& comments, std::vector<stVNVariableCommentItem>& items, Strings& s,
                   stVNVariableComment& out) {
  for (std::size_t i = 0; i < comments.size(); ++i) items.push_back({i + 9, s(comments[i])});
  out.count = static_cast<LONG>(items.size());
  out.items = items.empty() ? nullptr : items.data();
}

std::u16string Text(BSTR b) { return b ? std::u16string(b) : std::u16string(); }

std::vector<std::u16string> ReadComments(const stVNVariableComment& c) {
  std::vector<std::u16string> comments;
  for (LONG i = 0; i < c.count; ++i) {
    const ULONGLONG key = c.items[i].key;
    if (key < 9 || key > 24) continue;
    if (comments.size() <= key - 9) comments.resize(key - 8);
    comments[key - 9] = Text(c.items[i].text);
  }
  while (!comments.empty() && comments.back().empty()) comments.pop_back();
  return comments;
}

// The names of the null texts among `fields`, space-separated. A comment or
// member-device array counts as null when any of its texts is.
std::string NullTexts(std::initializer_list<std::pair<const char*, bool>> fields) {
  std::string names;
  for (const auto& [name, isNull] : fields) {
    if (!isNull) continue;
    if (!names.empty()) names += ' ';
    names += name;
  }
  return names;
}

bool AnyNullText(const stVNVariableComment& c) {
  for (LONG i = 0; i < c.count; ++i)
    if (c.items[i].text == nullptr) return true;
  return false;
}

bool AnyNullText(const BSTR* texts, LONG count) {
  for (LONG i = 0; i < count; ++i)
    if (texts[i] == nullptr) return true;
  return false;
}

// Frees every text and array of a row the database filled.
void FreeComment(stVNVariableComment& c) {
  for (LONG i = 0; i < c.count; ++i) SysFreeString(c.items[i].text);
  CoTaskMemFree(c.items);
}

void FreeRow(stVNGlobalVariableAndSystemLabelElementDataX& r) {
  for (BSTR b :
       {r.name, r.dataTypeName, r.initData, r.device, r.deviceExtra, r.remark, r.structTypeName, r.dynamicAttr1,
        r.dynamicAttr2, r.dynamicAttr4, r.dynamicAttr5, r.sysName, r.sysProgramName, r.sysSpareText, r.sysLocalName})
    SysFreeString(b);
  FreeComment(r.comment);
  for (LONG i = 0; i < r.memberDeviceCount; ++i) {
    SysFreeString(r.memberDevices[i]);
    SysFreeString(r.memberDeviceExtras[i]);
  }
  CoTaskMemFree(r.memberDevices);
  CoTaskMemFree(r.memberDeviceExtras);
  r = {};
}

void FreeRow(stVNStructElementDataX& r) {
  for (BSTR b : {r.name, r.dataTypeName, r.initData, r.spareText1, r.spareText2, r.spareText3, r.spareText4})
    SysFreeString(b);
  FreeComment(r.comment);
  r = {};
}

template <class Itf>
std::vector<LONG> RowIds(Itf* rows) {
  LONG d = 0, count = 0, returned = 0;
  Check(rows->GetRowCount(&count, &d), "GetRowCount");
  std::vector<LONG> ids(static_cast<std::size_t>(count));
  if (count > 0) Check(rows->GetRowIDs(1, 2, 1, count, 0, ids.data(), &returned, &d), "GetRowIDs");
  ids.resize(static_cast<std::size_t>(count > 0 ? returned : 0));
  return ids;
}

// Reads every row in one GetRows call; `convert` turns each into a desc.
template <class Itf, class Row, class Desc, class Convert>
std::vector<Desc> ReadAll(Itf* rows, Convert convert) {
  std::vector<LONG> ids = RowIds(rows);
  std::vector<Row> block(ids.size());
  LONG d = 0;
  std::vector<Desc> descs;
  if (ids.empty()) return descs;
  Check(rows->GetRows(static_cast<LONG>(ids.size()), ids.data(), block.data(), &d), "GetRows");
  descs.reserve(ids.size());
  for (Row& r : block) {
    descs.push_back(convert(r));
    FreeRow(r);
  }
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

STOBJECTID AddClassicVariable(refdb::RefDatabase& db, const STOBJECTID& gvl, const VariableSpec& v) {
  STOBJECTID id = AddElement(db, gvl, v.name, v.typeName, v.initData, v.comment, v.lineNo, v.typeCode);
  LONG d = 0;
  Strings s;
  auto var = Interface<IVNDataABS_Variable>(db, id, "IVNDataABS_Variable");
  auto gv = Interface<IVNDataABS_GlobalVariable>(db, id, "IVNDataABS_GlobalVariable");
  auto sv = Interface<IVNDataABS_StructVariable>(db, id, "IVNDataABS_StructVariable");
  Check(var->SetExAccess(v.exAccess, &d), "Variable.SetExAccess");
  Check(gv->SetRemark(s(v.remark), &d), "GlobalVariable.SetRemark");
  Check(gv->SetClassKeyWord(v.classKeyword, &d), "GlobalVariable.SetClassKeyWord");
  Check(gv->SetAllocatedDevice(s(v.device), &d), "GlobalVariable.SetAllocatedDevice");
  Check(gv->SetAllocatedDeviceExtra(s(v.deviceExtra), &d), "GlobalVariable.SetAllocatedDeviceExtra");
  Check(sv->SetStructKind(v.structKind, &d), "StructVariable.SetStructKind");
  if (!v.memberDevices.empty()) {
    std::vector<BSTR> devices, extras;
    for (const DevicePair& p : v.memberDevices) {
      devices.push_back(s(p.first));
      extras.push_back(s(p.second));
    }
    Check(sv->SetMemberDevices(devices.data(), extras.data(), static_cast<LONG>(devices.size()), &d),
          "StructVariable.SetMemberDevices");
  }
  const SystemLabelSpec& sl = v.systemLabel;
  if (sl.status != 0) {
    auto l = Interface<IVNDataABS_SystemLabel>(db, id, "IVNDataABS_SystemLabel");
    Check(l->SetName(s(sl.name), &d), "SystemLabel.SetName");
    Check(l->SetProgramName(s(sl.programName), &d), "SystemLabel.SetProgramName");
    Check(l->SetComment(s(sl.comment), &d), "SystemLabel.SetComment");
    Check(l->SetRemark(s(sl.remark), &d), "SystemLabel.SetRemark");
    Check(l->SetLocalName(s(sl.localName), &d), "SystemLabel.SetLocalName");
    Check(l->SetID(sl.id, &d), "SystemLabel.SetID");
    Check(l->SetCPUID(sl.cpuID, &d), "SystemLabel.SetCPUID");
    Check(l->SetProjectID(sl.projectID, &d), "SystemLabel.SetProjectID");
    Check(l->SetListID(sl.listID, &d), "SystemLabel.SetListID");
    Check(l->SetValueType(sl.dataType, &d), "SystemLabel.SetValueType");
    Check(l->SetAttribute(sl.attribute, &d), "SystemLabel.SetAttribute");
    Check(l->SetValueSize(sl.dataSize, &d), "SystemLabel.SetValueSize");
    Check(l->SetStatus(sl.status, &d), "SystemLabel.SetStatus");
  }
  return id;
}

STOBJECTID AddClassicMember(refdb::RefDatabase& db, const STOBJECTID& sdt, const MemberSpec& m) {
  return AddElement(db, sdt, m.name, m.typeName, m.initData, m.comment, m.lineNo, m.typeCode);
}

std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX, const std::vector<VariableRowSpec>& descs) {
  auto rows = Interface<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX, "IVNDataABS_HighCapacityGlobalVariable");
  std::vector<LONG> ids(descs.size());
  LONG d = 0;
  if (descs.empty()) return ids;
  Check(rows->AddRows(static_cast<LONG>(ids.size()), ids.data(), &d), "HighCapacityGlobalVariable.AddRows");
  Strings s;
  std::vector<stVNGlobalVariableAndSystemLabelElementDataX> block(descs.size());
  std::vector<std::vector<stVNVariableCommentItem>> items(descs.size());
  std::vector<std::vector<BSTR>> devices(descs.size()), extras(descs.size());
  for (std::size_t i = 0; i < descs.size(); ++i) {
    const VariableRowSpec& v = descs[i];
    auto& r = block[i];
    r.rowID = ids[i];
    r.lineNo = v.lineNo;
    r.name = s.OrNull(v.name);
    WriteComments(v.comments, items[i], s, r.comment);
    r.classKeyword = v.classKeyword;
    r.dataTypeName = s.OrNull(v.dataTypeName);
    r.initData = s.OrNull(v.initData);
    r.device = s.OrNull(v.device);
    r.deviceExtra = s.OrNull(v.deviceExtra);
    r.remark = s.OrNull(v.remark);
    r.structType = v.structType;
    r.dataTypeCode = v.dataTypeCode;
    r.hasArraySizes = v.arraySizes.empty() ? 0 : 1;
    r.structTypeName = s.OrNull(v.structTypeName);
    for (const DevicePair& p : v.memberDevices) {
      devices[i].push_back(s(p.first));
      extras[i].push_back(s(p.second));
    }
    r.memberDeviceCount = static_cast<LONG>(devices[i].size());
    r.memberDevices = devices[i].empty() ? nullptr : devices[i].data();
    r.memberDeviceExtras = extras[i].empty() ? nullptr : extras[i].data();
    r.dynamicAttr1 = s.OrNull(v.dynamicAttr1);
    r.dynamicAttr2 = s.OrNull(v.dynamicAttr2);
    r.dynamicAttr3 = v.dynamicAttr3;
    r.dynamicAttr4 = s.OrNull(v.dynamicAttr4);
    r.dynamicAttr5 = s.OrNull(v.dynamicAttr5);
    r.exAccess = v.exAccess;
    const SystemLabelSpec& sl = v.systemLabel;
    r.sysName = s.OrNull(sl.name);
    r.sysProgramName = s.OrNull(sl.programName);
    r.sysLocalName = s.OrNull(sl.localName);
    r.sysAttribute = sl.attribute;
    r.sysDataSize = sl.dataSize;
    r.sysDataType = sl.dataType;
    r.sysListID = sl.listID;
    r.sysID = sl.id;
    r.sysCPUID = sl.cpuID;
    r.sysProjectID = sl.projectID;
    r.sysStatus = sl.status;
    if (!v.arraySizes.empty()) {
      std::vector<stVNArraySizeX> sizes;
      for (const auto& a : v.arraySizes) sizes.push_back({a.first, a.second});
      Check(rows->SetArraySizes(ids[i], static_cast<LONG>(sizes.size()), 1, sizes.data(), &d),
            "HighCapacityGlobalVariable.SetArraySizes");
    }
  }
  Check(rows->SetRows(static_cast<LONG>(block.size()), block.data(), &d), "HighCapacityGlobalVariable.SetRows");
  return ids;
}

std::vector<LONG> AddRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX, const std::vector<MemberRowSpec>& descs) {
  auto rows = Interface<IVNDataABS_HighCapacityStructure>(db, sdtX, "IVNDataABS_HighCapacityStructure");
  std::vector<LONG> ids(descs.size());
  LONG d = 0;
  if (descs.empty()) return ids;
  Check(rows->AddRows(static_cast<LONG>(ids.size()), ids.data(), &d), "HighCapacityStructure.AddRows");
  Strings s;
  std::vector<stVNStructElementDataX> block(descs.size());
  std::vector<std::vector<stVNVariableCommentItem>> items(descs.size());
  for (std::size_t i = 0; i < descs.size(); ++i) {
    const MemberRowSpec& m = descs[i];
    auto& r = block[i];
    r.rowID = ids[i];
    r.lineNo = m.lineNo;
    r.name = s.OrNull(m.name);
    WriteComments(m.comments, items[i], s, r.comment);
    r.classKeyword = m.classKeyword;
    r.dataTypeName = s.OrNull(m.dataTypeName);
    r.initData = s.OrNull(m.initData);
    r.dataTypeCode = m.dataTypeCode;
  }
  Check(rows->SetRows(static_cast<LONG>(block.size()), block.data(), &d), "HighCapacityStructure.SetRows");
  return ids;
}

std::vector<VariableRowSpec> ReadRowsX(refdb::RefDatabase& db, const STOBJECTID& gvlX) {
  auto rows = Interface<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX, "IVNDataABS_HighCapacityGlobalVariable");
  auto* itf = rows.Get();
  return ReadAll<IVNDataABS_HighCapacityGlobalVariable, stVNGlobalVariableAndSystemLabelElementDataX, VariableRowSpec>(
      itf, [itf](const stVNGlobalVariableAndSystemLabelElementDataX& r) {
        VariableRowSpec v;
        v.rowID = r.rowID;
        v.lineNo = r.lineNo;
        v.name = Text(r.name);
        v.comments = ReadComments(r.comment);
        v.classKeyword = r.classKeyword;
        v.dataTypeName = Text(r.dataTypeName);
        v.initData = Text(r.initData);
        v.device = Text(r.device);
        v.deviceExtra = Text(r.deviceExtra);
        v.remark = Text(r.remark);
        v.structType = r.structType;
        v.dataTypeCode = r.dataTypeCode;
        v.structTypeName = Text(r.structTypeName);
        for (LONG i = 0; i < r.memberDeviceCount; ++i)
          v.memberDevices.emplace_back(Text(r.memberDevices[i]), Text(r.memberDeviceExtras[i]));
        v.dynamicAttr1 = Text(r.dynamicAttr1);
        v.dynamicAttr2 = Text(r.dynamicAttr2);
        v.dynamicAttr3 = r.dynamicAttr3;
        v.dynamicAttr4 = Text(r.dynamicAttr4);
        v.dynamicAttr5 = Text(r.dynamicAttr5);
        v.exAccess = r.exAccess;
        SystemLabelSpec& sl = v.systemLabel;
        sl.name = Text(r.sysName);
        sl.programName = Text(r.sysProgramName);
        sl.localName = Text(r.sysLocalName);
        sl.attribute = static_cast<WORD>(r.sysAttribute);
        sl.dataSize = static_cast<WORD>(r.sysDataSize);
        sl.dataType = r.sysDataType;
        sl.listID = r.sysListID;
        sl.id = r.sysID;
        sl.cpuID = r.sysCPUID;
        sl.projectID = r.sysProjectID;
        sl.status = r.sysStatus;
        v.nullTexts = NullTexts({{"name", r.name == nullptr},
                                 {"comment", AnyNullText(r.comment)},
                                 {"dataTypeName", r.dataTypeName == nullptr},
                                 {"initData", r.initData == nullptr},
                                 {"device", r.device == nullptr},
                                 {"deviceExtra", r.deviceExtra == nullptr},
                                 {"remark", r.remark == nullptr},
                                 {"structTypeName", r.structTypeName == nullptr},
                                 {"memberDevices", AnyNullText(r.memberDevices, r.memberDeviceCount)},
                                 {"memberDeviceExtras", AnyNullText(r.memberDeviceExtras, r.memberDeviceCount)},
                                 {"dynamicAttr1", r.dynamicAttr1 == nullptr},
                                 {"dynamicAttr2", r.dynamicAttr2 == nullptr},
                                 {"dynamicAttr4", r.dynamicAttr4 == nullptr},
                                 {"dynamicAttr5", r.dynamicAttr5 == nullptr},
                                 {"sysName", r.sysName == nullptr},
                                 {"sysProgramName", r.sysProgramName == nullptr},
                                 {"sysLocalName", r.sysLocalName == nullptr}});
        LONG d = 0, count = 0, returned = 0;
        Check(itf->GetArraySizeCount(r.rowID, &count, &d), "HighCapacityGlobalVariable.GetArraySizeCount");
        if (count > 0) {
          std::vector<stVNArraySizeX> sizes(static_cast<std::size_t>(count));
          Check(itf->GetArraySizes(r.rowID, count, 1, sizes.data(), &returned, &d),
                "HighCapacityGlobalVariable.GetArraySizes");
          for (LONG i = 0; i < returned; ++i)
            v.arraySizes.emplace_back(static_cast<LONG>(sizes[static_cast<std::size_t>(i)].value1),
                                      sizes[static_cast<std::size_t>(i)].value2);
        }
        return v;
      });
}

std::vector<MemberRowSpec> ReadMemberRowsX(refdb::RefDatabase& db, const STOBJECTID& sdtX) {
  auto rows = Interface<IVNDataABS_HighCapacityStructure>(db, sdtX, "IVNDataABS_HighCapacityStructure");
  return ReadAll<IVNDataABS_HighCapacityStructure, stVNStructElementDataX, MemberRowSpec>(
      rows.Get(), [](const stVNStructElementDataX& r) {
        MemberRowSpec m;
        m.rowID = r.rowID;
        m.lineNo = r.lineNo;
        m.name = Text(r.name);
        m.comments = ReadComments(r.comment);
        m.dataTypeName = Text(r.dataTypeName);
        m.initData = Text(r.initData);
        m.classKeyword = r.classKeyword;
        m.dataTypeCode = r.dataTypeCode;
        m.nullTexts = NullTexts({{"name", r.name == nullptr},
                                 {"comment", AnyNullText(r.comment)},
                                 {"dataTypeName", r.dataTypeName == nullptr},
                                 {"initData", r.initData == nullptr}});
        return m;
      });
}

}  // namespace refdb_fixtures

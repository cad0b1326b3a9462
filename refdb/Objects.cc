// File: Objects.cc
//
// The objects of the reference database other than the row tables: the
// project with its label service, the collections with their settings and
// storage, the generic data and the classic elements.
#include <algorithm>
#include <string>

#include "refdb/RefDatabaseImpl.h"

namespace refdb {

// --- ProjectObject ----------------------------------------------------------------

void ProjectObject::IndexStructure(Object* sdt) { m_structures[sdt->m_strName].push_back(sdt); }

void ProjectObject::UnindexStructure(Object* sdt) {
  auto it = m_structures.find(sdt->m_strName);
  if (it == m_structures.end()) return;
  auto& list = it->second;
  list.erase(std::remove(list.begin(), list.end(), sdt), list.end());
  if (list.empty()) m_structures.erase(it);
}

Object* ProjectObject::FindStructure(const std::u16string& name) const {
  auto it = m_structures.find(name);
  return it == m_structures.end() || it->second.empty() ? nullptr : it->second.front();
}

// --- LabelServiceObject --------------------------------------------------------------

HRESULT LabelServiceObject::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  RefDatabaseImpl* db = m_pProject->m_pDb;
  if (db->IsServiceWithheld(iid)) return E_NOINTERFACE;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IIDOf<IVNDataABS_LabelService>()))
    *ppv = static_cast<IVNDataABS_LabelService*>(this);
  else if (IsEqualIID(iid, IIDOf<IVNDataABS_DeviceConversion>()))
    *ppv = static_cast<IVNDataABS_DeviceConversion*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

// The service lives as long as its project, so its references are the project's.
ULONG LabelServiceObject::AddRef() { return m_pProject->DoAddRef(); }
ULONG LabelServiceObject::Release() { return m_pProject->DoRelease(); }

bool LabelServiceObject::Enter(Op op, LONG* detail, HRESULT* status) { return m_pProject->Enter(op, detail, status); }

HRESULT LabelServiceObject::GetBlock(LONG* size, BYTE** data, LONG* detail) {
  REFDB_ENTER(LabelService_GetBlock);
  if (size == nullptr || data == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *size = 0;
  *data = nullptr;
  if (m_block.empty()) return S_OK;
  void* p = CoTaskMemAlloc(m_block.size());
  if (p == nullptr) return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
  std::memcpy(p, m_block.data(), m_block.size());
  *data = static_cast<BYTE*>(p);
  *size = static_cast<LONG>(m_block.size());
  return S_OK;
}

HRESULT LabelServiceObject::SetBlock(LONG size, BYTE* data, LONG* detail) {
  REFDB_ENTER(LabelService_SetBlock);
  if (size < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (size > 0 && data == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  m_block.assign(data, data + size);
  return S_OK;
}

HRESULT LabelServiceObject::GetBlockSize(LONGLONG* size, LONG* detail) {
  REFDB_ENTER(LabelService_GetBlockSize);
  if (size == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *size = m_bSizeOverridden ? m_llReportedSize : static_cast<LONGLONG>(m_block.size());
  return S_OK;
}

const std::u16string& LabelServiceObject::DeviceFor(const std::u16string& label) {
  auto it = m_conversionIndex.find(label);
  if (it != m_conversionIndex.end()) return m_conversions[it->second].second;
  // Devices are handed out in request order from D10000 on, one word each.
  std::string number = std::to_string(10000 + m_conversions.size());
  std::u16string device(u"D");
  device.append(number.begin(), number.end());
  m_conversionIndex.emplace(label, m_conversions.size());
  m_conversions.emplace_back(label, std::move(device));
  return m_conversions.back().second;
}

HRESULT LabelServiceObject::ConvertLabels(LONG count, stVNLabelConversion* requests, LONG* detail) {
  REFDB_ENTER(DeviceConversion_ConvertLabels);
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && requests == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  for (LONG i = 0; i < count; ++i) {
    stVNLabelConversion& r = requests[i];
    const std::u16string& device = DeviceFor(FromBstr(r.labelText));
    r.deviceText = SysAllocStringLen(device.data(), static_cast<UINT>(device.size()));
    r.extraText = SysAllocString(u"");
    if (r.deviceText == nullptr || r.extraText == nullptr) {
      // Hand back nothing rather than half an answer.
      for (LONG j = 0; j <= i; ++j) {
        SysFreeString(requests[j].deviceText);
        SysFreeString(requests[j].extraText);
        requests[j].deviceText = requests[j].extraText = nullptr;
      }
      return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
    }
  }
  return S_OK;
}

// --- collections ---------------------------------------------------------------------

void* GvlCollectionObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_GlobalLabelSetting>())) return static_cast<IVNDataABS_GlobalLabelSetting*>(this);
  return nullptr;
}

HRESULT GvlCollectionObject::GetExternalFlag(LONG* flag, LONG* detail) {
  REFDB_ENTER(GlobalLabelSetting_GetExternalFlag);
  if (flag == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *flag = m_lFlag;
  return S_OK;
}

HRESULT GvlCollectionObject::SetExternalFlag(LONG flag, LONG* detail) {
  REFDB_ENTER(GlobalLabelSetting_SetExternalFlag);
  m_lFlag = flag;
  return S_OK;
}

void* HcGvlCollectionObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_Storage>())) return static_cast<IVNDataABS_Storage*>(this);
  if (IsEqualIID(iid, IIDOf<IVNDataABS_HighCapacityLabelSetting>()))
    return static_cast<IVNDataABS_HighCapacityLabelSetting*>(this);
  return nullptr;
}

HRESULT HcGvlCollectionObject::Flush(LONG* detail) {
  REFDB_ENTER(Storage_Flush);
  ++m_llFlushes;
  return S_OK;
}

HRESULT HcGvlCollectionObject::GetExternalFlag(LONG* flag, LONG* detail) {
  REFDB_ENTER(HighCapacityLabelSetting_GetExternalFlag);
  if (flag == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *flag = m_lFlag;
  return S_OK;
}

// --- GenericDataObject ------------------------------------------------------------------

void* GenericDataObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_GenericData>())) return static_cast<IVNDataABS_GenericData*>(this);
  return nullptr;
}

HRESULT GenericDataObject::GetGenericData(LONG kind, LONG* length, BYTE* buffer, LONG* detail) {
  REFDB_ENTER(GenericData_GetGenericData);
  if (length == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const std::vector<BYTE>* blob = nullptr;
  for (const auto& b : m_blobs)
    if (b.first == kind) blob = &b.second;
  const LONG size = blob ? static_cast<LONG>(blob->size()) : 0;
  if (buffer == nullptr) {
    *length = size;
    return S_OK;
  }
  if (*length < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  const LONG n = std::min(*length, size);
  if (n > 0) std::memcpy(buffer, blob->data(), static_cast<std::size_t>(n));
  *length = n;
  return S_OK;
}

HRESULT GenericDataObject::SetGenericData(LONG kind, LONG length, const BYTE* bytes, LONG* detail) {
  REFDB_ENTER(GenericData_SetGenericData);
  if (length < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (length > 0 && bytes == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  auto it = std::find_if(m_blobs.begin(), m_blobs.end(), [kind](const auto& b) { return b.first == kind; });
  if (length == 0) {
    if (it != m_blobs.end()) m_blobs.erase(it);
    return S_OK;
  }
  if (it == m_blobs.end()) it = m_blobs.insert(m_blobs.end(), {kind, {}});
  it->second.assign(bytes, bytes + length);
  return S_OK;
}

// --- ElementObject ---------------------------------------------------------------------

void* ElementObject::Offer(REFIID iid) {
  if (IsEqualIID(iid, IIDOf<IVNDataABS_Variable>())) return static_cast<IVNDataABS_Variable*>(this);
  if (IsEqualIID(iid, IIDOf<IVNDataABS_GlobalVariable>())) return static_cast<IVNDataABS_GlobalVariable*>(this);
  if (IsEqualIID(iid, IIDOf<IVNDataABS_VariableDataType>())) return static_cast<IVNDataABS_VariableDataType*>(this);
  if (m_lType != VN_TYPE_GLOBAL_VARIABLE) return nullptr;
  if (IsEqualIID(iid, IIDOf<IVNDataABS_StructVariable>())) return static_cast<IVNDataABS_StructVariable*>(this);
  if (IsEqualIID(iid, IIDOf<IVNDataABS_SystemLabel>())) return static_cast<IVNDataABS_SystemLabel*>(this);
  return nullptr;
}

HRESULT ElementObject::GetTextField(Op op, const CString& value, BSTR* out, LONG* detail) {
  HRESULT status = S_OK;
  const CallScope scope;
  if (Enter(op, detail, &status)) return status;
  if (out == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  if (!ToBstr(value, out)) return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
  return S_OK;
}

HRESULT ElementObject::SetTextField(Op op, CString& value, BSTR in, LONG* detail) {
  HRESULT status = S_OK;
  const CallScope scope;
  if (Enter(op, detail, &status)) return status;
  value = SharedText(in);
  return S_OK;
}

template <class T>
HRESULT ElementObject::GetNumber(Op op, const T& value, T* out, LONG* detail) {
  HRESULT status = S_OK;
  const CallScope scope;
  if (Enter(op, detail, &status)) return status;
  if (out == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  *out = value;
  return S_OK;
}

template <class T>
HRESULT ElementObject::SetNumber(Op op, T& value, T in, LONG* detail) {
  HRESULT status = S_OK;
  const CallScope scope;
  if (Enter(op, detail, &status)) return status;
  value = in;
  return S_OK;
}

SystemLabelFields& ElementObject::Sys() {
  if (!m_pSys) m_pSys = std::make_unique<SystemLabelFields>();
  return *m_pSys;
}

const SystemLabelFields& ElementObject::SysOrDefault() const {
  static const SystemLabelFields kEmpty;
  return m_pSys ? *m_pSys : kEmpty;
}

HRESULT ElementObject::SetLineNo(ULONG v, LONG* d) { return SetNumber(Op::Variable_SetLineNo, m_ulLineNo, v, d); }
HRESULT ElementObject::GetLineNo(ULONG* v, LONG* d) { return GetNumber(Op::Variable_GetLineNo, m_ulLineNo, v, d); }
HRESULT ElementObject::VarSetComment(BSTR v, LONG* d) {
  return SetTextField(Op::Variable_SetComment, m_strComment, v, d);
}
HRESULT ElementObject::VarGetComment(BSTR* v, LONG* d) {
  return GetTextField(Op::Variable_GetComment, m_strComment, v, d);
}
HRESULT ElementObject::SetExAccess(LONG v, LONG* d) { return SetNumber(Op::Variable_SetExAccess, m_lExAccess, v, d); }
HRESULT ElementObject::GetExAccess(LONG* v, LONG* d) { return GetNumber(Op::Variable_GetExAccess, m_lExAccess, v, d); }

HRESULT ElementObject::SetInitData(BSTR v, LONG* d) {
  return SetTextField(Op::GlobalVariable_SetInitData, m_strInitData, v, d);
}
HRESULT ElementObject::GetInitData(BSTR* v, LONG* d) {
  return GetTextField(Op::GlobalVariable_GetInitData, m_strInitData, v, d);
}
HRESULT ElementObject::SetTypeString(BSTR v, LONG* d) {
  return SetTextField(Op::GlobalVariable_SetTypeString, m_strTypeString, v, d);
}
HRESULT ElementObject::GetTypeString(BSTR* v, LONG* d) {
  return GetTextField(Op::GlobalVariable_GetTypeString, m_strTypeString, v, d);
}
HRESULT ElementObject::GvSetRemark(BSTR v, LONG* d) {
  return SetTextField(Op::GlobalVariable_SetRemark, m_strRemark, v, d);
}
HRESULT ElementObject::GvGetRemark(BSTR* v, LONG* d) {
  return GetTextField(Op::GlobalVariable_GetRemark, m_strRemark, v, d);
}
HRESULT ElementObject::SetClassKeyWord(LONG v, LONG* d) {
  return SetNumber(Op::GlobalVariable_SetClassKeyWord, m_lClassKeyWord, v, d);
}
HRESULT ElementObject::GetClassKeyWord(LONG* v, LONG* d) {
  return GetNumber(Op::GlobalVariable_GetClassKeyWord, m_lClassKeyWord, v, d);
}
HRESULT ElementObject::SetAllocatedDevice(BSTR v, LONG* d) {
  return SetTextField(Op::GlobalVariable_SetAllocatedDevice, m_strDevice, v, d);
}
HRESULT ElementObject::GetAllocatedDevice(BSTR* v, LONG* d) {
  return GetTextField(Op::GlobalVariable_GetAllocatedDevice, m_strDevice, v, d);
}
HRESULT ElementObject::SetAllocatedDeviceExtra(BSTR v, LONG* d) {
  return SetTextField(Op::GlobalVariable_SetAllocatedDeviceExtra, m_strDeviceExtra, v, d);
}
HRESULT ElementObject::GetAllocatedDeviceExtra(BSTR* v, LONG* d) {
  return GetTextField(Op::GlobalVariable_GetAllocatedDeviceExtra, m_strDeviceExtra, v, d);
}

HRESULT ElementObject::SetTypeCode(LONG code, LONG* detail) {
  REFDB_ENTER(VariableDataType_SetTypeCode);
  m_lTypeCode = code;
  m_bHasTypeCode = true;
  return S_OK;
}

HRESULT ElementObject::SetTypeName(BSTR name, LONG* detail) {
  REFDB_ENTER(VariableDataType_SetTypeName);
  m_strTypeName = SharedText(name);
  m_bHasTypeName = true;
  return S_OK;
}

HRESULT ElementObject::SetStructDefineID(STOBJECTID id, LONG* detail) {
  REFDB_ENTER(VariableDataType_SetStructDefineID);
  m_structDefineID = id;
  m_bHasStructDefine = true;
  return S_OK;
}

HRESULT ElementObject::SetStructKind(LONG v, LONG* d) {
  return SetNumber(Op::StructVariable_SetStructKind, m_lStructKind, v, d);
}
HRESULT ElementObject::GetStructKind(LONG* v, LONG* d) {
  return GetNumber(Op::StructVariable_GetStructKind, m_lStructKind, v, d);
}

HRESULT ElementObject::SetMemberDevices(BSTR* devices, BSTR* extras, LONG count, LONG* detail) {
  REFDB_ENTER(StructVariable_SetMemberDevices);
  if (count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  if (count > 0 && (devices == nullptr || extras == nullptr))
    return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  m_arrMemberDevices.assign(static_cast<std::size_t>(count), std::u16string());
  m_arrMemberExtras.assign(static_cast<std::size_t>(count), std::u16string());
  for (LONG i = 0; i < count; ++i) {
    m_arrMemberDevices[static_cast<std::size_t>(i)] = FromBstr(devices[i]);
    m_arrMemberExtras[static_cast<std::size_t>(i)] = FromBstr(extras[i]);
  }
  return S_OK;
}

HRESULT ElementObject::GetMemberDevices(BSTR* devices, BSTR* extras, LONG* count, LONG* detail) {
  REFDB_ENTER(StructVariable_GetMemberDevices);
  if (count == nullptr) return Fail(detail, kStatusBadPointer, kDetailBadArgument);
  const LONG stored = static_cast<LONG>(m_arrMemberDevices.size());
  if (devices == nullptr && extras == nullptr) {
    *count = stored;
    return S_OK;
  }
  if (*count < 0) return Fail(detail, kStatusInvalidArgument, kDetailBadArgument);
  const LONG n = std::min(*count, stored);
  // Every slot filled gets a BSTR, empty texts included.
  auto fill = [n](BSTR* slots, const std::vector<std::u16string>& texts) {
    if (slots == nullptr) return true;
    for (LONG i = 0; i < n; ++i) {
      const std::u16string& t = texts[static_cast<std::size_t>(i)];
      slots[i] = SysAllocStringLen(t.data(), static_cast<UINT>(t.size()));
      if (slots[i] == nullptr) {
        for (LONG j = 0; j < i; ++j) {
          SysFreeString(slots[j]);
          slots[j] = nullptr;
        }
        return false;
      }
    }
    return true;
  };
  if (!fill(devices, m_arrMemberDevices)) return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
  if (!fill(extras, m_arrMemberExtras)) {
    if (devices)
      for (LONG j = 0; j < n; ++j) {
        SysFreeString(devices[j]);
        devices[j] = nullptr;
      }
    return Fail(detail, kStatusOutOfMemory, kDetailOutOfMemory);
  }
  *count = n;
  return S_OK;
}

// The system-label part is made on its first write; reads before that see
// zeros and empty texts.
HRESULT ElementObject::SetName(BSTR v, LONG* d) { return SetTextField(Op::SystemLabel_SetName, Sys().name, v, d); }
HRESULT ElementObject::GetName(BSTR* v, LONG* d) {
  return GetTextField(Op::SystemLabel_GetName, SysOrDefault().name, v, d);
}
HRESULT ElementObject::SetProgramName(BSTR v, LONG* d) {
  return SetTextField(Op::SystemLabel_SetProgramName, Sys().programName, v, d);
}
HRESULT ElementObject::GetProgramName(BSTR* v, LONG* d) {
  return GetTextField(Op::SystemLabel_GetProgramName, SysOrDefault().programName, v, d);
}
HRESULT ElementObject::SysSetComment(BSTR v, LONG* d) {
  return SetTextField(Op::SystemLabel_SetComment, Sys().comment, v, d);
}
HRESULT ElementObject::SysGetComment(BSTR* v, LONG* d) {
  return GetTextField(Op::SystemLabel_GetComment, SysOrDefault().comment, v, d);
}
HRESULT ElementObject::SysSetRemark(BSTR v, LONG* d) {
  return SetTextField(Op::SystemLabel_SetRemark, Sys().remark, v, d);
}
HRESULT ElementObject::SysGetRemark(BSTR* v, LONG* d) {
  return GetTextField(Op::SystemLabel_GetRemark, SysOrDefault().remark, v, d);
}
HRESULT ElementObject::SetValueType(LONG v, LONG* d) {
  return SetNumber(Op::SystemLabel_SetValueType, Sys().valueType, v, d);
}
HRESULT ElementObject::GetValueType(LONG* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetValueType, SysOrDefault().valueType, v, d);
}
HRESULT ElementObject::SetListID(LONG v, LONG* d) { return SetNumber(Op::SystemLabel_SetListID, Sys().listID, v, d); }
HRESULT ElementObject::GetListID(LONG* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetListID, SysOrDefault().listID, v, d);
}
HRESULT ElementObject::SetID(LONG v, LONG* d) { return SetNumber(Op::SystemLabel_SetID, Sys().id, v, d); }
HRESULT ElementObject::GetID(LONG* v, LONG* d) { return GetNumber(Op::SystemLabel_GetID, SysOrDefault().id, v, d); }
HRESULT ElementObject::SetCPUID(LONG v, LONG* d) { return SetNumber(Op::SystemLabel_SetCPUID, Sys().cpuID, v, d); }
HRESULT ElementObject::GetCPUID(LONG* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetCPUID, SysOrDefault().cpuID, v, d);
}
HRESULT ElementObject::SetProjectID(LONG v, LONG* d) {
  return SetNumber(Op::SystemLabel_SetProjectID, Sys().projectID, v, d);
}
HRESULT ElementObject::GetProjectID(LONG* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetProjectID, SysOrDefault().projectID, v, d);
}
HRESULT ElementObject::SetAttribute(WORD v, LONG* d) {
  return SetNumber(Op::SystemLabel_SetAttribute, Sys().attribute, v, d);
}
HRESULT ElementObject::GetAttribute(WORD* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetAttribute, SysOrDefault().attribute, v, d);
}
HRESULT ElementObject::SetValueSize(WORD v, LONG* d) {
  return SetNumber(Op::SystemLabel_SetValueSize, Sys().valueSize, v, d);
}
HRESULT ElementObject::GetValueSize(WORD* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetValueSize, SysOrDefault().valueSize, v, d);
}
HRESULT ElementObject::SetStatus(LONG v, LONG* d) { return SetNumber(Op::SystemLabel_SetStatus, Sys().status, v, d); }
HRESULT ElementObject::GetStatus(LONG* v, LONG* d) {
  return GetNumber(Op::SystemLabel_GetStatus, SysOrDefault().status, v, d);
}
HRESULT ElementObject::SetLocalName(BSTR v, LONG* d) {
  return SetTextField(Op::SystemLabel_SetLocalName, Sys().localName, v, d);
}
HRESULT ElementObject::GetLocalName(BSTR* v, LONG* d) {
  return GetTextField(Op::SystemLabel_GetLocalName, SysOrDefault().localName, v, d);
}

}  // namespace refdb

// Field accessors of classic database elements: each reads or writes one
// field of a variable, a structure member or a variable's system-label part
// through the element interface that carries it.
//
// Shared contract of every accessor: the element pointer is borrowed; the
// interface obtained from it is released before the accessor returns, on
// every path. Results: 0 success, 2 the database call returned a non-zero
// status, 7 the element does not answer for the interface. A text getter
// that fails leaves the caller's text as it was; a number getter hands the
// database the caller's own variable.
#include <algorithm>
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/KX9DataTypes.h"

namespace {

// A BSTR array of `n` slots that frees every non-null slot and itself.
class CBstrArray {
 public:
  explicit CBstrArray(std::size_t n) : m_n(n), m_p(new (std::nothrow) BSTR[n]()) {}
  ~CBstrArray() {
    if (m_p == nullptr) return;
    for (std::size_t i = 0; i < m_n; ++i) SysFreeString(m_p[i]);
    delete[] m_p;
  }
  CBstrArray(const CBstrArray&) = delete;
  CBstrArray& operator=(const CBstrArray&) = delete;
  bool Ok() const { return m_p != nullptr; }
  BSTR* Get() const { return m_p; }

 private:
  std::size_t m_n;
  BSTR* m_p;
};

template <class I>
using TextGetter = HRESULT (I::*)(BSTR*, LONG*);
template <class I>
using TextSetter = HRESULT (I::*)(BSTR, LONG*);

// QI -> one getter call -> copy the text on success.
template <class I>
ULONG GetTextField(IUnknown* pElement, TextGetter<I> pfnGet, CString& strText) {
  ComPtr<I> pInterface;
  if (!QueryInterfaceTo(pElement, pInterface)) return KX9_ERR_NO_INTERFACE;
  BstrHolder bstr;
  LONG lDetail = 0;
  if ((pInterface.Get()->*pfnGet)(bstr.Put(), &lDetail) != 0) return KX9_ERR_DB;
  strText = BstrText(bstr.Get());
  return KX9_OK;
}

// QI -> one setter call with a BSTR made for the call.
template <class I>
ULONG SetTextField(IUnknown* pElement, TextSetter<I> pfnSet, const CString& strText) {
  ComPtr<I> pInterface;
  if (!QueryInterfaceTo(pElement, pInterface)) return KX9_ERR_NO_INTERFACE;
  BstrHolder bstr(strText.AllocSysString());
  LONG lDetail = 0;
  return (pInterface.Get()->*pfnSet)(bstr.Get(), &lDetail) != 0 ? KX9_ERR_DB : KX9_OK;
}

// QI -> one getter call that writes straight into the caller's variable.
template <class I, class V>
ULONG GetValueField(IUnknown* pElement, HRESULT (I::*pfnGet)(V*, LONG*), V& value) {
  ComPtr<I> pInterface;
  if (!QueryInterfaceTo(pElement, pInterface)) return KX9_ERR_NO_INTERFACE;
  LONG lDetail = 0;
  return (pInterface.Get()->*pfnGet)(&value, &lDetail) != 0 ? KX9_ERR_DB : KX9_OK;
}

template <class I, class V>
ULONG SetValueField(IUnknown* pElement, HRESULT (I::*pfnSet)(V, LONG*), V value) {
  ComPtr<I> pInterface;
  if (!QueryInterfaceTo(pElement, pInterface)) return KX9_ERR_NO_INTERFACE;
  LONG lDetail = 0;
  return (pInterface.Get()->*pfnSet)(value, &lDetail) != 0 ? KX9_ERR_DB : KX9_OK;
}

}  // namespace

// --- variable: line number, comment, external access -----------------------

ULONG CKX9ComFuncLabelStructure::GetVariableLineNo(IUnknown* pElement, ULONG& ulLineNo) {
  return GetValueField(pElement, &IVNDataABS_Variable::GetLineNo, ulLineNo);
}

ULONG CKX9ComFuncLabelStructure::SetVariableLineNo(IUnknown* pElement, ULONG ulLineNo) {
  return SetValueField(pElement, &IVNDataABS_Variable::SetLineNo, ulLineNo);
}

ULONG CKX9ComFuncLabelStructure::GetVariableComment(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_Variable::GetComment, strText);
}

ULONG CKX9ComFuncLabelStructure::SetVariableComment(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_Variable::SetComment, strText);
}

// The classic database keeps one comment per element: index 0. Other
// indexes are accepted and ignored so that callers can walk all sixteen.
ULONG CKX9ComFuncLabelStructure::GetVariableComment(IUnknown* pElement, UINT uIndex, CString& strText) {
  if (uIndex != 0) return KX9_OK;
  return GetVariableComment(pElement, strText);
}

ULONG CKX9ComFuncLabelStructure::SetVariableComment(IUnknown* pElement, UINT uIndex, CString strText) {
  if (uIndex != 0) return KX9_OK;
  return SetVariableComment(pElement, std::move(strText));
}

ULONG CKX9ComFuncLabelStructure::GetVariableExAccess(IUnknown* pElement, CString& strText) {
  LONG lFlag = 0;
  ULONG ulResult = GetValueField(pElement, &IVNDataABS_Variable::GetExAccess, lFlag);
  if (ulResult == KX9_OK) strText = (lFlag == 1) ? KX9TextOne() : KX9TextZero();
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::SetVariableExAccess(IUnknown* pElement, CString strText) {
  const LONG lFlag = (strText == u"1") ? 1 : 0;
  return SetValueField(pElement, &IVNDataABS_Variable::SetExAccess, lFlag);
}

// --- global variable: type, initial value, class keyword, remark ------------

ULONG CKX9ComFuncLabelStructure::GetDataTypeString(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_GlobalVariable::GetTypeString, strText);
}

// Writes the type name and then the basic type code it names (100 when the
// name is not a basic type; a structured variable gets its code 9 later from
// SetStructDefine). A failed name write leaves the code alone.
ULONG CKX9ComFuncLabelStructure::SetDataTypeString(IUnknown* pElement, CString strText) {
  ULONG ulResult = SetTextField(pElement, &IVNDataABS_GlobalVariable::SetTypeString, strText);
  if (ulResult != KX9_OK) return ulResult;
  const LONG lCode = KX9FindDataTypeCode(strText);
  return SetValueField(pElement, &IVNDataABS_VariableDataType::SetTypeCode, lCode);
}

ULONG CKX9ComFuncLabelStructure::GetVariableInitData(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_GlobalVariable::GetInitData, strText);
}

ULONG CKX9ComFuncLabelStructure::SetVariableInitData(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_GlobalVariable::SetInitData, strText);
}

ULONG CKX9ComFuncLabelStructure::GetVariableClassKeyWord(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_GlobalVariable::GetClassKeyWord, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetVariableClassKeyWord(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_GlobalVariable::SetClassKeyWord, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetVariableRemark(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_GlobalVariable::GetRemark, strText);
}

ULONG CKX9ComFuncLabelStructure::SetVariableRemark(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_GlobalVariable::SetRemark, strText);
}

// A device read that fails leaves that text unchanged and is not reported:
// a variable without an allocation is an ordinary case.
ULONG CKX9ComFuncLabelStructure::GetVariableAllocatedDevice(IUnknown* pElement,
                                                            _STKX9LABELSTRUCTUREGVLDEVICE& stDevice) {
  ComPtr<IVNDataABS_GlobalVariable> pVariable;
  if (!QueryInterfaceTo(pElement, pVariable)) return KX9_ERR_NO_INTERFACE;
  LONG lDetail = 0;
  {
    BstrHolder bstr;
    if (pVariable->GetAllocatedDevice(bstr.Put(), &lDetail) == 0) stDevice.device = BstrText(bstr.Get());
  }
  lDetail = 0;
  {
    BstrHolder bstr;
    if (pVariable->GetAllocatedDeviceExtra(bstr.Put(), &lDetail) == 0) stDevice.deviceExtra = BstrText(bstr.Get());
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::SetVariableAllocatedDevice(IUnknown* pElement,
                                                            _STKX9LABELSTRUCTUREGVLDEVICE& stDevice) {
  ComPtr<IVNDataABS_GlobalVariable> pVariable;
  if (!QueryInterfaceTo(pElement, pVariable)) return KX9_ERR_NO_INTERFACE;
  LONG lDetail = 0;
  {
    BstrHolder bstr(stDevice.device.AllocSysString());
    pVariable->SetAllocatedDevice(bstr.Get(), &lDetail);
  }
  lDetail = 0;
  {
    BstrHolder bstr(stDevice.deviceExtra.AllocSysString());
    pVariable->SetAllocatedDeviceExtra(bstr.Get(), &lDetail);
  }
  return KX9_OK;
}

// --- structured variable ----------------------------------------------------

ULONG CKX9ComFuncLabelStructure::GetStructType(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_StructVariable::GetStructKind, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetStructType(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_StructVariable::SetStructKind, lValue);
}

// Appends one device record per structure member behind the entries already
// in arrDevices. Results: 0 (also for no member devices), 1 the slot arrays
// could not be allocated, 2 a database call failed, 7 no interface.
ULONG CKX9ComFuncLabelStructure::GetStructData(IUnknown* pElement, CDeviceArray& arrDevices) {
  ComPtr<IVNDataABS_StructVariable> pStruct;
  if (!QueryInterfaceTo(pElement, pStruct)) return KX9_ERR_NO_INTERFACE;
  LONG lCount = 0;
  LONG lDetail = 0;
  if (pStruct->GetMemberDevices(nullptr, nullptr, &lCount, &lDetail) != 0) return KX9_ERR_DB;
  if (lCount < 1) return KX9_OK;

  const std::size_t nSlots = static_cast<std::size_t>(lCount);
  CBstrArray devices(nSlots);
  CBstrArray extras(nSlots);
  if (!devices.Ok() || !extras.Ok()) return KX9_ERR_ALLOC;
  lDetail = 0;
  if (pStruct->GetMemberDevices(devices.Get(), extras.Get(), &lCount, &lDetail) != 0) return KX9_ERR_DB;

  // The database may report fewer filled slots on the second call; never
  // more than were allocated.
  const std::size_t nFilled = std::min(nSlots, static_cast<std::size_t>(std::max<LONG>(lCount, 0)));
  for (std::size_t i = 0; i < nFilled; ++i) {
    _STKX9LABELSTRUCTUREGVLDEVICE stDevice;
    stDevice.device = BstrText(devices.Get()[i]);
    stDevice.deviceExtra = BstrText(extras.Get()[i]);
    arrDevices.Add(stDevice);
  }
  return KX9_OK;
}

// Writes every entry of arrDevices as the member devices in one call. An
// empty list writes nothing. Results: 0, 1 (slot array or BSTR allocation),
// 2, 7.
ULONG CKX9ComFuncLabelStructure::SetStructData(IUnknown* pElement, CDeviceArray& arrDevices) {
  const int nCount = arrDevices.GetSize();
  ComPtr<IVNDataABS_StructVariable> pStruct;
  if (!QueryInterfaceTo(pElement, pStruct)) return KX9_ERR_NO_INTERFACE;
  if (nCount < 1) return KX9_OK;

  const std::size_t nSlots = static_cast<std::size_t>(nCount);
  CBstrArray devices(nSlots);
  CBstrArray extras(nSlots);
  if (!devices.Ok() || !extras.Ok()) return KX9_ERR_ALLOC;
  for (int i = 0; i < nCount; ++i) {
    const _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = arrDevices.GetAt(i);
    BSTR bstrDevice = SysAllocStringLen(stDevice.device.GetString(), static_cast<UINT>(stDevice.device.GetLength()));
    devices.Get()[i] = bstrDevice;
    BSTR bstrExtra =
        SysAllocStringLen(stDevice.deviceExtra.GetString(), static_cast<UINT>(stDevice.deviceExtra.GetLength()));
    extras.Get()[i] = bstrExtra;
    if ((bstrDevice == nullptr && !stDevice.device.IsEmpty()) ||
        (bstrExtra == nullptr && !stDevice.deviceExtra.IsEmpty()))
      return KX9_ERR_ALLOC;
  }
  LONG lDetail = 0;
  return pStruct->SetMemberDevices(devices.Get(), extras.Get(), static_cast<LONG>(nCount), &lDetail) != 0 ? KX9_ERR_DB
                                                                                                          : KX9_OK;
}

// Marks the element as a variable of the project's structured data type
// `strStructName`: type code 9, the type name and the structure's ID.
// Results: 9 no such structure (nothing written), 7 no interface, 2 the
// first failing write (later writes skipped), else 0.
ULONG CKX9ComFuncLabelStructure::SetStructDefine(IUnknown* pElement, CString strStructName) {
  STOBJECTID stStructID = STOBJECTID::Null();
  if (GetStructDataID(strStructName, stStructID) != KX9_OK) return KX9_ERR_NO_STRUCT;

  ComPtr<IVNDataABS_VariableDataType> pDataType;
  if (!QueryInterfaceTo(pElement, pDataType)) return KX9_ERR_NO_INTERFACE;
  LONG lDetail = 0;
  if (pDataType->SetTypeCode(9, &lDetail) != 0) return KX9_ERR_DB;
  {
    BstrHolder bstr(strStructName.AllocSysString());
    lDetail = 0;
    if (pDataType->SetTypeName(bstr.Get(), &lDetail) != 0) return KX9_ERR_DB;
  }
  lDetail = 0;
  if (pDataType->SetStructDefineID(stStructID, &lDetail) != 0) return KX9_ERR_DB;
  return KX9_OK;
}

// --- system-label part --------------------------------------------------------

// Reads the eleven attributes that travel with a system label. Only the
// local name's result is reported; the earlier reads are best effort.
// Skipped entirely (result 0) in the mode without system labels.
ULONG CKX9ComFuncLabelStructure::GetSystemLabelInf(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDATA* pRecord) {
  if (m_eMode == KX9LabelModeWithoutSystemLabel) return KX9_OK;
  _STKX9SYSTEMLABELDATA& st = pRecord->systemLabel;
  GetSystemLabelName(pElement, st.name);
  GetSystemLabelProgramName(pElement, st.programName);
  GetSystemLabelAttribute(pElement, st.attribute);
  GetSystemLabelStatus(pElement, st.status);
  GetSystemLabelListID(pElement, st.listID);
  GetSystemLabelDataType(pElement, st.dataType);
  GetSystemLabelDataSize(pElement, st.dataSize);
  GetSystemLabelID(pElement, st.ID);
  GetSystemLabelCPUID(pElement, st.CPUID);
  GetSystemLabelProjectID(pElement, st.projectID);
  return GetSystemLabelLocalName(pElement, st.localName);
}

// Writes the eleven attributes of a system label; a record whose status is
// 0 is no system label and writes nothing. Only the local name's result is
// reported.
ULONG CKX9ComFuncLabelStructure::SetSystemLabelInf(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDATA* pRecord) {
  const _STKX9SYSTEMLABELDATA& st = pRecord->systemLabel;
  if (st.status == 0) return KX9_OK;
  SetSystemLabelID(pElement, st.ID);
  SetSystemLabelName(pElement, st.name);
  SetSystemLabelProgramName(pElement, st.programName);
  SetSystemLabelCPUID(pElement, st.CPUID);
  SetSystemLabelAttribute(pElement, st.attribute);
  SetSystemLabelStatus(pElement, st.status);
  SetSystemLabelProjectID(pElement, st.projectID);
  SetSystemLabelListID(pElement, st.listID);
  SetSystemLabelDataType(pElement, st.dataType);
  SetSystemLabelDataSize(pElement, st.dataSize);
  return SetSystemLabelLocalName(pElement, st.localName);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelID(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetID, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelID(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetID, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelName(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_SystemLabel::GetName, strText);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelName(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_SystemLabel::SetName, strText);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelProgramName(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_SystemLabel::GetProgramName, strText);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelProgramName(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_SystemLabel::SetProgramName, strText);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelCPUID(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetCPUID, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelCPUID(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetCPUID, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelAttribute(IUnknown* pElement, WORD& wValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetAttribute, wValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelAttribute(IUnknown* pElement, WORD wValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetAttribute, wValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelStatus(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetStatus, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelStatus(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetStatus, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelProjectID(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetProjectID, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelProjectID(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetProjectID, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelListID(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetListID, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelListID(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetListID, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelComment(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_SystemLabel::GetComment, strText);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelComment(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_SystemLabel::SetComment, strText);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelRemark(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_SystemLabel::GetRemark, strText);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelRemark(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_SystemLabel::SetRemark, strText);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelDataType(IUnknown* pElement, LONG& lValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetValueType, lValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelDataType(IUnknown* pElement, LONG lValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetValueType, lValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelDataSize(IUnknown* pElement, WORD& wValue) {
  return GetValueField(pElement, &IVNDataABS_SystemLabel::GetValueSize, wValue);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelDataSize(IUnknown* pElement, WORD wValue) {
  return SetValueField(pElement, &IVNDataABS_SystemLabel::SetValueSize, wValue);
}

ULONG CKX9ComFuncLabelStructure::GetSystemLabelLocalName(IUnknown* pElement, CString& strText) {
  return GetTextField(pElement, &IVNDataABS_SystemLabel::GetLocalName, strText);
}

ULONG CKX9ComFuncLabelStructure::SetSystemLabelLocalName(IUnknown* pElement, CString strText) {
  return SetTextField(pElement, &IVNDataABS_SystemLabel::SetLocalName, strText);
}

// The project's generic data blobs and the collection of system labels that
// the host reads through GetDeleteSystemLabelInf.
#include <algorithm>
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"

namespace {

// A failed call reports the database's own detail code, 0 included.
ULONG DetailCode(LONG lDetail) { return static_cast<ULONG>(lDetail); }

}  // namespace

// Reads the project's generic data of `lKind`. *pLength receives its length;
// when that is above 0, *ppBlob receives a new[] buffer of that many bytes
// that the caller frees with delete[], also when the result is not 0 (the
// buffer is then zero-filled where the database left it unfilled). Results:
// 0, 1 no memory, 2 no generic-data interface, else the database's detail
// code as it stands (0 included).
ULONG CKX9ComFuncLabelStructure::GetGenericDataInf(LONG lKind, LONG* pLength, BYTE** ppBlob) {
  STOBJECTID stGeneric = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, VN_TYPE_GENERIC_DATA, &stGeneric, &lDetail) != 0)
    return DetailCode(lDetail);
  IUnknown* pObject = nullptr;  // borrowed
  lDetail = 0;
  if (m_pWorkspace->GetDataObject(stGeneric, &pObject, &lDetail) != 0) return DetailCode(lDetail);
  ComPtr<IVNDataABS_GenericData> pGeneric;
  if (!QueryInterfaceTo(pObject, pGeneric)) return KX9_ERR_DB;

  lDetail = 0;
  if (pGeneric->GetGenericData(lKind, pLength, nullptr, &lDetail) != 0) return DetailCode(lDetail);
  const LONG lAllocated = *pLength;
  if (lAllocated > 0) {
    BYTE* pBlob = new (std::nothrow) BYTE[static_cast<std::size_t>(lAllocated)]();
    if (pBlob == nullptr) return KX9_ERR_ALLOC;
    *ppBlob = pBlob;
    LONG lFilled = lAllocated;
    lDetail = 0;
    const HRESULT hr = pGeneric->GetGenericData(lKind, &lFilled, pBlob, &lDetail);
    // Never report more bytes than the buffer holds.
    *pLength = std::min(std::max<LONG>(lFilled, 0), lAllocated);
    if (hr != 0) return DetailCode(lDetail);
  }
  return KX9_OK;
}

// Stores lLength bytes as the project's generic data of `lKind`; the bytes
// stay the caller's. Results as GetGenericDataInf, without 1.
ULONG CKX9ComFuncLabelStructure::SetGenericDataInf(LONG lKind, LONG lLength, const BYTE* pBytes) {
  STOBJECTID stGeneric = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, VN_TYPE_GENERIC_DATA, &stGeneric, &lDetail) != 0)
    return DetailCode(lDetail);
  IUnknown* pObject = nullptr;  // borrowed
  lDetail = 0;
  if (m_pWorkspace->GetDataObject(stGeneric, &pObject, &lDetail) != 0) return DetailCode(lDetail);
  ComPtr<IVNDataABS_GenericData> pGeneric;
  if (!QueryInterfaceTo(pObject, pGeneric)) return KX9_ERR_DB;

  lDetail = 0;
  if (pGeneric->SetGenericData(lKind, lLength, pBytes, &lDetail) != 0) return DetailCode(lDetail);
  return KX9_OK;
}

// Collects the system labels of the kept statuses among the variables of
// the GVL `stListID`; any other kind of object collects nothing and returns
// 0. A variable that cannot be read is skipped. Results: 0, 2 (no variable
// collection), or a code passed up from the ID services.
ULONG CKX9ComFuncLabelStructure::GetSystemLabelData(STOBJECTID stListID) {
  LONG lType = 0;
  ULONG ulResult = GetDataType(stListID, lType);
  if (ulResult != KX9_OK) return ulResult;
  if (lType != VN_TYPE_GVL) return KX9_OK;
  if (_isXSeriesCPU()) return _getSystemLabelDataX(stListID);

  STOBJECTID stCollection = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(stListID, GetChildCollectionType(VN_TYPE_GVL), &stCollection, &lDetail) != 0)
    return KX9_ERR_DB;

  LONG lCount = 0;
  STOBJECTID* pRawIDs = nullptr;
  ulResult = GetCollectionList(stCollection, lCount, &pRawIDs);
  std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG i = 0; i < lCount; ++i) _getSystemLabelInf(pIDs[i]);
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::GetAllSystemLabelData() {
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;

  STOBJECTID stParent = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(VN_TYPE_GVL), &stParent, &lDetail) != 0)
    return KX9_ERR_DB;

  LONG lCount = 0;
  STOBJECTID* pRawIDs = nullptr;
  ULONG ulResult = GetCollectionList(stParent, lCount, &pRawIDs);
  std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG i = 0; i < lCount && ulResult == KX9_OK; ++i) ulResult = GetSystemLabelData(pIDs[i]);
  return ulResult;
}

void CKX9ComFuncLabelStructure::GetDeleteSystemLabelInf(CGVLDataArray& arr) { arr.Append(m_arrDeleteSystemLabel); }

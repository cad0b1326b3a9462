// Element operations of the classic database path: the variables of a GVL
// and the members of an SDT moved between element objects and element
// records, one field accessor after another. The high-capacity series hands
// reading and deleting over to the row-based functions.
//
// Without a workspace every operation here returns 5 and touches nothing.
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"

namespace {

// Deletes an element record as the kind its datum type names.
struct CElementDeleter {
  LONG lDataType;
  void operator()(_STKX9LABELSTRUCTUREBASEDATA* p) const { KX9DeleteElement(lDataType, p); }
};
using CElementHolder = std::unique_ptr<_STKX9LABELSTRUCTUREBASEDATA, CElementDeleter>;

// A new record with construction values, or null when memory runs out.
template <class T>
std::unique_ptr<T> NewRecord() {
  try {
    return std::unique_ptr<T>(new (std::nothrow) T());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Appends one new record per element of the GVL or SDT `stDataID` to
// arrElements. On failure the records appended before it stay there for the
// caller to destroy. Results: 0, 2 (no element collection), 3 (an element
// neither 16 nor 20), or a code passed up from the ID services or the
// element readers.
ULONG CKX9ComFuncLabelStructure::GetDataElement(STOBJECTID stDataID, CElementArray& arrElements) {
  if (_isXSeriesCPU()) return _getDataElementX(stDataID, arrElements);

  LONG lType = 0;
  ULONG ulResult = GetDataType(stDataID, lType);
  if (ulResult != KX9_OK) return ulResult;

  STOBJECTID stCollection = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(stDataID, GetChildCollectionType(lType), &stCollection, &lDetail) != 0)
    return KX9_ERR_DB;

  LONG lCount = 0;
  STOBJECTID* pRawIDs = nullptr;
  ulResult = GetCollectionList(stCollection, lCount, &pRawIDs);
  std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG i = 0; i < lCount; ++i) {
    LONG lElementType = 0;
    ulResult = GetDataType(pIDs[i], lElementType);
    if (ulResult != KX9_OK) break;

    _STKX9LABELSTRUCTUREBASEDATA* pRaw = nullptr;
    LONG lRecordKind = 0;
    if (lElementType == VN_TYPE_GLOBAL_VARIABLE) {
      ulResult = GetDataElementGVL(pIDs[i], &pRaw);
      lRecordKind = KX9_DATATYPE_GVL;
    } else if (lElementType == VN_TYPE_STRUCT_MEMBER) {
      ulResult = GetDataElementSDT(pIDs[i], &pRaw);
      lRecordKind = KX9_DATATYPE_SDT;
    } else {
      ulResult = KX9_ERR_TYPE;
    }
    CElementHolder pRecord(pRaw, CElementDeleter{lRecordKind});
    if (ulResult != KX9_OK) break;
    arrElements.Add(pRecord.get());
    pRecord.release();
  }
  return ulResult;
}

// Deletes every element of the GVL or SDT `stDataID`, then its emptied
// element collection; the datum stays. The system label of each variable is
// collected before the variable goes. A failed deletion stops the walk and
// leaves the collection. Results: 0, 2, or a passed-up code.
ULONG CKX9ComFuncLabelStructure::DeleteDataElement(STOBJECTID stDataID) {
  if (_isXSeriesCPU()) return _deleteDataElementX(stDataID);

  LONG lType = 0;
  ULONG ulResult = GetDataType(stDataID, lType);
  if (ulResult != KX9_OK) return ulResult;

  STOBJECTID stCollection = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(stDataID, GetChildCollectionType(lType), &stCollection, &lDetail) != 0)
    return KX9_ERR_DB;

  LONG lCount = 0;
  STOBJECTID* pRawIDs = nullptr;
  ulResult = GetCollectionList(stCollection, lCount, &pRawIDs);
  std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG i = 0; i < lCount; ++i) {
    if (lType == VN_TYPE_GVL) _getSystemLabelInf(pIDs[i]);
    lDetail = 0;
    if (m_pWorkspace->DeleteDataObject(pIDs[i], &lDetail) != 0) {
      ulResult = KX9_ERR_DB;
      break;
    }
  }
  pIDs.reset();

  if (ulResult == KX9_OK) {
    lDetail = 0;
    if (m_pWorkspace->DeleteDataObject(stCollection, &lDetail) != 0) ulResult = KX9_ERR_DB;
  }
  return ulResult;
}

// Adds one element to the GVL (14) or SDT (18) `stDataID` and writes the
// record into it; any other type creates an empty element and returns 0.
ULONG CKX9ComFuncLabelStructure::CreateDataElement(STOBJECTID stDataID, LONG lType,
                                                   _STKX9LABELSTRUCTUREBASEDATA* pRecord) {
  STOBJECTID stNewID = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->CreateElementObject(stDataID, &stNewID, &lDetail) != 0) return KX9_ERR_DB;
  if (lType == KX9_DATATYPE_GVL) return SetDataElementGVL(stNewID, pRecord);
  if (lType == KX9_DATATYPE_SDT) return SetDataElementSDT(stNewID, pRecord);
  return KX9_OK;
}

// Reads one variable into a new _STKX9LABELSTRUCTUREGVLDATA handed to the
// caller in *ppRecord (the caller deletes it), even when a field read failed;
// the result is that of the last field read. *ppRecord is null when no
// record was made: 0xFFFFFFFF no element object, 1 no memory.
ULONG CKX9ComFuncLabelStructure::GetDataElementGVL(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA** ppRecord) {
  *ppRecord = nullptr;

  IUnknown* pElement = nullptr;  // borrowed
  LONG lDetail = 0;
  if (m_pWorkspace->GetDataObject(stID, &pElement, &lDetail) != 0 || pElement == nullptr) return KX9_ERR_NO_ELEMENT;

  std::unique_ptr<_STKX9LABELSTRUCTUREGVLDATA> pRecord = NewRecord<_STKX9LABELSTRUCTUREGVLDATA>();
  if (!pRecord) return KX9_ERR_ALLOC;

  ULONG ulResult = GetDataElementBase(pElement, stID, pRecord.get());
  ulResult = GetVariableClassKeyWord(pElement, pRecord->classKeyword);
  ulResult = GetDataTypeString(pElement, pRecord->dataTypeName);
  ulResult = GetVariableInitData(pElement, pRecord->initData);
  ulResult = GetStructType(pElement, pRecord->structType);
  if (pRecord->structType == 0) {
    _STKX9LABELSTRUCTUREGVLDEVICE stDevice;
    ulResult = GetVariableAllocatedDevice(pElement, stDevice);
    if (ulResult == KX9_OK) pRecord->devices.Add(stDevice);
  } else {
    ulResult = GetStructData(pElement, pRecord->devices);
  }
  ulResult = GetVariableRemark(pElement, pRecord->remark);
  ulResult = GetSystemLabelInf(pElement, pRecord.get());
  ulResult = GetVariableExAccess(pElement, pRecord->exAccess);

  *ppRecord = pRecord.release();
  return ulResult;
}

// Writes one variable from a _STKX9LABELSTRUCTUREGVLDATA. Every field is
// attempted; the result is that of the last write. A simple variable gets
// only its first device; a structured one its type definition and all
// member devices.
ULONG CKX9ComFuncLabelStructure::SetDataElementGVL(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord) {
  _STKX9LABELSTRUCTUREGVLDATA* pGVL = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(pRecord);

  IUnknown* pElement = nullptr;  // borrowed
  LONG lDetail = 0;
  if (m_pWorkspace->GetDataObject(stID, &pElement, &lDetail) != 0 || pElement == nullptr) return KX9_ERR_DB;

  ULONG ulResult = SetDataElementBase(pElement, stID, pRecord);
  ulResult = SetVariableClassKeyWord(pElement, pGVL->classKeyword);
  ulResult = SetDataTypeString(pElement, pGVL->dataTypeName);
  ulResult = SetVariableInitData(pElement, pGVL->initData);
  ulResult = SetStructType(pElement, pGVL->structType);
  if (pGVL->structType == 0) {
    if (!pGVL->devices.IsEmpty()) {
      _STKX9LABELSTRUCTUREGVLDEVICE stDevice = pGVL->devices.GetAt(0);
      ulResult = SetVariableAllocatedDevice(pElement, stDevice);
    }
  } else {
    ulResult = SetStructDefine(pElement, pGVL->dataTypeName);
    ulResult = SetStructData(pElement, pGVL->devices);
  }
  ulResult = SetVariableRemark(pElement, pGVL->remark);
  ulResult = SetSystemLabelInf(pElement, pGVL);
  ulResult = SetVariableExAccess(pElement, pGVL->exAccess);
  return ulResult;
}

// Reads one structure member into a new _STKX9LABELSTRUCTURESDTDATA handed to
// the caller (who deletes it), even when a field read failed. *ppRecord is
// null when no record was made: 2 no element object, 1 no memory.
ULONG CKX9ComFuncLabelStructure::GetDataElementSDT(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA** ppRecord) {
  *ppRecord = nullptr;

  IUnknown* pElement = nullptr;  // borrowed
  LONG lDetail = 0;
  if (m_pWorkspace->GetDataObject(stID, &pElement, &lDetail) != 0 || pElement == nullptr) return KX9_ERR_DB;

  std::unique_ptr<_STKX9LABELSTRUCTURESDTDATA> pRecord = NewRecord<_STKX9LABELSTRUCTURESDTDATA>();
  if (!pRecord) return KX9_ERR_ALLOC;

  ULONG ulResult = GetDataElementBase(pElement, stID, pRecord.get());
  ulResult = GetDataTypeString(pElement, pRecord->dataTypeName);
  ulResult = GetVariableInitData(pElement, pRecord->initData);

  *ppRecord = pRecord.release();
  return ulResult;
}

// Writes one structure member; the result is that of the last write.
ULONG CKX9ComFuncLabelStructure::SetDataElementSDT(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord) {
  _STKX9LABELSTRUCTURESDTDATA* pSDT = static_cast<_STKX9LABELSTRUCTURESDTDATA*>(pRecord);

  IUnknown* pElement = nullptr;  // borrowed
  LONG lDetail = 0;
  if (m_pWorkspace->GetDataObject(stID, &pElement, &lDetail) != 0 || pElement == nullptr) return KX9_ERR_DB;

  ULONG ulResult = SetDataElementBase(pElement, stID, pRecord);
  ulResult = SetDataTypeString(pElement, pSDT->dataTypeName);
  ulResult = SetVariableInitData(pElement, pSDT->initData);
  return ulResult;
}

// Line number, then name, then the sixteen comments; a failed line number or
// name stops there, the comments are all attempted.
ULONG CKX9ComFuncLabelStructure::GetDataElementBase(IUnknown* pElement, STOBJECTID stID,
                                                    _STKX9LABELSTRUCTUREBASEDATA* pRecord) {
  ULONG ulResult = GetVariableLineNo(pElement, pRecord->lineNo);
  if (ulResult == KX9_OK) ulResult = GetVariableName(stID, pRecord->name);
  if (ulResult == KX9_OK) {
    for (UINT i = 0; i < static_cast<UINT>(KX9_COMMENT_COUNT); ++i)
      ulResult = GetVariableComment(pElement, i, pRecord->comments[i]);
  }
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::SetDataElementBase(IUnknown* pElement, STOBJECTID stID,
                                                    _STKX9LABELSTRUCTUREBASEDATA* pRecord) {
  ULONG ulResult = SetVariableLineNo(pElement, pRecord->lineNo);
  if (ulResult == KX9_OK) ulResult = SetVariableName(stID, pRecord->name);
  if (ulResult == KX9_OK) {
    for (UINT i = 0; i < static_cast<UINT>(KX9_COMMENT_COUNT); ++i)
      ulResult = SetVariableComment(pElement, i, pRecord->comments[i]);
  }
  return ulResult;
}

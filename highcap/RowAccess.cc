// High-capacity element access: on the X series the variables of a GVL and
// the members of an SDT are rows of a table inside the list or type object.
// They move between those tables and label records in batches of row
// records that the component allocates and releases; every BSTR and
// task-memory array found in a released block is freed, whoever put it there.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "component/KX9ComFuncLabelStructure.h"
#include "highcap/RowTableHelpers.h"
#include "syslabel/KX9SystemLabelStatus.h"

namespace {

using kx9_highcap::CountRows;
using kx9_highcap::FetchRowIDs;
using kx9_highcap::kRowBatchSize;

// Comment i of a label travels under key i + 9.
constexpr ULONGLONG kFirstCommentKey = 9;
// Every structure member row carries this class keyword.
constexpr LONG kMemberClassKeyword = 8;
// Structure types of a variable row: 0 simple, 2 dynamic attributes, any
// other value structured with member devices.
constexpr LONG kStructTypeSimple = 0;
constexpr LONG kStructTypeDynamic = 2;
// Constant argument the database expects with the array-size calls.
constexpr LONG kArraySizesArg = 1;

// Runs `f` when the scope ends, so lists and blocks are freed on every path,
// exceptions included.
template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : m_f(std::move(f)) {}
  ~ScopeExit() { m_f(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F m_f;
};

void FreeBstr(BSTR& b) {
  if (b != nullptr) {
    SysFreeString(b);
    b = nullptr;
  }
}

// A new BSTR of `text`, empty texts included: the database tells an empty
// entry (a BSTR of length 0) from a missing one (null). Raises
// std::bad_alloc when the string cannot be made.
BSTR NewBstr(const CString& text) { return text.AllocSysString(); }

// Puts a new BSTR of `text` into `field`, freeing what was there.
void AssignBstr(BSTR& field, const CString& text) {
  BSTR b = NewBstr(text);
  SysFreeString(field);
  field = b;
}

void FreeComment(stVNVariableComment& stComment) {
  if (stComment.items != nullptr) {
    for (LONG i = 0; i < stComment.count; ++i) FreeBstr(stComment.items[i].text);
    CoTaskMemFree(stComment.items);
  }
  stComment.items = nullptr;
  stComment.count = 0;
}

// Frees `lCount` entries of a task-memory BSTR array and the array itself.
void FreeBstrArray(BSTR*& pArray, LONG lCount) {
  if (pArray == nullptr) return;
  for (LONG i = 0; i < lCount; ++i) FreeBstr(pArray[i]);
  CoTaskMemFree(pArray);
  pArray = nullptr;
}

// A zeroed task-memory array of `lCount` BSTRs, or null.
BSTR* NewBstrArray(LONG lCount) {
  const std::size_t cb = sizeof(BSTR) * static_cast<std::size_t>(lCount);
  BSTR* p = static_cast<BSTR*>(CoTaskMemAlloc(cb));
  if (p != nullptr) std::memset(p, 0, cb);
  return p;
}

}  // namespace

// --- dispatch by type ----------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_getDataElementX(STOBJECTID stDataID, CElementArray& arrElements) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stDataID, &pObject, &lDetail) < 0) return KX9_ERR_DB;

  LONG lType = 0;
  const ULONG ulResult = GetDataType(stDataID, lType);
  if (ulResult != KX9_OK) return ulResult;
  if (lType == VN_TYPE_SDT) return _getDataElementSDTX(pObject, arrElements);
  if (lType == VN_TYPE_GVL) return _getDataElementGVLX(pObject, arrElements);
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_deleteDataElementX(STOBJECTID stDataID) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stDataID, &pObject, &lDetail) < 0) return KX9_ERR_DB;

  LONG lType = 0;
  const ULONG ulResult = GetDataType(stDataID, lType);
  if (ulResult != KX9_OK) return ulResult;
  if (lType == VN_TYPE_SDT) return _deleteDataElementSDTX(pObject);
  if (lType == VN_TYPE_GVL) {
    // The list's system labels are remembered before its rows go, even when
    // reading them fails.
    _getSystemLabelDataX(stDataID);
    return _deleteDataElementGVLX(pObject);
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_createDataElementX(STOBJECTID stDataID, CElementArray& arrElements) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stDataID, &pObject, &lDetail) < 0) return KX9_ERR_DB;

  LONG lType = 0;
  const ULONG ulResult = GetDataType(stDataID, lType);
  if (ulResult != KX9_OK) return ulResult;
  if (lType == VN_TYPE_SDT) return _createDataElementSDTX(pObject, arrElements);
  if (lType == VN_TYPE_GVL) return _createDataElementGVLX(pObject, arrElements);
  return KX9_OK;
}

// --- bulk read -------------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_getDataElementSDTX(IUnknown* pObject, CElementArray& arrElements) {
  ComPtr<IVNDataABS_HighCapacityStructure> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;

  LONG lCount = 0;
  ULONG ulResult = CountRows(pTable.Get(), lCount);
  if (ulResult != KX9_OK) return ulResult;
  LONG* pIDs = _createRowIDList(lCount);
  if (pIDs == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeIDs([&pIDs] { delete[] pIDs; });
  ulResult = FetchRowIDs(pTable.Get(), pIDs, lCount);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG lFirst = 0; lFirst < lCount && ulResult == KX9_OK; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNStructElementDataX* pBlock = _createStructElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock([this, &pBlock, lBatch] { _releaseStructElementDataX(pBlock, lBatch); });

    LONG lDetail = 0;
    if (pTable->GetRows(lBatch, pIDs + lFirst, pBlock, &lDetail) < 0) return KX9_ERR_DB;

    for (LONG i = 0; i < lBatch; ++i) {
      const stVNStructElementDataX& stRow = pBlock[i];
      std::unique_ptr<_STKX9LABELSTRUCTURESDTDATA> pRecord(new (std::nothrow) _STKX9LABELSTRUCTURESDTDATA);
      if (!pRecord) {
        ulResult = KX9_ERR_ALLOC;
        break;
      }
      pRecord->lineNo = static_cast<ULONG>(stRow.lineNo);
      pRecord->name = BstrText(stRow.name);
      _getCommentX(stRow.comment, *pRecord);
      pRecord->dataTypeName = BstrText(stRow.dataTypeName);
      pRecord->initData = BstrText(stRow.initData);
      arrElements.Add(pRecord.get());
      pRecord.release();
    }
  }
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::_getDataElementGVLX(IUnknown* pObject, CElementArray& arrElements) {
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;

  LONG lCount = 0;
  ULONG ulResult = CountRows(pTable.Get(), lCount);
  if (ulResult != KX9_OK) return ulResult;
  LONG* pIDs = _createRowIDList(lCount);
  if (pIDs == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeIDs([&pIDs] { delete[] pIDs; });
  ulResult = FetchRowIDs(pTable.Get(), pIDs, lCount);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG lFirst = 0; lFirst < lCount && ulResult == KX9_OK; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNGlobalVariableAndSystemLabelElementDataX* pBlock = _createGlobalVariableAndSystemLabelElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock(
        [this, &pBlock, lBatch] { _releaseGlobalVariableAndSystemLabelElementDataX(pBlock, lBatch); });

    LONG lDetail = 0;
    if (pTable->GetRows(lBatch, pIDs + lFirst, pBlock, &lDetail) < 0) return KX9_ERR_DB;

    for (LONG i = 0; i < lBatch; ++i) {
      const stVNGlobalVariableAndSystemLabelElementDataX& stRow = pBlock[i];
      std::unique_ptr<_STKX9LABELSTRUCTUREGVLDATA> pRecord(new (std::nothrow) _STKX9LABELSTRUCTUREGVLDATA);
      if (!pRecord) {
        ulResult = KX9_ERR_ALLOC;
        break;
      }
      pRecord->lineNo = static_cast<ULONG>(stRow.lineNo);
      pRecord->name = BstrText(stRow.name);
      _getCommentX(stRow.comment, *pRecord);
      pRecord->classKeyword = stRow.classKeyword;
      pRecord->dataTypeName = BstrText(stRow.dataTypeName);
      pRecord->initData = BstrText(stRow.initData);
      pRecord->structType = stRow.structType;

      if (stRow.structType == kStructTypeSimple) {
        // A simple variable always has its own device entry, empty or not.
        _STKX9LABELSTRUCTUREGVLDEVICE stDevice;
        stDevice.device = BstrText(stRow.device);
        stDevice.deviceExtra = BstrText(stRow.deviceExtra);
        pRecord->devices.Add(stDevice);
      } else if (stRow.structType == kStructTypeDynamic) {
        pRecord->dynamicAttr1 = BstrText(stRow.dynamicAttr1);
        pRecord->dynamicAttr2 = BstrText(stRow.dynamicAttr2);
        pRecord->dynamicAttr3 = stRow.dynamicAttr3;
        pRecord->dynamicAttr4 = BstrText(stRow.dynamicAttr4);
        pRecord->dynamicAttr5 = BstrText(stRow.dynamicAttr5);
      } else {
        const LONG lMembers = std::max<LONG>(stRow.memberDeviceCount, 0);
        pRecord->devices.SetSize(lMembers);
        for (LONG j = 0; j < lMembers; ++j) {
          _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = pRecord->devices.ElementAt(j);
          if (stRow.memberDevices != nullptr) stDevice.device = BstrText(stRow.memberDevices[j]);
          if (stRow.memberDeviceExtras != nullptr) stDevice.deviceExtra = BstrText(stRow.memberDeviceExtras[j]);
        }
      }

      pRecord->remark = BstrText(stRow.remark);
      _getSystemLabelInfX(stRow, pRecord->systemLabel);
      if (stRow.exAccess == 1) pRecord->exAccess = KX9TextOne();  // the record starts as "0"

      if (stRow.hasArraySizes != 0) {
        // Sizes are kept under the ID the row was requested by.
        ulResult = _getArrayElmSizeX(pTable.Get(), pIDs[lFirst + i], pRecord->arraySizes);
        if (ulResult != KX9_OK) break;
      }
      arrElements.Add(pRecord.get());
      pRecord.release();
    }
  }
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::_getArrayElmSizeX(IVNDataABS_HighCapacityGlobalVariable* pInterface, LONG lRowID,
                                                   CArraySizeArray& arrSizes) {
  if (pInterface == nullptr) return KX9_ERR_ARG;

  LONG lDetail = 0;
  LONG lCount = 0;
  if (pInterface->GetArraySizeCount(lRowID, &lCount, &lDetail) < 0) return KX9_ERR_DB;
  if (lCount <= 0) return KX9_OK;

  const std::size_t cb = sizeof(stVNArraySizeX) * static_cast<std::size_t>(lCount);
  stVNArraySizeX* pEntries = static_cast<stVNArraySizeX*>(CoTaskMemAlloc(cb));
  if (pEntries == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeEntries([pEntries] { CoTaskMemFree(pEntries); });
  std::memset(pEntries, 0, cb);

  lDetail = 0;
  LONG lReturned = 0;
  if (pInterface->GetArraySizes(lRowID, lCount, kArraySizesArg, pEntries, &lReturned, &lDetail) < 0) return KX9_ERR_DB;
  lReturned = std::min(std::max<LONG>(lReturned, 0), lCount);

  const int nFirst = arrSizes.GetSize();
  arrSizes.SetSize(nFirst + lReturned);
  for (LONG i = 0; i < lReturned; ++i) {
    _STARRAYSIZEINFO& stSize = arrSizes.ElementAt(nFirst + i);
    stSize.value1 = static_cast<LONG>(static_cast<ULONG>(static_cast<ULONGLONG>(pEntries[i].value1)));
    stSize.value2 = pEntries[i].value2;
  }
  return KX9_OK;
}

// --- deletion -------------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_deleteDataElementSDTX(IUnknown* pObject) {
  ComPtr<IVNDataABS_HighCapacityStructure> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;
  LONG lDetail = 0;
  if (pTable->DeleteRows(0, nullptr, &lDetail) < 0) return KX9_ERR_DB;
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_deleteDataElementGVLX(IUnknown* pObject) {
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;
  LONG lDetail = 0;
  if (pTable->DeleteRows(0, nullptr, &lDetail) < 0) return KX9_ERR_DB;
  return KX9_OK;
}

// --- bulk write -----------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_createDataElementSDTX(IUnknown* pObject, CElementArray& arrElements) {
  ComPtr<IVNDataABS_HighCapacityStructure> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;

  const LONG lCount = arrElements.GetSize();
  if (lCount < 1) return KX9_OK;
  LONG* pIDs = _createRowIDList(lCount);
  if (pIDs == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeIDs([&pIDs] { delete[] pIDs; });

  LONG lDetail = 0;
  if (pTable->AddRows(lCount, pIDs, &lDetail) < 0) return KX9_ERR_DB;

  for (LONG lFirst = 0; lFirst < lCount; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNStructElementDataX* pBlock = _createStructElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock([this, &pBlock, lBatch] { _releaseStructElementDataX(pBlock, lBatch); });

    for (LONG i = 0; i < lBatch; ++i) {
      stVNStructElementDataX& stRow = pBlock[i];
      stRow.rowID = pIDs[lFirst + i];
      auto* pRecord = static_cast<_STKX9LABELSTRUCTURESDTDATA*>(arrElements.GetAt(lFirst + i));
      if (pRecord == nullptr) continue;  // its row stays empty
      stRow.lineNo = static_cast<LONG>(pRecord->lineNo);
      AssignBstr(stRow.name, pRecord->name);
      _setCommentX(*pRecord, stRow.comment);
      stRow.classKeyword = kMemberClassKeyword;
      AssignBstr(stRow.dataTypeName, pRecord->dataTypeName);
      stRow.dataTypeCode = _getDataTypeCode(pRecord->dataTypeName, 0);
      AssignBstr(stRow.initData, pRecord->initData);
    }

    lDetail = 0;
    if (pTable->SetRows(lBatch, pBlock, &lDetail) < 0) return KX9_ERR_DB;
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_createDataElementGVLX(IUnknown* pObject, CElementArray& arrElements) {
  ComPtr<IVNDataABS_HighCapacityGlobalVariable> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;

  const LONG lCount = arrElements.GetSize();
  if (lCount < 1) return KX9_OK;
  LONG* pIDs = _createRowIDList(lCount);
  if (pIDs == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeIDs([&pIDs] { delete[] pIDs; });

  LONG lDetail = 0;
  if (pTable->AddRows(lCount, pIDs, &lDetail) < 0) return KX9_ERR_DB;

  for (LONG lFirst = 0; lFirst < lCount; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNGlobalVariableAndSystemLabelElementDataX* pBlock = _createGlobalVariableAndSystemLabelElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock(
        [this, &pBlock, lBatch] { _releaseGlobalVariableAndSystemLabelElementDataX(pBlock, lBatch); });

    for (LONG i = 0; i < lBatch; ++i) {
      stVNGlobalVariableAndSystemLabelElementDataX& stRow = pBlock[i];
      stRow.rowID = pIDs[lFirst + i];
      auto* pRecord = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(arrElements.GetAt(lFirst + i));
      if (pRecord == nullptr) continue;  // its row stays empty
      stRow.lineNo = static_cast<LONG>(pRecord->lineNo);
      AssignBstr(stRow.name, pRecord->name);
      _setCommentX(*pRecord, stRow.comment);
      stRow.classKeyword = pRecord->classKeyword;
      AssignBstr(stRow.dataTypeName, pRecord->dataTypeName);
      stRow.dataTypeCode = _getDataTypeCode(pRecord->dataTypeName, pRecord->structType);
      AssignBstr(stRow.initData, pRecord->initData);
      stRow.structType = pRecord->structType;

      if (pRecord->structType == kStructTypeSimple) {
        // Only the first entry is the variable's own device; without one
        // both device texts stay null.
        if (!pRecord->devices.IsEmpty()) {
          const _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = pRecord->devices.GetAt(0);
          AssignBstr(stRow.device, stDevice.device);
          AssignBstr(stRow.deviceExtra, stDevice.deviceExtra);
        }
      } else if (pRecord->structType == kStructTypeDynamic) {
        AssignBstr(stRow.dynamicAttr1, pRecord->dynamicAttr1);
        AssignBstr(stRow.dynamicAttr2, pRecord->dynamicAttr2);
        stRow.dynamicAttr3 = pRecord->dynamicAttr3;
        AssignBstr(stRow.dynamicAttr4, pRecord->dynamicAttr4);
        AssignBstr(stRow.dynamicAttr5, pRecord->dynamicAttr5);
        AssignBstr(stRow.structTypeName, pRecord->dataTypeName);
      } else {
        const LONG lMembers = pRecord->devices.GetSize();
        if (lMembers > 0) {
          // The count is set only once both arrays exist, so a release never
          // walks an array that is not there.
          BSTR* pDevices = NewBstrArray(lMembers);
          BSTR* pExtras = pDevices != nullptr ? NewBstrArray(lMembers) : nullptr;
          if (pExtras == nullptr) {
            CoTaskMemFree(pDevices);
            return KX9_ERR_ALLOC;
          }
          stRow.memberDevices = pDevices;
          stRow.memberDeviceExtras = pExtras;
          stRow.memberDeviceCount = lMembers;
          for (LONG j = 0; j < lMembers; ++j) {
            const _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = pRecord->devices.GetAt(j);
            pDevices[j] = NewBstr(stDevice.device);
            pExtras[j] = NewBstr(stDevice.deviceExtra);
          }
        }
        AssignBstr(stRow.structTypeName, pRecord->dataTypeName);
      }

      const LONG lDimensions = pRecord->arraySizes.GetSize();
      if (lDimensions > 0) {
        // The sizes are stored under the new row's ID before its fields are
        // written; a failure keeps the whole batch from being written.
        const std::size_t cb = sizeof(stVNArraySizeX) * static_cast<std::size_t>(lDimensions);
        stVNArraySizeX* pEntries = static_cast<stVNArraySizeX*>(CoTaskMemAlloc(cb));
        if (pEntries == nullptr) return KX9_ERR_ALLOC;
        ScopeExit freeEntries([pEntries] { CoTaskMemFree(pEntries); });
        for (LONG d = 0; d < lDimensions; ++d) {
          const _STARRAYSIZEINFO& stSize = pRecord->arraySizes.GetAt(d);
          pEntries[d].value1 = static_cast<LONGLONG>(stSize.value1);
          pEntries[d].value2 = stSize.value2;
        }
        lDetail = 0;
        if (pTable->SetArraySizes(stRow.rowID, lDimensions, kArraySizesArg, pEntries, &lDetail) < 0) return KX9_ERR_DB;
        stRow.hasArraySizes = 1;
      }

      AssignBstr(stRow.remark, pRecord->remark);
      _setSystemLabelInfX(pRecord->systemLabel, stRow);
      stRow.exAccess = pRecord->exAccess == u"1" ? 1 : 0;
    }

    lDetail = 0;
    if (pTable->SetRows(lBatch, pBlock, &lDetail) < 0) return KX9_ERR_DB;
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_createAllDataX(LONG lCount, _STKX9LABELSTRUCTURE* pData) {
  ULONG ulResult = KX9_OK;
  for (LONG i = 0; i < lCount; ++i) {
    _STKX9LABELSTRUCTURE& stData = pData[i];
    if (stData.dataType != KX9_DATATYPE_GVL && stData.dataType != KX9_DATATYPE_SDT) {
      ulResult = KX9_ERR_TYPE;
      break;
    }
    LONG lDetail = 0;
    STOBJECTID stCollection = STOBJECTID::Null();
    if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(stData.dataType), &stCollection,
                                       &lDetail) != S_OK) {
      ulResult = KX9_ERR_DB;
      break;
    }
    STOBJECTID stNewID = STOBJECTID::Null();
    ulResult = CreateData(stCollection, stData.name, stData.dataType, 0, stNewID);
    if (ulResult != KX9_OK) break;
    ulResult = _createDataElementX(stNewID, stData.elements);
    if (ulResult != KX9_OK) break;
  }
  if (lCount > 0 && ulResult == KX9_OK) ulResult = FlashDataBase();
  return ulResult;
}

// --- system labels ----------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_getSystemLabelDataX(STOBJECTID stGVLID) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stGVLID, &pObject, &lDetail) < 0) return KX9_ERR_DB;

  // Whatever is not handed to m_arrDeleteSystemLabel is deleted here.
  CElementArray arrRead;
  ScopeExit deleteRest([&arrRead] {
    for (int i = 0; i < arrRead.GetSize(); ++i) KX9DeleteElement(KX9_DATATYPE_GVL, arrRead.GetAt(i));
  });
  const ULONG ulResult = _getDataElementGVLX(pObject, arrRead);
  if (ulResult != KX9_OK) return ulResult;

  for (int i = 0; i < arrRead.GetSize(); ++i) {
    auto* pRecord = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(arrRead.GetAt(i));
    if (pRecord != nullptr && KX9IsCollectedSystemLabelStatus(pRecord->systemLabel.status)) {
      m_arrDeleteSystemLabel.Add(pRecord);
      arrRead.SetAt(i, nullptr);
    }
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_getSystemLabelInfX(const stVNGlobalVariableAndSystemLabelElementDataX& stRow,
                                                     _STKX9SYSTEMLABELDATA& stSystemLabel) {
  stSystemLabel.ID = stRow.sysID;
  stSystemLabel.name = BstrText(stRow.sysName);
  stSystemLabel.programName = BstrText(stRow.sysProgramName);
  stSystemLabel.CPUID = stRow.sysCPUID;
  stSystemLabel.attribute = static_cast<WORD>(stRow.sysAttribute & 0xFFFFu);
  stSystemLabel.status = stRow.sysStatus;
  stSystemLabel.projectID = stRow.sysProjectID;
  stSystemLabel.listID = stRow.sysListID;
  stSystemLabel.dataType = stRow.sysDataType;
  stSystemLabel.dataSize = static_cast<WORD>(stRow.sysDataSize & 0xFFFFu);
  stSystemLabel.localName = BstrText(stRow.sysLocalName);
  return KX9_OK;
}

// A variable that is not a system label carries no system-label fields at all.
ULONG CKX9ComFuncLabelStructure::_setSystemLabelInfX(const _STKX9SYSTEMLABELDATA& stSystemLabel,
                                                     stVNGlobalVariableAndSystemLabelElementDataX& stRow) {
  if (stSystemLabel.status == 0) return KX9_OK;
  stRow.sysID = stSystemLabel.ID;
  AssignBstr(stRow.sysName, stSystemLabel.name);
  AssignBstr(stRow.sysProgramName, stSystemLabel.programName);
  stRow.sysCPUID = stSystemLabel.CPUID;
  stRow.sysAttribute = stSystemLabel.attribute;
  stRow.sysStatus = stSystemLabel.status;
  stRow.sysProjectID = stSystemLabel.projectID;
  stRow.sysListID = stSystemLabel.listID;
  stRow.sysDataType = stSystemLabel.dataType;
  stRow.sysDataSize = stSystemLabel.dataSize;
  AssignBstr(stRow.sysLocalName, stSystemLabel.localName);
  return KX9_OK;
}

// --- comments ---------------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_getCommentX(const stVNVariableComment& stComment,
                                              _STKX9LABELSTRUCTUREBASEDATA& stRecord) {
  if (stComment.items == nullptr) return KX9_OK;
  for (LONG i = 0; i < stComment.count; ++i) {
    const stVNVariableCommentItem& stItem = stComment.items[i];
    if (stItem.key >= kFirstCommentKey && stItem.key < kFirstCommentKey + KX9_COMMENT_COUNT)
      stRecord.comments[stItem.key - kFirstCommentKey] = BstrText(stItem.text);
  }
  return KX9_OK;
}

// All 16 entries travel, empty ones included, so a write replaces every
// comment of the row.
ULONG CKX9ComFuncLabelStructure::_setCommentX(const _STKX9LABELSTRUCTUREBASEDATA& stRecord,
                                              stVNVariableComment& stComment) {
  FreeComment(stComment);
  const std::size_t cb = sizeof(stVNVariableCommentItem) * KX9_COMMENT_COUNT;
  auto* pItems = static_cast<stVNVariableCommentItem*>(CoTaskMemAlloc(cb));
  if (pItems == nullptr) return KX9_ERR_ALLOC;
  std::memset(static_cast<void*>(pItems), 0, cb);
  stComment.items = pItems;
  stComment.count = KX9_COMMENT_COUNT;
  for (int i = 0; i < KX9_COMMENT_COUNT; ++i) {
    pItems[i].key = kFirstCommentKey + static_cast<ULONGLONG>(i);
    pItems[i].text = NewBstr(stRecord.comments[i]);
  }
  return KX9_OK;
}

// --- row-ID lists and row blocks -----------------------------------------------

LONG* CKX9ComFuncLabelStructure::_createRowIDList(LONG lCount) {
  if (lCount < 0) return nullptr;
  return new (std::nothrow) LONG[static_cast<std::size_t>(lCount)]();
}

stVNStructElementDataX* CKX9ComFuncLabelStructure::_createStructElementDataX(LONG lCount) {
  if (lCount < 1) return nullptr;
  return new (std::nothrow) stVNStructElementDataX[static_cast<std::size_t>(lCount)]();
}

stVNGlobalVariableAndSystemLabelElementDataX*
CKX9ComFuncLabelStructure::_createGlobalVariableAndSystemLabelElementDataX(LONG lCount) {
  if (lCount < 1) return nullptr;
  return new (std::nothrow) stVNGlobalVariableAndSystemLabelElementDataX[static_cast<std::size_t>(lCount)]();
}

void CKX9ComFuncLabelStructure::_releaseStructElementDataX(stVNStructElementDataX*& pRows, LONG lCount) {
  if (pRows == nullptr) return;
  for (LONG i = 0; i < lCount; ++i) {
    stVNStructElementDataX& stRow = pRows[i];
    FreeBstr(stRow.name);
    FreeComment(stRow.comment);
    FreeBstr(stRow.dataTypeName);
    FreeBstr(stRow.initData);
    FreeBstr(stRow.spareText1);
    FreeBstr(stRow.spareText2);
    FreeBstr(stRow.spareText3);
    FreeBstr(stRow.spareText4);
  }
  delete[] pRows;
  pRows = nullptr;
}

void CKX9ComFuncLabelStructure::_releaseGlobalVariableAndSystemLabelElementDataX(
    stVNGlobalVariableAndSystemLabelElementDataX*& pRows, LONG lCount) {
  if (pRows == nullptr) return;
  for (LONG i = 0; i < lCount; ++i) {
    stVNGlobalVariableAndSystemLabelElementDataX& stRow = pRows[i];
    FreeBstr(stRow.name);
    FreeComment(stRow.comment);
    FreeBstr(stRow.dataTypeName);
    FreeBstr(stRow.initData);
    FreeBstr(stRow.device);
    FreeBstr(stRow.deviceExtra);
    FreeBstr(stRow.remark);
    FreeBstr(stRow.structTypeName);
    const LONG lMembers = std::max<LONG>(stRow.memberDeviceCount, 0);
    FreeBstrArray(stRow.memberDevices, lMembers);
    FreeBstrArray(stRow.memberDeviceExtras, lMembers);
    stRow.memberDeviceCount = 0;
    FreeBstr(stRow.dynamicAttr1);
    FreeBstr(stRow.dynamicAttr2);
    FreeBstr(stRow.dynamicAttr4);
    FreeBstr(stRow.dynamicAttr5);
    FreeBstr(stRow.sysName);
    FreeBstr(stRow.sysProgramName);
    FreeBstr(stRow.sysSpareText);
    FreeBstr(stRow.sysLocalName);
  }
  delete[] pRows;
  pRows = nullptr;
}

// Dynamic labels: the externally accessible variables of the high-capacity
// GVLs, with every device completed, and one layout per structured type.
// The label records and the structures stay the object's.
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "component/KX9ComFuncLabelStructure.h"
#include "highcap/RowTableHelpers.h"

namespace {

using kx9_highcap::CountRows;
using kx9_highcap::FetchRowIDs;
using kx9_highcap::kRowBatchSize;

constexpr LONG kStructTypeSimple = 0;
// Structured with its member devices stored in the row.
constexpr LONG kStructTypeStoredDevices = 1;

// Allocation type of bit members, which pack 16 to a word.
constexpr BYTE kAllocTypeBit = 1;
constexpr WORD kBitsPerWord = 16;

// Object IDs of the high-capacity lists and types whose keys take a form of
// their own: word 0 is 0 and word 1 one of these; the key's high half is then
// replaced and its low half is word 3.
constexpr DWORD kListIDHighWord = 0xE0030000u;
constexpr DWORD kListKeyHighWord = 0xE003C000u;
constexpr DWORD kTypeIDHighWord = 0xE0300000u;
constexpr DWORD kTypeKeyHighWord = 0xE03C0000u;

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

// Words 0 and 1 as one 64-bit number plus word 3, carrying into the high half.
ULONGLONG PlainKey(const STOBJECTID& stID) { return stID.Key() + static_cast<ULONGLONG>(stID.dwWord[3]); }

ULONGLONG FormKey(const STOBJECTID& stID, DWORD dwIDHighWord, DWORD dwKeyHighWord) {
  if (stID.dwWord[0] == 0 && stID.dwWord[1] == dwIDHighWord)
    return (static_cast<ULONGLONG>(dwKeyHighWord) << 32) | stID.dwWord[3];
  return PlainKey(stID);
}

ULONGLONG LabelKey(const STOBJECTID& stID) { return FormKey(stID, kListIDHighWord, kListKeyHighWord); }
ULONGLONG MemberKey(const STOBJECTID& stID) { return FormKey(stID, kTypeIDHighWord, kTypeKeyHighWord); }

// "[v1,v2,...]" from the first value of every dimension.
CString ArraySuffix(const CArray<_STARRAYSIZEINFO>& arrSizes) {
  CString strSuffix;
  if (arrSizes.IsEmpty()) return strSuffix;
  strSuffix += u'[';
  for (int i = 0; i < arrSizes.GetSize(); ++i) {
    if (i > 0) strSuffix += u',';
    const std::string strValue = std::to_string(arrSizes.GetAt(i).value1);
    strSuffix += CString(std::u16string(strValue.begin(), strValue.end()));
  }
  strSuffix += u']';
  return strSuffix;
}

}  // namespace

// --- public --------------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::GetAllDynamicLabelData(CDynamicLabelArray& arr) {
  if (m_pWorkspace == nullptr) {
    arr.Copy(m_arrDynamicLabel);
    return KX9_ERR_NO_WORKSPACE;
  }

  ULONG ulResult = KX9_OK;
  STOBJECTID* pRawIDs = nullptr;
  LONG lCount = 0;
  LONG lDetail = 0;
  STOBJECTID stCollection = STOBJECTID::Null();
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(VN_TYPE_GVL), &stCollection, &lDetail) !=
      S_OK) {
    ulResult = KX9_ERR_DB;
  } else {
    ulResult = GetCollectionList(stCollection, lCount, &pRawIDs);
  }
  const std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult == KX9_OK && pIDs) {
    for (LONG i = 0; i < lCount; ++i) {
      ulResult = _getDynamicLabelDataElementGVLX(pIDs[i]);
      if (ulResult != KX9_OK) break;
    }
  }
  // The host gets every label gathered so far, also after a failure.
  arr.Copy(m_arrDynamicLabel);
  return ulResult;
}

int CKX9ComFuncLabelStructure::GetDynamicLabelStruct(ULONGLONG key, _STKX9DYNAMICSTRUCTURE*& pStruct) {
  if (m_pWorkspace == nullptr) return 0;
  _STKX9DYNAMICSTRUCTURE* pFound = nullptr;
  if (!m_mapDynamicStruct.Lookup(key, pFound)) return 0;
  pStruct = pFound;
  return 1;
}

void CKX9ComFuncLabelStructure::ReleaseDynamicLabelStruct() {
  m_mapDynamicStruct.ForEach([](ULONGLONG, _STKX9DYNAMICSTRUCTURE* pStruct) { delete pStruct; });
  m_mapDynamicStruct.RemoveAll();
}

// --- per list ------------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_getDynamicLabelDataElementGVLX(STOBJECTID stGVLID) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stGVLID, &pObject, &lDetail) < 0) return KX9_ERR_DB;
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

  const ULONGLONG ullListKey = LabelKey(stGVLID);
  for (LONG lFirst = 0; lFirst < lCount; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNGlobalVariableAndSystemLabelElementDataX* pBlock = _createGlobalVariableAndSystemLabelElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock(
        [this, &pBlock, lBatch] { _releaseGlobalVariableAndSystemLabelElementDataX(pBlock, lBatch); });

    lDetail = 0;
    if (pTable->GetRows(lBatch, pIDs + lFirst, pBlock, &lDetail) < 0) return KX9_ERR_DB;

    for (LONG i = 0; i < lBatch; ++i) {
      const stVNGlobalVariableAndSystemLabelElementDataX& stRow = pBlock[i];
      if (stRow.exAccess == 0) continue;

      std::unique_ptr<_STKX9DYNAMICLABELDATA> pLabel(new (std::nothrow) _STKX9DYNAMICLABELDATA);
      if (!pLabel) return KX9_ERR_ALLOC;
      pLabel->name = BstrText(stRow.name);
      pLabel->structType = stRow.structType;
      pLabel->dataTypeName = BstrText(stRow.dataTypeName);

      if (stRow.hasArraySizes != 0) {
        ulResult = _getArrayElmSizeX(pTable.Get(), pIDs[lFirst + i], pLabel->arraySizes);
        if (ulResult != KX9_OK) return ulResult;
      }

      if (stRow.structType == kStructTypeSimple) {
        _STKX9LABELSTRUCTUREGVLDEVICE stDevice;
        stDevice.device = BstrText(stRow.device);
        stDevice.deviceExtra = BstrText(stRow.deviceExtra);
        if (stDevice.device.IsEmpty()) {
          ulResult = _convertLabelToKORVEXDevice(pLabel->name, stDevice.device);
          if (ulResult != KX9_OK) return ulResult;
        }
        pLabel->devices.Add(stDevice);
      } else {
        lDetail = 0;
        STOBJECTID stStructID = STOBJECTID::Null();
        if (pTable->GetRowObjectID(stRow.rowID, &stStructID, &lDetail) < 0) return KX9_ERR_DB;

        CString strArraySuffix;
        CDeviceArray arrDevices;
        if (stRow.structType == kStructTypeStoredDevices) {
          const LONG lMembers = std::max<LONG>(stRow.memberDeviceCount, 0);
          arrDevices.SetSize(lMembers);
          for (LONG j = 0; j < lMembers; ++j) {
            _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = arrDevices.ElementAt(j);
            if (stRow.memberDevices != nullptr) stDevice.device = BstrText(stRow.memberDevices[j]);
            if (stRow.memberDeviceExtras != nullptr) stDevice.deviceExtra = BstrText(stRow.memberDeviceExtras[j]);
          }
        } else {
          // An unreadable member count leaves the list empty; the members
          // still get entries when the structure is walked.
          LONG lMembers = 0;
          _getStructElementCountX(stStructID, lMembers);
          arrDevices.SetSize(std::max<LONG>(lMembers, 0));

          const CString strAttr5 = BstrText(stRow.dynamicAttr5);
          if (!strAttr5.IsEmpty()) {
            pLabel->dynamicAttr5Value = _wtol(strAttr5.GetString());
            pLabel->hasDynamicAttr5 = 1;
          }
          const CString strAttr2 = BstrText(stRow.dynamicAttr2);
          if (!strAttr2.IsEmpty()) {
            pLabel->dynamicAttr2Value = _wtol(strAttr2.GetString());
            pLabel->hasDynamicAttr2 = 1;
          }
          pLabel->dynamicAttr3 = stRow.dynamicAttr3;
          strArraySuffix = ArraySuffix(pLabel->arraySizes);
        }

        pLabel->structKey = PlainKey(stStructID);
        ulResult = _addDynamicLabelStructMapX(stStructID, pLabel->name, strArraySuffix, arrDevices);
        if (ulResult != KX9_OK) return ulResult;
        pLabel->devices.Append(arrDevices);
      }

      pLabel->listKey = ullListKey;
      pLabel->rowID = stRow.rowID;
      m_arrDynamicLabel.Add(pLabel.get());
      pLabel.release();
    }
  }
  return KX9_OK;
}

// --- structures -----------------------------------------------------------------

ULONG CKX9ComFuncLabelStructure::_addDynamicLabelStructMapX(STOBJECTID stStructID, const CString& strLabelName,
                                                            const CString& strArraySuffix, CDeviceArray& arrDevices) {
  LONG lType = 0;
  ULONG ulResult = GetDataType(stStructID, lType);
  if (ulResult != KX9_OK) return ulResult;
  if (lType != VN_TYPE_SDT) return KX9_OK;

  // Every structured label builds its type's structure; it is stored only
  // when its key is new, so the first structure under a key stays.
  std::unique_ptr<_STKX9DYNAMICSTRUCTURE> pStruct(new (std::nothrow) _STKX9DYNAMICSTRUCTURE);
  if (!pStruct) return KX9_ERR_ALLOC;

  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stStructID, &pObject, &lDetail) < 0) return KX9_ERR_DB;
  ComPtr<IVNDataABS_HighCapacityStructure> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;

  LONG lCount = 0;
  ulResult = CountRows(pTable.Get(), lCount);
  if (ulResult != KX9_OK) return ulResult;
  LONG* pIDs = _createRowIDList(lCount);
  if (pIDs == nullptr) return KX9_ERR_ALLOC;
  ScopeExit freeIDs([&pIDs] { delete[] pIDs; });
  ulResult = FetchRowIDs(pTable.Get(), pIDs, lCount);
  if (ulResult != KX9_OK) return ulResult;

  const ULONGLONG ullTypeKey = MemberKey(stStructID);
  // Counts consecutive bit members; every 16th closes a packed word.
  WORD wBitRun = 0;
  pStruct->elements.SetSize(lCount);

  for (LONG lFirst = 0; lFirst < lCount; lFirst += kRowBatchSize) {
    const LONG lBatch = std::min(lCount - lFirst, kRowBatchSize);
    stVNStructElementDataX* pBlock = _createStructElementDataX(lBatch);
    if (pBlock == nullptr) return KX9_ERR_ALLOC;
    ScopeExit releaseBlock([this, &pBlock, lBatch] { _releaseStructElementDataX(pBlock, lBatch); });

    lDetail = 0;
    if (pTable->GetRows(lBatch, pIDs + lFirst, pBlock, &lDetail) < 0) return KX9_ERR_DB;

    for (LONG i = 0; i < lBatch; ++i) {
      const stVNStructElementDataX& stRow = pBlock[i];
      const LONG lMember = lFirst + i;
      // A device list shorter than the type's members grows by empty
      // entries, completed like the others.
      if (lMember >= arrDevices.GetSize()) arrDevices.SetSize(lMember + 1);
      _STKX9LABELSTRUCTUREGVLDEVICE& stDevice = arrDevices.ElementAt(lMember);
      const CString strMemberName = BstrText(stRow.name);
      if (stDevice.device.IsEmpty()) {
        // "<label><suffix>.<member>"; a failed conversion leaves the device empty.
        CString strFullName(strLabelName);
        strFullName += strArraySuffix;
        strFullName += u'.';
        strFullName += strMemberName;
        _convertLabelToKORVEXDevice(strFullName, stDevice.device);
      }

      _STKX9DYNAMICSTRUCTELEM& stElem = pStruct->elements.ElementAt(lMember);
      stElem.name = strMemberName;
      stElem.dataTypeName = BstrText(stRow.dataTypeName);
      stElem.rowID = stRow.rowID;
      stElem.typeKey = ullTypeKey;
      WORD wSize = 0;
      BYTE byAllocType = 0;
      GetTypeAndSizeForAllocDB(stElem.dataTypeName, 0, wSize, byAllocType);
      stElem.allocType = byAllocType;
      if (byAllocType == kAllocTypeBit) {
        ++pStruct->bitCount;
        ++wBitRun;
        if (wBitRun == 1)
          ++pStruct->totalWords;
        else if (wBitRun == kBitsPerWord)
          wBitRun = 0;
      } else {
        pStruct->wordCount += wSize;
        pStruct->totalWords += wSize;
        wBitRun = 0;
      }
    }
  }

  const ULONGLONG ullKey = PlainKey(stStructID);
  _STKX9DYNAMICSTRUCTURE* pStored = nullptr;
  if (!m_mapDynamicStruct.Lookup(ullKey, pStored)) {
    m_mapDynamicStruct.SetAt(ullKey, pStruct.get());  // the map owns it once it holds it
    pStruct.release();
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_getStructElementCountX(const STOBJECTID& stStructID, LONG& lCount) {
  LONG lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stStructID, &pObject, &lDetail) < 0) return KX9_ERR_DB;
  ComPtr<IVNDataABS_HighCapacityStructure> pTable;
  if (!QueryInterfaceTo(pObject, pTable)) return KX9_ERR_DB;
  lDetail = 0;
  LONG lRows = 0;
  if (pTable->GetRowCount(&lRows, &lDetail) < 0) return KX9_ERR_DB;
  lCount = lRows;
  return KX9_OK;
}

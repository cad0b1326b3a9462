// Lookups for the host's device allocation: structured types by name and the
// allocation type and size of basic types.
#include <memory>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/KX9DataTypes.h"

ULONG CKX9ComFuncLabelStructure::GetStructDataID(CString strName, STOBJECTID& stID) {
  stID = STOBJECTID::Null();
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;

  LONG lDetail = 0;
  STOBJECTID stParentID = STOBJECTID::Null();
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(VN_TYPE_SDT), &stParentID, &lDetail) != S_OK)
    return KX9_ERR_DB;

  LONG lCount = 0;
  STOBJECTID* pRawIDs = nullptr;
  const ULONG ulList = GetCollectionList(stParentID, lCount, &pRawIDs);
  if (ulList != KX9_OK) return ulList;
  const std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);

  // Names are compared case-sensitively and in full; the first structure in
  // list order wins, and one whose name cannot be read is passed over.
  ULONG ulResult = KX9_ERR_NO_STRUCT;
  CString strCandidate;
  for (LONG i = 0; i < lCount; ++i) {
    if (GetVariableName(pIDs[i], strCandidate) != KX9_OK) continue;
    if (strCandidate == strName) {
      stID = pIDs[i];
      ulResult = KX9_OK;
      break;
    }
  }
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::GetTypeAndSizeForAllocDB(const CString& strType, int nInByte, WORD& wSize,
                                                          BYTE& byAllocType) {
  const KX9BasicType* pRow = KX9FindBasicTypeNoCase(strType);
  if (pRow == nullptr) return KX9_OK;  // not a basic type: the caller's values stay
  wSize = nInByte != 0 ? static_cast<WORD>(pRow->size * 2) : pRow->size;
  byAllocType = pRow->allocType;
  return KX9_OK;
}

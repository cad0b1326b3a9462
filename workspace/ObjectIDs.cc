// Object-ID services: types, parents, children, names and update stamps.
#include <memory>

#include "component/KX9ComFuncLabelStructure.h"

namespace {

// Keys whose high word has 0xFF in its top byte carry the object's type in
// their low word; the high word 0xFF000000 itself with a low word of 0 is
// the one such key that names no type (its holder's type stays as it was).
constexpr DWORD kTypeCarryingHigh = 0xFF000000u;

}  // namespace

ULONG CKX9ComFuncLabelStructure::GetCollectionList(STOBJECTID stCollectionID, LONG& lCount, STOBJECTID** ppIDs) {
  lCount = 0;
  *ppIDs = nullptr;

  LONG lDetail = 0;
  LONG lChildren = 0;
  if (m_pWorkspace->GetChildIDList(stCollectionID, &lChildren, nullptr, &lDetail) != S_OK) return KX9_ERR_DB;
  if (lChildren <= 0) return KX9_OK;

  std::unique_ptr<STOBJECTID[]> pIDs(new (std::nothrow) STOBJECTID[static_cast<std::size_t>(lChildren)]());
  if (!pIDs) return KX9_ERR_ALLOC;

  lDetail = 0;
  LONG lFilled = lChildren;
  if (m_pWorkspace->GetChildIDList(stCollectionID, &lFilled, pIDs.get(), &lDetail) != S_OK) return KX9_ERR_DB;

  lCount = lChildren;
  *ppIDs = pIDs.release();
  return KX9_OK;
}

LONG CKX9ComFuncLabelStructure::GetParentCollectionType(LONG lType) {
  const bool bX = _isXSeriesCPU() == 1;
  switch (lType) {
    case VN_TYPE_GVL:
      return bX ? VN_TYPE_GVL_COLLECTION_X : VN_TYPE_GVL_COLLECTION;
    case VN_TYPE_GLOBAL_VARIABLE:
      // High-capacity variables are rows of their GVL, not objects of a collection.
      return bX ? VN_TYPE_GLOBAL_VARIABLE : VN_TYPE_VARIABLE_COLLECTION;
    case VN_TYPE_SDT:
      return bX ? VN_TYPE_SDT_COLLECTION_X : VN_TYPE_SDT_COLLECTION;
    case VN_TYPE_STRUCT_MEMBER:
      return bX ? VN_TYPE_STRUCT_MEMBER : VN_TYPE_MEMBER_COLLECTION;
    default:
      return lType;
  }
}

LONG CKX9ComFuncLabelStructure::GetChildCollectionType(LONG lType) {
  switch (lType) {
    case VN_TYPE_GVL:
      return VN_TYPE_VARIABLE_COLLECTION;
    case VN_TYPE_SDT:
      return VN_TYPE_MEMBER_COLLECTION;
    default:
      return lType;
  }
}

ULONG CKX9ComFuncLabelStructure::GetDataType(STOBJECTID stID, LONG& lType) {
  if (stID.IsNull()) return KX9_ERR_ARG;

  const DWORD dwHigh = stID.dwWord[1];
  const DWORD dwLow = stID.dwWord[0];
  if ((dwHigh & kTypeCarryingHigh) == kTypeCarryingHigh) {
    if (!(dwHigh == kTypeCarryingHigh && dwLow == 0)) lType = static_cast<LONG>(dwLow);
    return KX9_OK;
  }

  LONG lDetail = 0;
  LONG lDbType = 0;
  if (m_pWorkspace->GetObjectType(stID, &lDbType, &lDetail) != S_OK) return KX9_ERR_DB;
  lType = lDbType;
  return KX9_OK;
}

// Callers rely on the database's own detail code here, not on a fixed 2; the
// parent is the null ID whenever the lookup failed.
ULONG CKX9ComFuncLabelStructure::GetParentDataID(STOBJECTID stID, STOBJECTID& stParentID) {
  stParentID = STOBJECTID::Null();

  LONG lDetail = 0;
  STOBJECTID stParent = STOBJECTID::Null();
  if (m_pWorkspace->GetParentID(stID, &stParent, &lDetail) != S_OK) return static_cast<ULONG>(lDetail);
  stParentID = stParent;
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::SetUpdateTime(STOBJECTID stID) {
  LONG lType = 0;
  ULONG ulResult = GetDataType(stID, lType);
  if (ulResult != KX9_OK) return ulResult;

  STOBJECTID stFirst = STOBJECTID::Null();
  STOBJECTID stSecond = STOBJECTID::Null();
  switch (lType) {
    case VN_TYPE_GVL_COLLECTION:
    case VN_TYPE_VARIABLE_COLLECTION:
    case VN_TYPE_SDT_COLLECTION:
    case VN_TYPE_MEMBER_COLLECTION:
      stFirst = stID;
      break;
    case VN_TYPE_GVL:
    case VN_TYPE_SDT:
      // A changed list or type also changes the collection that holds it.
      ulResult = GetParentDataID(stID, stFirst);
      if (ulResult != KX9_OK) return ulResult;
      stSecond = stID;
      break;
    case VN_TYPE_GLOBAL_VARIABLE:
    case VN_TYPE_STRUCT_MEMBER: {
      // A changed element stamps its GVL or SDT, two levels up.
      STOBJECTID stParent = STOBJECTID::Null();
      ulResult = GetParentDataID(stID, stParent);
      if (ulResult != KX9_OK) return ulResult;
      ulResult = GetParentDataID(stParent, stFirst);
      if (ulResult != KX9_OK) return ulResult;
      break;
    }
    default:
      return KX9_ERR_TYPE;
  }

  // One reading of the clock, so both stamps carry the same time.
  const SYSTEMTIME stNow = GetLocalTimeWholeSeconds();
  ulResult = SetDataLastUpdateTime(stFirst, stNow);
  if (ulResult != KX9_OK) return ulResult;
  if (!stSecond.IsNull()) return SetDataLastUpdateTime(stSecond, stNow);
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::SetDataLastUpdateTime(STOBJECTID stID, SYSTEMTIME stTime) {
  if (stID.IsNull()) return KX9_ERR_ARG;
  LONG lDetail = 0;
  if (m_pWorkspace->SetLastUpdateTime(stID, stTime, &lDetail) != S_OK) return KX9_ERR_DB;
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::GetVariableName(STOBJECTID stID, CString& strName) {
  BstrHolder bstrName;
  LONG lDetail = 0;
  if (m_pWorkspace->GetObjectName(stID, bstrName.Put(), &lDetail) != S_OK) return KX9_ERR_DB;
  strName = CString(bstrName.Get(), static_cast<int>(SysStringLen(bstrName.Get())));
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::SetVariableName(STOBJECTID stID, CString strName) {
  BstrHolder bstrName(strName.AllocSysString());
  LONG lDetail = 0;
  if (m_pWorkspace->SetObjectName(stID, bstrName.Get(), &lDetail) != S_OK) return KX9_ERR_DB;
  return KX9_OK;
}

// The project's external equipment flag, kept on its GVL parent collection.
#include "component/KX9ComFuncLabelStructure.h"

namespace {

// Opens the flag interface T of the project's GVL parent collection of type
// `lCollectionType`. Returns true with `pSetting` set, or false with the
// result the flag operations report: the database's detail when a call
// failed (any non-zero status), 2 when the collection lacks the interface.
template <class T>
bool OpenLabelSetting(IVNDataABS_Workspace* pWorkspace, const STOBJECTID& stProject, LONG lCollectionType,
                      ComPtr<T>& pSetting, ULONG& ulResult) {
  LONG lDetail = 0;
  STOBJECTID stSettingID = STOBJECTID::Null();
  if (pWorkspace->GetChildIDByType(stProject, lCollectionType, &stSettingID, &lDetail) != S_OK) {
    ulResult = static_cast<ULONG>(lDetail);
    return false;
  }
  lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (pWorkspace->GetDataObject(stSettingID, &pObject, &lDetail) != S_OK) {
    ulResult = static_cast<ULONG>(lDetail);
    return false;
  }
  if (!QueryInterfaceTo(pObject, pSetting)) {
    ulResult = KX9_ERR_DB;
    return false;
  }
  return true;
}

}  // namespace

ULONG CKX9ComFuncLabelStructure::GetExternalEquipmentFlag(LONG* pFlag) {
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;
  if (_isXSeriesCPU() == 1) return _getExternalEquipmentFlagX(pFlag);

  ComPtr<IVNDataABS_GlobalLabelSetting> pSetting;
  ULONG ulResult = KX9_OK;
  if (!OpenLabelSetting(m_pWorkspace, m_stObjectID, VN_TYPE_GVL_COLLECTION, pSetting, ulResult)) return ulResult;

  LONG lDetail = 0;
  if (pSetting->GetExternalFlag(pFlag, &lDetail) != S_OK) return static_cast<ULONG>(lDetail);
  return KX9_OK;
}

// The high-capacity series keeps the flag read-only: setting it is a no-op
// that reports success.
ULONG CKX9ComFuncLabelStructure::SetExternalEquipmentFlag(LONG lFlag) {
  if (_isXSeriesCPU() == 1) return KX9_OK;
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;

  ComPtr<IVNDataABS_GlobalLabelSetting> pSetting;
  ULONG ulResult = KX9_OK;
  if (!OpenLabelSetting(m_pWorkspace, m_stObjectID, VN_TYPE_GVL_COLLECTION, pSetting, ulResult)) return ulResult;

  LONG lDetail = 0;
  if (pSetting->SetExternalFlag(lFlag, &lDetail) != S_OK) return static_cast<ULONG>(lDetail);
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::_getExternalEquipmentFlagX(LONG* pFlag) {
  ComPtr<IVNDataABS_HighCapacityLabelSetting> pSetting;
  ULONG ulResult = KX9_OK;
  if (!OpenLabelSetting(m_pWorkspace, m_stObjectID, VN_TYPE_GVL_COLLECTION_X, pSetting, ulResult)) return ulResult;

  LONG lDetail = 0;
  if (pSetting->GetExternalFlag(pFlag, &lDetail) != S_OK) return static_cast<ULONG>(lDetail);
  return KX9_OK;
}

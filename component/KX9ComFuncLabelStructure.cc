// Construction, destruction, configuration and the high-capacity flush.
#include "component/KX9ComFuncLabelStructure.h"

namespace {
// Dynamic structures are few; a small prime table keeps their lookups flat.
constexpr int kDynamicStructBlockSize = 10;
constexpr UINT kDynamicStructHashSize = 17;
}  // namespace

CKX9ComFuncLabelStructure::CKX9ComFuncLabelStructure(IVNDataABS_Workspace* pWorkspace)
    : m_pWorkspace(nullptr),
      m_stObjectID(STOBJECTID::Null()),
      m_eMode(KX9LabelModeNormal),
      m_eCPUSeries(KX9LabelCPUSeriesStandard),
      m_arrDeleteSystemLabel(),
      m_arrDynamicLabel(),
      m_mapDynamicStruct(kDynamicStructBlockSize) {
  m_mapDynamicStruct.InitHashTable(kDynamicStructHashSize);
  m_pWorkspace = pWorkspace;
}

// The dynamic label records are ours; the dynamic structures are deleted only
// by ReleaseDynamicLabelStruct, and the collected system labels belong to the
// host once handed out, so neither is deleted here. The workspace is borrowed.
CKX9ComFuncLabelStructure::~CKX9ComFuncLabelStructure() {
  for (int i = 0; i < m_arrDynamicLabel.GetSize(); ++i) {
    _STKX9DYNAMICLABELDATA* pLabel = m_arrDynamicLabel.GetAt(i);
    if (pLabel != nullptr) delete pLabel;
  }
}

ULONG CKX9ComFuncLabelStructure::Initialize(STOBJECTID stObjectID) {
  m_stObjectID = stObjectID;
  return KX9_OK;
}

void CKX9ComFuncLabelStructure::SetCPUSeries(KX9LabelCPUSeries eSeries) { m_eCPUSeries = eSeries; }

void CKX9ComFuncLabelStructure::SetMode(KX9LabelMode eMode) { m_eMode = eMode; }

// Only series 1 takes the row-based database path; every other value,
// unknown ones included, stays on the classic path.
int CKX9ComFuncLabelStructure::_isXSeriesCPU() { return m_eCPUSeries == KX9LabelCPUSeriesX ? 1 : 0; }

ULONG CKX9ComFuncLabelStructure::FlashDataBase() {
  if (_isXSeriesCPU() == 0) return KX9_OK;
  if (m_pWorkspace == nullptr) return KX9_ERR_DB;

  LONG lDetail = 0;
  STOBJECTID stStoreID = STOBJECTID::Null();
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, VN_TYPE_GVL_COLLECTION_X, &stStoreID, &lDetail) != S_OK)
    return KX9_ERR_DB;

  lDetail = 0;
  IUnknown* pObject = nullptr;  // borrowed from the workspace
  if (m_pWorkspace->GetDataObject(stStoreID, &pObject, &lDetail) != S_OK) return KX9_ERR_DB;

  ComPtr<IVNDataABS_Storage> pStorage;
  if (!QueryInterfaceTo(pObject, pStorage)) return KX9_ERR_DB;

  lDetail = 0;
  if (pStorage->Flush(&lDetail) != S_OK) return KX9_ERR_DB;
  return KX9_OK;
}

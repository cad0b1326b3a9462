// File: Import.cc
//
// Label import: SetAllData takes an envelope made by GetAllData, stores its
// service block, returns its settings record and replaces every SDT and GVL
// of the project object by those of its label image. Nothing is rolled back
// when a step fails: the database keeps what the steps before did.
#include <cstring>
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"

namespace {

constexpr LONGLONG kSettingsSize = static_cast<LONGLONG>(sizeof(_STKX9AUTODEVSET));
constexpr ULONG kSubstituteBlockSize = 4;
constexpr LONG kKeepSeries = -1;

ULONG ReadLittleEndian32(const BYTE* p) {
  return static_cast<ULONG>(p[0]) | (static_cast<ULONG>(p[1]) << 8) | (static_cast<ULONG>(p[2]) << 16) |
         (static_cast<ULONG>(p[3]) << 24);
}

}  // namespace

ULONG CKX9ComFuncLabelStructure::SetAllData(const BYTE* pData, LONG lSize, _STKX9AUTODEVSET& stAutoDevSet,
                                            KX9LabelCPUSeries eSeries) {
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;
  if (m_stObjectID.IsNull()) return KX9_ERR_NOT_INIT;
  ULONG ulBlockSize = 0;
  const ULONG ulCheck = GetEnvelopeBlockSize(pData, lSize, ulBlockSize);
  if (ulCheck != KX9_OK) return ulCheck;

  LONG lDetail = 0;
  IVNDataABS_LabelService* pService = nullptr;  // borrowed
  if (m_pWorkspace->GetServiceObject(m_stObjectID, VN_SERVICE_LABEL, &pService, &lDetail) < 0)
    return static_cast<ULONG>(lDetail);

  if (pService != nullptr) {
    lDetail = 0;
    pService->SetBlock(0, nullptr, &lDetail);
  }
  if (ulBlockSize > kSubstituteBlockSize) {
    // The service gets a copy it may keep or change: the caller's buffer is
    // read-only here.
    std::unique_ptr<BYTE[]> pCopy(new (std::nothrow) BYTE[ulBlockSize]);
    if (!pCopy) return KX9_ERR_ALLOC;
    std::memcpy(pCopy.get(), pData, ulBlockSize);
    if (pService != nullptr) {
      lDetail = 0;
      pService->SetBlock(static_cast<LONG>(ulBlockSize), pCopy.get(), &lDetail);
    }
  }

  if (static_cast<LONGLONG>(lSize) < static_cast<LONGLONG>(ulBlockSize) + kSettingsSize) return KX9_OK;
  std::memcpy(stAutoDevSet.bytes, pData + ulBlockSize, sizeof(stAutoDevSet.bytes));

  const LONG lImageSize = static_cast<LONG>(static_cast<LONGLONG>(lSize) - ulBlockSize - kSettingsSize);
  if (lImageSize < 1) return SetAllDataMain(0, nullptr);
  const BYTE* pImage = pData + ulBlockSize + kSettingsSize;

  // Both reading passes run under the object's own series: it decides the
  // text encoding of the image.
  const LONG lCount = ReadBinaryData(pImage, lImageSize, nullptr);
  if (lCount < 0) return KX9_ERR_ALLOC;
  if (lCount == 0) return KX9_ERR_EMPTY_IMAGE;

  std::unique_ptr<_STKX9LABELSTRUCTURE[]> pRecords(new (std::nothrow)
                                                       _STKX9LABELSTRUCTURE[static_cast<std::size_t>(lCount)]);
  if (!pRecords) return KX9_ERR_ALLOC;
  const LONG lFilled = ReadBinaryData(pImage, lImageSize, pRecords.get());
  if (lFilled < 0) return KX9_ERR_ALLOC;
  if (lFilled == 0) return KX9_OK;

  // The series argument governs only the database path of the replacement.
  // It is put back however the replacement ends, exceptions included.
  struct SeriesRestorer {
    KX9LabelCPUSeries& target;
    KX9LabelCPUSeries saved;
    ~SeriesRestorer() { target = saved; }
  } restore{m_eCPUSeries, m_eCPUSeries};
  if (static_cast<LONG>(eSeries) != kKeepSeries) m_eCPUSeries = eSeries;
  return SetAllDataMain(lCount, pRecords.get());
}

ULONG CKX9ComFuncLabelStructure::GetEnvelopeBlockSize(const BYTE* pData, LONG lSize, ULONG& ulBlockSize) {
  ulBlockSize = 0;
  if (lSize <= 0 || pData == nullptr) return KX9_ERR_ARG;
  // The block length must be readable and the block itself inside the
  // buffer; otherwise nothing is touched.
  if (lSize < 4) return KX9_ERR_ARG;
  ulBlockSize = ReadLittleEndian32(pData);
  return ulBlockSize > static_cast<ULONG>(lSize) ? KX9_ERR_ARG : KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::SetAllDataMain(LONG lCount, _STKX9LABELSTRUCTURE* pData) {
  ULONG ulResult = DeleteAllDataType(KX9_DATATYPE_SDT);
  if (ulResult == KX9_OK) ulResult = DeleteAllDataType(KX9_DATATYPE_GVL);
  if (ulResult != KX9_OK) return ulResult;
  return CreateAllData(lCount, pData);
}

ULONG CKX9ComFuncLabelStructure::DeleteAllDataType(LONG lType) {
  STOBJECTID stParentID = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(lType), &stParentID, &lDetail) != S_OK)
    return KX9_ERR_DB;

  LONG lChildren = 0;
  STOBJECTID* pRawIDs = nullptr;
  ULONG ulResult = GetCollectionList(stParentID, lChildren, &pRawIDs);
  std::unique_ptr<STOBJECTID[]> pIDs(pRawIDs);
  if (ulResult != KX9_OK) return ulResult;

  for (LONG i = 0; i < lChildren && pIDs; ++i) {
    const STOBJECTID& stID = pIDs[static_cast<std::size_t>(i)];
    ulResult = DeleteDataElement(stID);
    if (ulResult != KX9_OK) break;
    lDetail = 0;
    if (m_pWorkspace->DeleteDataObject(stID, &lDetail) != S_OK) {
      ulResult = KX9_ERR_DB;
      break;
    }
  }
  pIDs.reset();

  if (_isXSeriesCPU() == 1 && lChildren > 0 && ulResult == KX9_OK) ulResult = FlashDataBase();
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::CreateAllData(LONG lCount, _STKX9LABELSTRUCTURE* pData) {
  if (_isXSeriesCPU() == 1) return _createAllDataX(lCount, pData);

  for (LONG i = 0; i < lCount; ++i) {
    _STKX9LABELSTRUCTURE& stRecord = pData[i];
    if (stRecord.dataType != KX9_DATATYPE_GVL && stRecord.dataType != KX9_DATATYPE_SDT) return KX9_ERR_TYPE;

    // The parent is looked up anew for every datum.
    STOBJECTID stParentID = STOBJECTID::Null();
    LONG lDetail = 0;
    if (m_pWorkspace->GetChildIDByType(m_stObjectID, GetParentCollectionType(stRecord.dataType), &stParentID,
                                       &lDetail) != S_OK)
      return KX9_ERR_DB;

    STOBJECTID stNewID = STOBJECTID::Null();
    ULONG ulResult = CreateData(stParentID, stRecord.name, stRecord.dataType, 0, stNewID);
    if (ulResult != KX9_OK) return ulResult;

    for (int j = 0; j < stRecord.elements.GetSize(); ++j) {
      ulResult = CreateDataElement(stNewID, stRecord.dataType, stRecord.elements[j]);
      if (ulResult != KX9_OK) return ulResult;
    }
  }
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::CreateData(STOBJECTID stParent, CString strName, LONG lType, BYTE byFlag,
                                            STOBJECTID& stNewID) {
  BstrHolder name(strName.AllocSysString());
  LONG lDetail = 0;
  if (m_pWorkspace->CreateDataObject(stParent, name.Get(), lType, byFlag, &stNewID, &lDetail) != S_OK)
    return KX9_ERR_DB;
  return SetUpdateTime(stNewID);
}

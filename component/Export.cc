// File: Export.cc
//
// Label export: gathering every SDT and GVL of the project object into label
// records (GetAllDataMain, GetAllDataType) and wrapping their image into the
// export envelope (GetAllData).
//
// Envelope, little-endian: B (4 bytes, the service block's own length,
// counting itself) | the rest of the service block | 104 settings bytes |
// the label image. One extra 0 byte follows an image and is not counted.
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/LabelLineCodec.h"

namespace {

// The block that stands in for a service block that cannot be had: just
// its own length, 4.
constexpr LONG kSubstituteBlockSize = 4;
constexpr LONG kSettingsSize = static_cast<LONG>(sizeof(_STKX9AUTODEVSET));
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
// Largest service block the high-capacity series accepts.
constexpr LONGLONG kMaxBlockSizeX = 0x80000000LL;

BYTE* MakeSubstituteBlock() {
  auto* p = static_cast<BYTE*>(CoTaskMemAlloc(kSubstituteBlockSize));
  if (p != nullptr) {
    p[0] = static_cast<BYTE>(kSubstituteBlockSize);
    p[1] = p[2] = p[3] = 0;
  }
  return p;
}

// Frees the service block (task memory) on every way out, exceptions included.
struct BlockHolder {
  BYTE* block = nullptr;
  ~BlockHolder() { CoTaskMemFree(block); }
};

}  // namespace

ULONG CKX9ComFuncLabelStructure::GetAllData(BYTE** ppData, LONG* pSize, const _STKX9AUTODEVSET& stAutoDevSet) {
  if (m_pWorkspace == nullptr) return KX9_ERR_NO_WORKSPACE;
  if (m_stObjectID.IsNull()) return KX9_ERR_NOT_INIT;
  if (ppData == nullptr || pSize == nullptr) return KX9_ERR_ARG;
  *ppData = nullptr;
  *pSize = 0;

  // Counting pass.
  LONG lCount = 0;
  ULONG ulResult = GetAllDataMain(&lCount, nullptr);
  if (ulResult != KX9_OK) return ulResult;

  // The filling pass turns each datum into image lines as soon as it is
  // read, so that the project's records are never all held at once; the
  // database sees the same calls as a filling pass into a record array.
  std::unique_ptr<KX9ImageLines> pLines;
  bool bFormatFailed = false;
  HRESULT hrBlock = S_FALSE;
  LONG lBlockSize = 0;
  BYTE* pBlock = nullptr;
  if (lCount > 0) {
    // Without records the label service is not consulted at all.
    pLines.reset(new (std::nothrow) KX9ImageLines(m_eCPUSeries != KX9LabelCPUSeriesStandard));
    if (pLines == nullptr) return KX9_ERR_ALLOC;
    ulResult = GatherImageLines(KX9_DATATYPE_SDT, *pLines, bFormatFailed);
    if (ulResult == KX9_OK) ulResult = GatherImageLines(KX9_DATATYPE_GVL, *pLines, bFormatFailed);
    if (ulResult != KX9_OK) return ulResult;

    LONG lDetail = 0;
    IVNDataABS_LabelService* pService = nullptr;  // borrowed
    HRESULT hr = m_pWorkspace->GetServiceObject(m_stObjectID, VN_SERVICE_LABEL, &pService, &lDetail);
    if (hr < 0) return static_cast<ULONG>(lDetail);

    if (_isXSeriesCPU() == 1) {
      LONGLONG llSize = 0;
      lDetail = 0;
      if (pService == nullptr || pService->GetBlockSize(&llSize, &lDetail) < 0 || llSize > kMaxBlockSizeX)
        return KX9_ERR_ALLOC;
    }

    lDetail = 0;
    hrBlock = pService != nullptr ? pService->GetBlock(&lBlockSize, &pBlock, &lDetail) : E_POINTER;
  }

  return FinishEnvelope(
      hrBlock, lBlockSize, pBlock, lCount > 0,
      [&](BYTE*& pBuffer, LONG lHeaderSize) -> LONG {
        if (bFormatFailed) return -1;
        bool bBufferDue = false;
        try {
          return FinishBinaryData(*pLines, pBuffer, lHeaderSize, &bBufferDue);
        } catch (...) {
          return -1;
        }
      },
      stAutoDevSet, ppData, pSize);
}

ULONG CKX9ComFuncLabelStructure::AssembleEnvelope(HRESULT hrBlock, LONG lBlockSize, BYTE* pBlock, LONG lCount,
                                                  _STKX9LABELSTRUCTURE*& pRecords, const _STKX9AUTODEVSET& stAutoDevSet,
                                                  BYTE** ppData, LONG* pSize) {
  // The writer destroys the records and clears pRecords on success.
  return FinishEnvelope(
      hrBlock, lBlockSize, pBlock, lCount > 0 && pRecords != nullptr,
      [&](BYTE*& pBuffer, LONG lHeaderSize) { return WriteBinaryData(lCount, pRecords, pBuffer, lHeaderSize); },
      stAutoDevSet, ppData, pSize);
}

template <class WriteImage>
ULONG CKX9ComFuncLabelStructure::FinishEnvelope(HRESULT hrBlock, LONG lBlockSize, BYTE* pBlock, bool bImage,
                                                WriteImage writeImage, const _STKX9AUTODEVSET& stAutoDevSet,
                                                BYTE** ppData, LONG* pSize) {
  BlockHolder res{pBlock};
  if (!bImage || hrBlock != S_OK || lBlockSize < 1 || res.block == nullptr) {
    CoTaskMemFree(res.block);
    res.block = MakeSubstituteBlock();
    if (res.block == nullptr) return KX9_ERR_ALLOC;
    lBlockSize = kSubstituteBlockSize;
  }

  // A size output beyond 32 bits cannot be reported: such an envelope is as
  // impossible to make as a failed allocation.
  if (lBlockSize > kLongMax - kSettingsSize) return KX9_ERR_ALLOC;
  const LONG lHeaderSize = lBlockSize + kSettingsSize;
  *pSize = lHeaderSize;

  BYTE* pBuffer = nullptr;
  if (bImage) {
    LONG lImage = writeImage(pBuffer, lHeaderSize);
    *ppData = pBuffer;
    if (lImage < 0) return KX9_ERR_ALLOC;
    if (lImage > 0 && pBuffer != nullptr) {
      if (lImage > kLongMax - lHeaderSize) {
        delete[] pBuffer;
        *ppData = nullptr;
        return KX9_ERR_ALLOC;
      }
      *pSize += lImage;
    } else {
      // Records that yield no line leave nothing but the envelope.
      delete[] pBuffer;
      *ppData = pBuffer = nullptr;
    }
  }
  if (pBuffer == nullptr) {
    pBuffer = new (std::nothrow) BYTE[static_cast<std::size_t>(lHeaderSize)];
    if (pBuffer == nullptr) return KX9_ERR_ALLOC;
    *ppData = pBuffer;
  }

  std::memcpy(pBuffer, res.block, static_cast<std::size_t>(lBlockSize));
  std::memcpy(pBuffer + lBlockSize, stAutoDevSet.bytes, sizeof(stAutoDevSet.bytes));
  return KX9_OK;
}

ULONG CKX9ComFuncLabelStructure::GetAllDataMain(LONG* pCount, _STKX9LABELSTRUCTURE* pData) {
  *pCount = 0;
  ULONG ulResult = GetAllDataType(KX9_DATATYPE_SDT, pCount, pData);
  if (ulResult == KX9_OK) ulResult = GetAllDataType(KX9_DATATYPE_GVL, pCount, pData);
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::GetDataIDs(LONG lType, LONG& lChildren, std::unique_ptr<STOBJECTID[]>& pIDs) {
  const LONG lParentType = GetParentCollectionType(lType);
  STOBJECTID stParentID = STOBJECTID::Null();
  LONG lDetail = 0;
  if (m_pWorkspace->GetChildIDByType(m_stObjectID, lParentType, &stParentID, &lDetail) != S_OK) return KX9_ERR_DB;
  STOBJECTID* pRawIDs = nullptr;
  const ULONG ulResult = GetCollectionList(stParentID, lChildren, &pRawIDs);
  pIDs.reset(pRawIDs);
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::GetAllDataType(LONG lType, LONG* pCount, _STKX9LABELSTRUCTURE* pData) {
  LONG lChildren = 0;
  std::unique_ptr<STOBJECTID[]> pIDs;
  ULONG ulResult = GetDataIDs(lType, lChildren, pIDs);
  if (ulResult != KX9_OK) return ulResult;

  // GetCollectionList reports 0 or the number of children, never less.
  if (pData != nullptr) {
    _STKX9LABELSTRUCTURE* pFirst = pData + *pCount;
    for (LONG i = 0; i < lChildren; ++i) {
      _STKX9LABELSTRUCTURE& stRecord = pFirst[i];
      if (GetVariableName(pIDs[static_cast<std::size_t>(i)], stRecord.name) != KX9_OK) {
        ulResult = KX9_ERR_DB;
        break;
      }
      stRecord.DeleteElements();
      stRecord.dataType = lType;
      ulResult = GetDataElement(pIDs[static_cast<std::size_t>(i)], stRecord.elements);
      if (ulResult != KX9_OK) break;
    }
  }
  *pCount += lChildren;
  return ulResult;
}

ULONG CKX9ComFuncLabelStructure::GatherImageLines(LONG lType, KX9ImageLines& lines, bool& bFormatFailed) {
  LONG lChildren = 0;
  std::unique_ptr<STOBJECTID[]> pIDs;
  ULONG ulResult = GetDataIDs(lType, lChildren, pIDs);
  if (ulResult != KX9_OK) return ulResult;

  const bool bFlagAllowed = m_eMode != KX9LabelModeWithoutSystemLabel;
  for (LONG i = 0; i < lChildren; ++i) {
    _STKX9LABELSTRUCTURE stRecord;
    if (GetVariableName(pIDs[static_cast<std::size_t>(i)], stRecord.name) != KX9_OK) return KX9_ERR_DB;
    stRecord.dataType = lType;
    ulResult = GetDataElement(pIDs[static_cast<std::size_t>(i)], stRecord.elements);
    if (ulResult != KX9_OK) return ulResult;
    if (bFormatFailed) continue;
    try {
      lines.Add(stRecord, bFlagAllowed, true);
    } catch (...) {
      bFormatFailed = true;
    }
  }
  return KX9_OK;
}

// The system-label block of the label image and its digest text.
//
// Block layout (little-endian, no padding), in the framework archive
// encoding so that stored images and their digests stay readable:
//   count N        16-bit, or FFFF then 32-bit when N >= 0xFFFF
//   N records      name, programName (strings), attribute (16), status,
//                  listID, dataType (32), dataSize (16), ID, CPUID,
//                  projectID (32), localName (string)
//   G              32-bit length of the generic data that follows
//   generic data   G bytes of the project's system-label generic data
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "component/KX9ComFuncLabelStructure.h"
#include "syslabel/KX9SystemLabelStatus.h"

namespace {

void WriteSystemLabel(CArchiveWriter& ar, const _STKX9SYSTEMLABELDATA& st) {
  ar.WriteString(st.name);
  ar.WriteString(st.programName);
  ar.WriteWord(st.attribute);
  ar.WriteLong(st.status);
  ar.WriteLong(st.listID);
  ar.WriteLong(st.dataType);
  ar.WriteWord(st.dataSize);
  ar.WriteLong(st.ID);
  ar.WriteLong(st.CPUID);
  ar.WriteLong(st.projectID);
  ar.WriteString(st.localName);
}

// Raises CArchiveException when the block ends inside the record.
void ReadSystemLabel(CArchiveReader& ar, _STKX9SYSTEMLABELDATA& st) {
  st.name = ar.ReadString();
  st.programName = ar.ReadString();
  st.attribute = ar.ReadWord();
  st.status = ar.ReadLong();
  st.listID = ar.ReadLong();
  st.dataType = ar.ReadLong();
  st.dataSize = ar.ReadWord();
  st.ID = ar.ReadLong();
  st.CPUID = ar.ReadLong();
  st.projectID = ar.ReadLong();
  st.localName = ar.ReadString();
}

// Restores the object's mode when the scope ends, exceptions included.
template <class T>
class CValueRestorer {
 public:
  explicit CValueRestorer(T& ref) : m_ref(ref), m_saved(ref) {}
  ~CValueRestorer() { m_ref = m_saved; }
  CValueRestorer(const CValueRestorer&) = delete;
  CValueRestorer& operator=(const CValueRestorer&) = delete;

 private:
  T& m_ref;
  T m_saved;
};

}  // namespace

// Serializes the system-label part of every record of lstSystemLabel, head
// to tail, followed by the project's system-label generic data. *ppBlock
// receives a new[] block of *pLength bytes that the caller frees with
// delete[]. When the generic data cannot be read, the block carries a
// generic length of 0 and no generic bytes. Returns 0; running out of
// memory raises std::bad_alloc.
ULONG CKX9ComFuncLabelStructure::SerializeSystemLabelData(CGVLDataList& lstSystemLabel, LONG* pLength, BYTE** ppBlock) {
  CArchiveWriter ar;
  ar.WriteCount(static_cast<DWORD>(lstSystemLabel.GetCount()));
  const _STKX9SYSTEMLABELDATA stEmpty;
  for (POSITION pos = lstSystemLabel.GetHeadPosition(); pos != nullptr;) {
    const _STKX9LABELSTRUCTUREGVLDATA* pRecord = lstSystemLabel.GetNext(pos);
    WriteSystemLabel(ar, pRecord != nullptr ? pRecord->systemLabel : stEmpty);
  }

  LONG lGeneric = 0;
  BYTE* pRawGeneric = nullptr;
  const ULONG ulGeneric = GetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, &lGeneric, &pRawGeneric);
  std::unique_ptr<BYTE[]> pGeneric(pRawGeneric);
  const std::size_t nGeneric =
      (ulGeneric == KX9_OK && lGeneric > 0 && pGeneric != nullptr) ? static_cast<std::size_t>(lGeneric) : 0;
  ar.WriteDWord(static_cast<DWORD>(nGeneric));

  const std::size_t nTotal = ar.Size() + nGeneric;
  if (nTotal > static_cast<std::size_t>(std::numeric_limits<LONG>::max())) throw std::bad_alloc();
  std::unique_ptr<BYTE[]> pBlock(new BYTE[nTotal]);
  std::memcpy(pBlock.get(), ar.Buffer().data(), ar.Size());
  if (nGeneric != 0) std::memcpy(pBlock.get() + ar.Size(), pGeneric.get(), nGeneric);

  *pLength = static_cast<LONG>(nTotal);
  *ppBlock = pBlock.release();
  return KX9_OK;
}

// Appends one new record per serialized system label to lstSystemLabel (the
// list's owner deletes them) and stores the block's generic data in the
// project when the block holds all of it. A block that ends inside the count
// or a record raises CArchiveException; the records read before it stay in
// the list. Returns 0, or 1 when the generic data buffer cannot be allocated.
ULONG CKX9ComFuncLabelStructure::DeserializeSystemLabelData(const BYTE* pBlock, LONG lLength, int nIgnored,
                                                            CGVLDataList& lstSystemLabel) {
  const std::size_t nLength = pBlock != nullptr ? static_cast<std::size_t>(std::max<LONG>(lLength, 0)) : 0;
  CArchiveReader ar(pBlock, nLength);

  // Every record takes bytes of the block, so a huge count ends at the
  // block's end with the reader's exception rather than in allocations.
  const DWORD dwCount = ar.ReadCount();
  for (DWORD i = 0; i < dwCount; ++i) {
    std::unique_ptr<_STKX9LABELSTRUCTUREGVLDATA> pRecord(new _STKX9LABELSTRUCTUREGVLDATA());
    ReadSystemLabel(ar, pRecord->systemLabel);
    lstSystemLabel.AddTail(pRecord.get());
    pRecord.release();
  }

  const DWORD dwGeneric = ar.ReadDWord();
  if (dwGeneric == 0 || dwGeneric > ar.Remaining()) return KX9_OK;  // truncated generic data is skipped
  std::unique_ptr<BYTE[]> pGeneric(new (std::nothrow) BYTE[dwGeneric]);
  if (pGeneric == nullptr) return KX9_ERR_ALLOC;
  if (ar.ReadBytes(pGeneric.get(), dwGeneric) == dwGeneric)
    SetGenericDataInf(VN_GENERIC_SYSTEM_LABEL, static_cast<LONG>(dwGeneric), pGeneric.get());
  return KX9_OK;
}

// The MD5 digest of the data as text: each digest byte in lower-case hex
// without a leading zero ("%x"), so 16 to 32 characters. Returns 1; 0 with
// an empty text for empty input or a failing digest service.
int CKX9ComFuncLabelStructure::CalcMD5Hash(const BYTE* pData, ULONG ulLength, CString& strHash) {
  static const char16_t kHexDigits[] = u"0123456789abcdef";
  strHash.Empty();
  BYTE digest[16];
  const int nResult = CalcHash(pData, ulLength, digest, sizeof digest, CALG_MD5);
  if (nResult) {
    char16_t text[2 * sizeof digest];
    std::size_t n = 0;
    for (BYTE b : digest) {
      if (b >= 0x10) text[n++] = kHexDigits[b >> 4];
      text[n++] = kHexDigits[b & 0x0F];
    }
    strHash.Assign(text, n);
  }
  return nResult;
}

// Hashes ulLength bytes into pOut (ulOutLength bytes, zeroed first and again
// on failure). Returns 1, or 0 for empty input (pOut untouched) or a failing
// digest service.
int CKX9ComFuncLabelStructure::CalcHash(const BYTE* pData, ULONG ulLength, BYTE* pOut, ULONG ulOutLength,
                                        ULONG ulAlgorithm) {
  if (pData == nullptr || ulLength == 0 || pOut == nullptr) return 0;
  std::memset(pOut, 0, ulOutLength);
  if (!PlatformHash(ulAlgorithm, pData, ulLength, pOut, ulOutLength)) {
    std::memset(pOut, 0, ulOutLength);
    return 0;
  }
  return 1;
}

// Copies the eleven serialized system-label fields; comment and remark of
// the destination stay. Returns 0. Both records exist: the line reader
// passes the variable it builds and a record of the block it read.
ULONG CKX9ComFuncLabelStructure::_setSystemLabelInf(_STKX9LABELSTRUCTUREGVLDATA* pDest,
                                                    const _STKX9LABELSTRUCTUREGVLDATA* pSrc) {
  pDest->systemLabel.CopyWithoutCommentAndRemark(pSrc->systemLabel);
  return KX9_OK;
}

// Reads the variable `stElementID` with its system label, whatever the mode
// (the mode is restored afterwards), and keeps the record in
// m_arrDeleteSystemLabel when its status is one the host must learn about;
// otherwise the record is deleted. A failing read returns its code and keeps
// nothing.
ULONG CKX9ComFuncLabelStructure::_getSystemLabelInf(STOBJECTID stElementID) {
  _STKX9LABELSTRUCTUREBASEDATA* pRaw = nullptr;
  ULONG ulResult;
  {
    CValueRestorer<KX9LabelMode> restoreMode(m_eMode);
    m_eMode = KX9LabelModeNormal;
    ulResult = GetDataElementGVL(stElementID, &pRaw);
  }
  std::unique_ptr<_STKX9LABELSTRUCTUREGVLDATA> pRecord(static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(pRaw));
  if (ulResult != KX9_OK) return ulResult;
  if (pRecord != nullptr && KX9IsCollectedSystemLabelStatus(pRecord->systemLabel.status)) {
    m_arrDeleteSystemLabel.Add(pRecord.get());
    pRecord.release();
  }
  return KX9_OK;
}

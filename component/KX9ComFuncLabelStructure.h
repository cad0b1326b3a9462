// File: KX9ComFuncLabelStructure.h
//
// The public header of the label-structure component. One object reads and
// writes the labels of one project object in the host's workspace database:
// global variable lists, structured data types, system labels, devices and,
// on the high-capacity CPU series, dynamic labels.
//
// Example:
//   CKX9ComFuncLabelStructure labels(workspace);      // workspace is borrowed
//   labels.Initialize(projectId);
//   labels.SetCPUSeries(CKX9ComFuncLabelStructure::KX9LabelCPUSeriesStandard);
//   BYTE* pData = nullptr; LONG lSize = 0; _STKX9AUTODEVSET settings{};
//   if (labels.GetAllData(&pData, &lSize, settings) == KX9_OK) { ...; delete[] pData; }
//
// Thread safety: none. One object is used from one thread at a time.
#pragma once

#include "highcap/KX9DynamicLabelRecords.h"
#include "highcap/VNRowRecords.h"
#include "model/KX9LabelRecords.h"
#include "model/KX9ReadDiagnostics.h"
#include "platform/kx9platform.h"
#include "workspace/VNDataABS.h"

#define KX9_EXPORT __attribute__((visibility("default")))

// Result codes of the component's operations.
enum : ULONG {
  KX9_OK = 0,                        // success, or nothing to do
  KX9_ERR_ALLOC = 1,                 // allocation failed; image not written or parsed; X-series block size check
  KX9_ERR_DB = 2,                    // a database operation failed, or an interface is missing
  KX9_ERR_TYPE = 3,                  // a type code not expected there
  KX9_ERR_ARG = 4,                   // a bad argument: missing output, null buffer or ID, size <= 0
  KX9_ERR_NO_WORKSPACE = 5,          // the component has no workspace database
  KX9_ERR_NO_INTERFACE = 7,          // the element lacks the interface carrying the field
  KX9_ERR_EMPTY_IMAGE = 8,           // the image to import holds no GVL and no SDT
  KX9_ERR_NO_STRUCT = 9,             // no structured data type of that name
  KX9_ERR_NOT_INIT = 10,             // the project object ID is null
  KX9_ERR_NO_ELEMENT = 0xFFFFFFFFu,  // a variable's element object could not be obtained
};

// The meaning of a result code, in the words of the comments above; any
// other code is a database's detail passed up, and is said to be one. The
// text is static and never null.
KX9_EXPORT const char* KX9ResultMeaning(ULONG code);

// Test access: each test file specialises this template with a tag of its
// own to reach protected and private members.
template <class Tag>
struct KX9TestAccess;
class KX9ImageLines;

class KX9_EXPORT CKX9ComFuncLabelStructure {
  template <class Tag>
  friend struct KX9TestAccess;

 public:
  enum KX9LabelCPUSeries : LONG {
    KX9LabelCPUSeriesStandard = 0,
    KX9LabelCPUSeriesX = 1,
  };
  enum KX9LabelMode : LONG {
    KX9LabelModeNormal = 0,
    KX9LabelModeWithoutSystemLabel = 1,
  };

  using CGVLDataArray = CTypedPtrArray<CPtrArray, _STKX9LABELSTRUCTUREGVLDATA*>;
  using CGVLDataList = CTypedPtrList<CPtrList, _STKX9LABELSTRUCTUREGVLDATA*>;
  using CElementArray = CTypedPtrArray<CPtrArray, _STKX9LABELSTRUCTUREBASEDATA*>;
  using CDeviceArray = CArray<_STKX9LABELSTRUCTUREGVLDEVICE>;
  using CArraySizeArray = CArray<_STARRAYSIZEINFO>;
  using CDynamicLabelArray = CTypedPtrArray<CPtrArray, _STKX9DYNAMICLABELDATA*>;
  using CDynamicStructMap = CMap<ULONGLONG, ULONGLONG, _STKX9DYNAMICSTRUCTURE*, _STKX9DYNAMICSTRUCTURE*>;

  // --- lifecycle and configuration ---------------------------------------

  // The workspace is borrowed: never AddRef'ed nor released. May be null;
  // operations then return KX9_ERR_NO_WORKSPACE.
  explicit CKX9ComFuncLabelStructure(IVNDataABS_Workspace* pWorkspace);
  // Deletes the dynamic label records; leaves the dynamic structures (see
  // ReleaseDynamicLabelStruct) and the collected system labels (the host's).
  virtual ~CKX9ComFuncLabelStructure();
  CKX9ComFuncLabelStructure(const CKX9ComFuncLabelStructure&) = delete;
  CKX9ComFuncLabelStructure& operator=(const CKX9ComFuncLabelStructure&) = delete;

  // Points the object at a project object. Validates nothing; returns 0.
  ULONG Initialize(STOBJECTID stObjectID);
  void SetCPUSeries(KX9LabelCPUSeries eSeries);
  void SetMode(KX9LabelMode eMode);

  // --- export and import ---------------------------------------------------

  // GetAllData
  //
  // Exports every SDT and GVL of the project object as one envelope: the
  // label service block (its first 4 bytes hold its length B), the 104-byte
  // settings record and the label image. On success *ppData receives a new[]
  // buffer of *pSize bytes (one extra 0 byte follows when there is an
  // image). The caller frees *ppData with delete[] whenever it is not null
  // on return, whatever the result. The outputs on failure:
  //   5, 10, 4 (no workspace, not initialised, missing output): untouched;
  //   a failure before the buffer is made (gathering, label service, the
  //   X-series block size, the 4-byte substitute block, a block too large
  //   for a 32-bit size): null and 0;
  //   1 while the buffer is made: *pSize is B + 104, and *ppData is null,
  //   or the image writer's own buffer when the writer failed after
  //   storing it.
  // Returns 0, 1, 2, 4, 5, 10, a passed-up code or the database's detail.
  ULONG GetAllData(BYTE** ppData, LONG* pSize, const _STKX9AUTODEVSET& stAutoDevSet);

  // SetAllData
  //
  // Imports an envelope made by GetAllData: stores the service block, copies
  // the settings record into stAutoDevSet, and replaces every SDT and GVL of
  // the project object by those of the image. eSeries chooses the database
  // path of the replacement; -1 keeps the object's own. The buffer stays the
  // caller's. Nothing is rolled back on failure.
  ULONG SetAllData(const BYTE* pData, LONG lSize, _STKX9AUTODEVSET& stAutoDevSet, KX9LabelCPUSeries eSeries);

  // --- lookups ---------------------------------------------------------------

  // The ID of the structured data type named exactly `strName`; 0, or 9 with
  // the null ID when there is none.
  ULONG GetStructDataID(CString strName, STOBJECTID& stID);
  // Allocation type and size (16-bit words, or bytes when nInByte != 0) of a
  // basic type, matched ignoring case. Always 0; outputs untouched when the
  // name is not a basic type.
  ULONG GetTypeAndSizeForAllocDB(const CString& strType, int nInByte, WORD& wSize, BYTE& byAllocType);

  // --- system labels ----------------------------------------------------------

  // Appends the project's system labels of the kept statuses to the
  // collection handed out by GetDeleteSystemLabelInf.
  ULONG GetAllSystemLabelData();
  // Appends the collected records to `arr`. The records become the host's;
  // the object keeps its pointers and never deletes them.
  void GetDeleteSystemLabelInf(CGVLDataArray& arr);

  // --- dynamic labels (high-capacity series) ---------------------------------

  // Appends the dynamic labels of every GVL to the object's array and copies
  // that array into `arr`. The records stay the object's.
  ULONG GetAllDynamicLabelData(CDynamicLabelArray& arr);
  // 1 and the structure stored under `key`, else 0 and `pStruct` untouched.
  int GetDynamicLabelStruct(ULONGLONG key, _STKX9DYNAMICSTRUCTURE*& pStruct);
  // Deletes every dynamic structure.
  void ReleaseDynamicLabelStruct();

  // --- external equipment flag ----------------------------------------------

  ULONG GetExternalEquipmentFlag(LONG* pFlag);
  // Does nothing and returns 0 on the high-capacity series.
  ULONG SetExternalEquipmentFlag(LONG lFlag);

 protected:
  // --- export / import bulk --------------------------------------------------
  ULONG GetAllDataMain(LONG* pCount, _STKX9LABELSTRUCTURE* pData);
  ULONG GetAllDataType(LONG lType, LONG* pCount, _STKX9LABELSTRUCTURE* pData);
  ULONG SetAllDataMain(LONG lCount, _STKX9LABELSTRUCTURE* pData);
  ULONG DeleteAllDataType(LONG lType);
  ULONG CreateAllData(LONG lCount, _STKX9LABELSTRUCTURE* pData);
  ULONG CreateData(STOBJECTID stParent, CString strName, LONG lType, BYTE byFlag, STOBJECTID& stNewID);
  // The service block length B of an envelope of lSize bytes, read as
  // SetAllData reads it (0 when it cannot be read): result 4 for no buffer,
  // a size below 4, or a B (unsigned) beyond the size; else 0. B up to 4 is
  // taken as it stands.
  static ULONG GetEnvelopeBlockSize(const BYTE* pData, LONG lSize, ULONG& ulBlockSize);
  // The envelope of GetAllData from a service block as GetBlock returned it
  // (hrBlock, lBlockSize, pBlock: task memory, always taken over) and lCount
  // records: a missing or empty block, or no records, gives the 4-byte
  // block 04 00 00 00. Outputs, ownership and results as GetAllData.
  ULONG AssembleEnvelope(HRESULT hrBlock, LONG lBlockSize, BYTE* pBlock, LONG lCount, _STKX9LABELSTRUCTURE*& pRecords,
                         const _STKX9AUTODEVSET& stAutoDevSet, BYTE** ppData, LONG* pSize);

  // --- label image, lines and text file ---------------------------------------
  LONG WriteBinaryData(LONG lCount, _STKX9LABELSTRUCTURE*& pData, BYTE*& pImage, LONG lHeaderSize);
  LONG ReadBinaryData(const BYTE* pImage, LONG lLength, _STKX9LABELSTRUCTURE* pData);
  LONG ConvertStructDataToString(LONG lCount, _STKX9LABELSTRUCTURE* pData, CStringArray& arrLines,
                                 CGVLDataList& lstSystemLabel);
  ULONG ConvertStringToStructData(CStringArray& arrLines, LONG lCount, _STKX9LABELSTRUCTURE* pData,
                                  const CGVLDataList& lstSystemLabel);
  LONG GetUnicodeStringLength(CString strText);
  void WriteTextFile(LONG lCount, _STKX9LABELSTRUCTURE* pData, CString strPath);
  LONG ReadTextFile(CString strPath, _STKX9LABELSTRUCTURE* pData);
  // The same readers, with what they skip or cannot account for reported to
  // pDiag (none: exactly the readers above). The filling pass reports; the
  // counting pass (pData null) reports nothing. pOffsets: each line's byte in
  // the input, or none.
  LONG ReadBinaryData(const BYTE* pImage, LONG lLength, _STKX9LABELSTRUCTURE* pData, KX9ReadDiagnostics* pDiag);
  ULONG ConvertStringToStructData(CStringArray& arrLines, LONG lCount, _STKX9LABELSTRUCTURE* pData,
                                  const CGVLDataList& lstSystemLabel, KX9ReadDiagnostics* pDiag,
                                  const LONGLONG* pOffsets);
  LONG ReadTextFile(CString strPath, _STKX9LABELSTRUCTURE* pData, KX9ReadDiagnostics* pDiag);

  // --- element operations (classic path) -----------------------------------
  ULONG GetDataElement(STOBJECTID stDataID, CElementArray& arrElements);
  ULONG DeleteDataElement(STOBJECTID stDataID);
  ULONG CreateDataElement(STOBJECTID stDataID, LONG lType, _STKX9LABELSTRUCTUREBASEDATA* pRecord);
  ULONG GetDataElementGVL(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA** ppRecord);
  ULONG SetDataElementGVL(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord);
  ULONG GetDataElementSDT(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA** ppRecord);
  ULONG SetDataElementSDT(STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord);
  ULONG GetDataElementBase(IUnknown* pElement, STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord);
  ULONG SetDataElementBase(IUnknown* pElement, STOBJECTID stID, _STKX9LABELSTRUCTUREBASEDATA* pRecord);

  // --- object IDs, collections and update stamps -----------------------------
  ULONG GetCollectionList(STOBJECTID stCollectionID, LONG& lCount, STOBJECTID** ppIDs);
  LONG GetParentCollectionType(LONG lType);
  LONG GetChildCollectionType(LONG lType);
  ULONG GetDataType(STOBJECTID stID, LONG& lType);
  ULONG GetParentDataID(STOBJECTID stID, STOBJECTID& stParentID);
  ULONG SetUpdateTime(STOBJECTID stID);
  ULONG SetDataLastUpdateTime(STOBJECTID stID, SYSTEMTIME stTime);
  ULONG GetVariableName(STOBJECTID stID, CString& strName);
  ULONG SetVariableName(STOBJECTID stID, CString strName);

 private:
  // --- export, one datum at a time ---------------------------------------------
  // The IDs of the project's data of type lType (SDTs or GVLs), in order.
  ULONG GetDataIDs(LONG lType, LONG& lChildren, std::unique_ptr<STOBJECTID[]>& pIDs);
  // GetAllDataType's filling pass without the record array: each datum is
  // read into one record, its lines go to `lines` and the record goes before
  // the next datum is read. Once formatting fails, bFormatFailed is set and
  // the remaining data are still read, as the array's filling pass would.
  ULONG GatherImageLines(LONG lType, KX9ImageLines& lines, bool& bFormatFailed);
  // The image of `lines` (trailer and system-label block added) behind
  // lHeaderSize cleared bytes, as WriteBinaryData makes it. *pBufferDue is
  // set once the buffer is about to be made. Raises std::bad_alloc.
  LONG FinishBinaryData(KX9ImageLines& lines, BYTE*& pImage, LONG lHeaderSize, bool* pBufferDue);
  // AssembleEnvelope with the image made by writeImage(buffer, header size),
  // called only when bImage.
  template <class WriteImage>
  ULONG FinishEnvelope(HRESULT hrBlock, LONG lBlockSize, BYTE* pBlock, bool bImage, WriteImage writeImage,
                       const _STKX9AUTODEVSET& stAutoDevSet, BYTE** ppData, LONG* pSize);

  // --- configuration and dispatch --------------------------------------------
  int _isXSeriesCPU();
  ULONG FlashDataBase();

  // --- element field accessors (classic path) ---------------------------------
  ULONG GetVariableLineNo(IUnknown* pElement, ULONG& ulLineNo);
  ULONG SetVariableLineNo(IUnknown* pElement, ULONG ulLineNo);
  ULONG GetVariableComment(IUnknown* pElement, CString& strText);
  ULONG SetVariableComment(IUnknown* pElement, CString strText);
  ULONG GetVariableComment(IUnknown* pElement, UINT uIndex, CString& strText);
  ULONG SetVariableComment(IUnknown* pElement, UINT uIndex, CString strText);
  ULONG GetDataTypeString(IUnknown* pElement, CString& strText);
  ULONG SetDataTypeString(IUnknown* pElement, CString strText);
  ULONG GetVariableInitData(IUnknown* pElement, CString& strText);
  ULONG SetVariableInitData(IUnknown* pElement, CString strText);
  ULONG GetVariableClassKeyWord(IUnknown* pElement, LONG& lValue);
  ULONG SetVariableClassKeyWord(IUnknown* pElement, LONG lValue);
  ULONG GetVariableRemark(IUnknown* pElement, CString& strText);
  ULONG SetVariableRemark(IUnknown* pElement, CString strText);
  ULONG GetStructType(IUnknown* pElement, LONG& lValue);
  ULONG SetStructType(IUnknown* pElement, LONG lValue);
  ULONG GetVariableAllocatedDevice(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDEVICE& stDevice);
  ULONG SetVariableAllocatedDevice(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDEVICE& stDevice);
  ULONG GetStructData(IUnknown* pElement, CDeviceArray& arrDevices);
  ULONG SetStructData(IUnknown* pElement, CDeviceArray& arrDevices);
  ULONG SetStructDefine(IUnknown* pElement, CString strStructName);
  ULONG GetVariableExAccess(IUnknown* pElement, CString& strText);
  ULONG SetVariableExAccess(IUnknown* pElement, CString strText);
  ULONG GetSystemLabelInf(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDATA* pRecord);
  ULONG SetSystemLabelInf(IUnknown* pElement, _STKX9LABELSTRUCTUREGVLDATA* pRecord);
  ULONG GetSystemLabelID(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelID(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelName(IUnknown* pElement, CString& strText);
  ULONG SetSystemLabelName(IUnknown* pElement, CString strText);
  ULONG GetSystemLabelProgramName(IUnknown* pElement, CString& strText);
  ULONG SetSystemLabelProgramName(IUnknown* pElement, CString strText);
  ULONG GetSystemLabelCPUID(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelCPUID(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelAttribute(IUnknown* pElement, WORD& wValue);
  ULONG SetSystemLabelAttribute(IUnknown* pElement, WORD wValue);
  ULONG GetSystemLabelStatus(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelStatus(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelProjectID(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelProjectID(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelListID(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelListID(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelComment(IUnknown* pElement, CString& strText);
  ULONG SetSystemLabelComment(IUnknown* pElement, CString strText);
  ULONG GetSystemLabelRemark(IUnknown* pElement, CString& strText);
  ULONG SetSystemLabelRemark(IUnknown* pElement, CString strText);
  ULONG GetSystemLabelDataType(IUnknown* pElement, LONG& lValue);
  ULONG SetSystemLabelDataType(IUnknown* pElement, LONG lValue);
  ULONG GetSystemLabelDataSize(IUnknown* pElement, WORD& wValue);
  ULONG SetSystemLabelDataSize(IUnknown* pElement, WORD wValue);
  ULONG GetSystemLabelLocalName(IUnknown* pElement, CString& strText);
  ULONG SetSystemLabelLocalName(IUnknown* pElement, CString strText);

  // --- lines and types -----------------------------------------------------
  CString _escapeString(const CString& strText);
  void _tokenize(const CString& strLine, CStringArray& arrFields);
  LONG _getDataTypeCode(CString& strTypeName, LONG lStructType);

  // --- system labels -------------------------------------------------------
  ULONG SerializeSystemLabelData(CGVLDataList& lstSystemLabel, LONG* pLength, BYTE** ppBlock);
  ULONG DeserializeSystemLabelData(const BYTE* pBlock, LONG lLength, int nIgnored, CGVLDataList& lstSystemLabel);
  int CalcMD5Hash(const BYTE* pData, ULONG ulLength, CString& strHash);
  int CalcHash(const BYTE* pData, ULONG ulLength, BYTE* pOut, ULONG ulOutLength, ULONG ulAlgorithm);
  ULONG _setSystemLabelInf(_STKX9LABELSTRUCTUREGVLDATA* pDest, const _STKX9LABELSTRUCTUREGVLDATA* pSrc);
  ULONG _getSystemLabelInf(STOBJECTID stElementID);
  ULONG GetGenericDataInf(LONG lKind, LONG* pLength, BYTE** ppBlob);
  ULONG SetGenericDataInf(LONG lKind, LONG lLength, const BYTE* pBytes);
  ULONG GetSystemLabelData(STOBJECTID stListID);

  // --- high-capacity element access ------------------------------------------
  ULONG _getDataElementX(STOBJECTID stDataID, CElementArray& arrElements);
  ULONG _getDataElementSDTX(IUnknown* pObject, CElementArray& arrElements);
  ULONG _getDataElementGVLX(IUnknown* pObject, CElementArray& arrElements);
  ULONG _deleteDataElementX(STOBJECTID stDataID);
  ULONG _deleteDataElementSDTX(IUnknown* pObject);
  ULONG _deleteDataElementGVLX(IUnknown* pObject);
  ULONG _createDataElementX(STOBJECTID stDataID, CElementArray& arrElements);
  ULONG _createDataElementSDTX(IUnknown* pObject, CElementArray& arrElements);
  ULONG _createDataElementGVLX(IUnknown* pObject, CElementArray& arrElements);
  ULONG _createAllDataX(LONG lCount, _STKX9LABELSTRUCTURE* pData);
  ULONG _getSystemLabelDataX(STOBJECTID stGVLID);
  ULONG _getCommentX(const stVNVariableComment& stComment, _STKX9LABELSTRUCTUREBASEDATA& stRecord);
  ULONG _setCommentX(const _STKX9LABELSTRUCTUREBASEDATA& stRecord, stVNVariableComment& stComment);
  ULONG _getSystemLabelInfX(const stVNGlobalVariableAndSystemLabelElementDataX& stRow,
                            _STKX9SYSTEMLABELDATA& stSystemLabel);
  ULONG _setSystemLabelInfX(const _STKX9SYSTEMLABELDATA& stSystemLabel,
                            stVNGlobalVariableAndSystemLabelElementDataX& stRow);
  ULONG _getArrayElmSizeX(IVNDataABS_HighCapacityGlobalVariable* pInterface, LONG lRowID, CArraySizeArray& arrSizes);
  LONG* _createRowIDList(LONG lCount);
  stVNStructElementDataX* _createStructElementDataX(LONG lCount);
  stVNGlobalVariableAndSystemLabelElementDataX* _createGlobalVariableAndSystemLabelElementDataX(LONG lCount);
  void _releaseStructElementDataX(stVNStructElementDataX*& pRows, LONG lCount);
  void _releaseGlobalVariableAndSystemLabelElementDataX(stVNGlobalVariableAndSystemLabelElementDataX*& pRows,
                                                        LONG lCount);

  // --- dynamic labels, device conversion, external flag -----------------------
  ULONG _getDynamicLabelDataElementGVLX(STOBJECTID stGVLID);
  ULONG _addDynamicLabelStructMapX(STOBJECTID stStructID, const CString& strLabelName, const CString& strArraySuffix,
                                   CDeviceArray& arrDevices);
  ULONG _getStructElementCountX(const STOBJECTID& stStructID, LONG& lCount);
  ULONG _convertLabelToKORVEXDevice(CString strLabel, CString& strDevice);
  ULONG _getExternalEquipmentFlagX(LONG* pFlag);

  // --- members, in declaration order ---------------------------------------
  IVNDataABS_Workspace* m_pWorkspace;  // borrowed
  STOBJECTID m_stObjectID;
  KX9LabelMode m_eMode;
  KX9LabelCPUSeries m_eCPUSeries;
  CGVLDataArray m_arrDeleteSystemLabel;  // records become the host's
  CDynamicLabelArray m_arrDynamicLabel;  // owned
  CDynamicStructMap m_mapDynamicStruct;  // owned until ReleaseDynamicLabelStruct
};

// File: VNDataABS.h
//
// The workspace database interfaces as the label-structure component calls
// them. Every operation returns a 32-bit status and takes `LONG* detail`
// last; the caller sets *detail to 0 before the call and the database may
// leave a code of its own there on failure.
//
// Status conventions: 0 is success. The classic path treats any non-zero
// status as failure; the high-capacity row interfaces, GetServiceObject and
// the storage/setting interfaces of the high-capacity path report failure
// with a negative status (a positive one is success with information).
//
// Ownership: objects handed out by GetDataObject and GetServiceObject are
// borrowed (never released by the caller); interfaces obtained from them by
// QueryInterface are released by the caller. BSTRs returned are freed by the
// caller with SysFreeString; BSTRs passed stay the caller's. Task-memory
// blocks returned are freed by the caller with CoTaskMemFree.
#pragma once

#include "highcap/VNRowRecords.h"
#include "platform/kx9platform.h"
#include "workspace/VNObjectID.h"

// Object type codes of the workspace database.
enum : LONG {
  VN_TYPE_GENERIC_DATA = 2,
  VN_TYPE_GVL_COLLECTION = 13,
  VN_TYPE_GVL = 14,
  VN_TYPE_VARIABLE_COLLECTION = 15,
  VN_TYPE_GLOBAL_VARIABLE = 16,
  VN_TYPE_SDT_COLLECTION = 17,
  VN_TYPE_SDT = 18,
  VN_TYPE_MEMBER_COLLECTION = 19,
  VN_TYPE_STRUCT_MEMBER = 20,
  VN_TYPE_GVL_COLLECTION_X = static_cast<LONG>(0xA2000014u),
  VN_TYPE_SDT_COLLECTION_X = static_cast<LONG>(0xA2000015u),
};

// Service code of the project's label service.
constexpr LONG VN_SERVICE_LABEL = 84;
// Generic-data kind of the system-label generic data.
constexpr LONG VN_GENERIC_SYSTEM_LABEL = static_cast<LONG>(0xA0000089u);

struct IVNDataABS_LabelService;

// The project database. Not reference-counted by the component: the host
// keeps it alive for the component's whole life.
struct IVNDataABS_Workspace : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x01}};
  // *object: the object of `id`, borrowed.
  virtual HRESULT GetDataObject(STOBJECTID id, IUnknown** object, LONG* detail) = 0;
  // Removes `id` and everything below it.
  virtual HRESULT DeleteDataObject(STOBJECTID id, LONG* detail) = 0;
  // A new object of `type` named `name` under `parent`; its ID in *newId.
  virtual HRESULT CreateDataObject(STOBJECTID parent, BSTR name, LONG type, BYTE flag, STOBJECTID* newId,
                                   LONG* detail) = 0;
  // A new, empty element of the GVL or SDT `data` (creating its element
  // collection when needed); its ID in *newId.
  virtual HRESULT CreateElementObject(STOBJECTID data, STOBJECTID* newId, LONG* detail) = 0;
  // ids null: *count receives the number of children. Otherwise *count
  // children are written to ids, in creation order.
  virtual HRESULT GetChildIDList(STOBJECTID collection, LONG* count, STOBJECTID* ids, LONG* detail) = 0;
  // The first child of `parent` whose type is `type`.
  virtual HRESULT GetChildIDByType(STOBJECTID parent, LONG type, STOBJECTID* child, LONG* detail) = 0;
  virtual HRESULT GetParentID(STOBJECTID id, STOBJECTID* parent, LONG* detail) = 0;
  virtual HRESULT GetObjectType(STOBJECTID id, LONG* type, LONG* detail) = 0;
  virtual HRESULT SetObjectName(STOBJECTID id, BSTR name, LONG* detail) = 0;
  virtual HRESULT GetObjectName(STOBJECTID id, BSTR* name, LONG* detail) = 0;
  virtual HRESULT SetLastUpdateTime(STOBJECTID id, SYSTEMTIME time, LONG* detail) = 0;
  // *service: the service `code` of the project, borrowed. Negative: failed.
  virtual HRESULT GetServiceObject(STOBJECTID project, LONG code, IVNDataABS_LabelService** service,
                                   LONG* detail) = 0;
};

// The project's label service (service code 84). Also answers
// IVNDataABS_DeviceConversion.
struct IVNDataABS_LabelService : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x02}};
  // *data: task memory of *size bytes (caller frees), or null when empty.
  virtual HRESULT GetBlock(LONG* size, BYTE** data, LONG* detail) = 0;
  // Stores a copy of `size` bytes; size 0 clears the block.
  virtual HRESULT SetBlock(LONG size, BYTE* data, LONG* detail) = 0;
  virtual HRESULT GetBlockSize(LONGLONG* size, LONG* detail) = 0;
};

// Converts label names into controller device names.
struct IVNDataABS_DeviceConversion : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x03}};
  // For each request: labelText in; deviceText and extraText out, allocated
  // by the service, freed by the caller.
  virtual HRESULT ConvertLabels(LONG count, stVNLabelConversion* requests, LONG* detail) = 0;
};

// --- classic element interfaces ---------------------------------------------

struct IVNDataABS_Variable : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x10}};
  virtual HRESULT SetLineNo(ULONG lineNo, LONG* detail) = 0;
  virtual HRESULT GetLineNo(ULONG* lineNo, LONG* detail) = 0;
  virtual HRESULT SetComment(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetComment(BSTR* text, LONG* detail) = 0;
  virtual HRESULT SetExAccess(LONG flag, LONG* detail) = 0;
  virtual HRESULT GetExAccess(LONG* flag, LONG* detail) = 0;
};

struct IVNDataABS_GlobalVariable : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x11}};
  virtual HRESULT SetInitData(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetInitData(BSTR* text, LONG* detail) = 0;
  virtual HRESULT SetTypeString(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetTypeString(BSTR* text, LONG* detail) = 0;
  virtual HRESULT SetRemark(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetRemark(BSTR* text, LONG* detail) = 0;
  virtual HRESULT SetClassKeyWord(LONG value, LONG* detail) = 0;
  virtual HRESULT GetClassKeyWord(LONG* value, LONG* detail) = 0;
  virtual HRESULT SetAllocatedDevice(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetAllocatedDevice(BSTR* text, LONG* detail) = 0;
  virtual HRESULT SetAllocatedDeviceExtra(BSTR text, LONG* detail) = 0;
  virtual HRESULT GetAllocatedDeviceExtra(BSTR* text, LONG* detail) = 0;
};

// Only the operations the component calls are declared.
struct IVNDataABS_VariableDataType : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x12}};
  virtual HRESULT SetTypeCode(LONG code, LONG* detail) = 0;
  virtual HRESULT SetTypeName(BSTR name, LONG* detail) = 0;
  virtual HRESULT SetStructDefineID(STOBJECTID id, LONG* detail) = 0;
};

struct IVNDataABS_StructVariable : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x13}};
  virtual HRESULT SetStructKind(LONG kind, LONG* detail) = 0;
  virtual HRESULT GetStructKind(LONG* kind, LONG* detail) = 0;
  // Stores `count` device and extra texts (copies; the caller keeps them).
  virtual HRESULT SetMemberDevices(BSTR* devices, BSTR* extras, LONG count, LONG* detail) = 0;
  // devices/extras null: *count receives the number. Otherwise fills at
  // most *count slots of each array with new BSTRs the caller frees.
  virtual HRESULT GetMemberDevices(BSTR* devices, BSTR* extras, LONG* count, LONG* detail) = 0;
};

struct IVNDataABS_SystemLabel : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x14}};
  virtual HRESULT SetName(BSTR v, LONG* detail) = 0;
  virtual HRESULT GetName(BSTR* v, LONG* detail) = 0;
  virtual HRESULT SetProgramName(BSTR v, LONG* detail) = 0;
  virtual HRESULT GetProgramName(BSTR* v, LONG* detail) = 0;
  virtual HRESULT SetComment(BSTR v, LONG* detail) = 0;
  virtual HRESULT GetComment(BSTR* v, LONG* detail) = 0;
  virtual HRESULT SetRemark(BSTR v, LONG* detail) = 0;
  virtual HRESULT GetRemark(BSTR* v, LONG* detail) = 0;
  virtual HRESULT SetValueType(LONG v, LONG* detail) = 0;
  virtual HRESULT GetValueType(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetListID(LONG v, LONG* detail) = 0;
  virtual HRESULT GetListID(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetID(LONG v, LONG* detail) = 0;
  virtual HRESULT GetID(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetCPUID(LONG v, LONG* detail) = 0;
  virtual HRESULT GetCPUID(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetProjectID(LONG v, LONG* detail) = 0;
  virtual HRESULT GetProjectID(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetAttribute(WORD v, LONG* detail) = 0;
  virtual HRESULT GetAttribute(WORD* v, LONG* detail) = 0;
  virtual HRESULT SetValueSize(WORD v, LONG* detail) = 0;
  virtual HRESULT GetValueSize(WORD* v, LONG* detail) = 0;
  virtual HRESULT SetStatus(LONG v, LONG* detail) = 0;
  virtual HRESULT GetStatus(LONG* v, LONG* detail) = 0;
  virtual HRESULT SetLocalName(BSTR v, LONG* detail) = 0;
  virtual HRESULT GetLocalName(BSTR* v, LONG* detail) = 0;
};

// --- generic data, storage and settings ------------------------------------

// Byte blobs by kind, on the project's generic-data object (type 2).
struct IVNDataABS_GenericData : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x20}};
  // buffer null: *length receives the blob's length (0 when none).
  // Otherwise fills at most *length bytes.
  virtual HRESULT GetGenericData(LONG kind, LONG* length, BYTE* buffer, LONG* detail) = 0;
  virtual HRESULT SetGenericData(LONG kind, LONG length, const BYTE* bytes, LONG* detail) = 0;
};

// On the high-capacity GVL collection (0xA2000014): makes bulk changes durable.
struct IVNDataABS_Storage : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x21}};
  virtual HRESULT Flush(LONG* detail) = 0;
};

// On the classic GVL collection (13).
struct IVNDataABS_GlobalLabelSetting : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x22}};
  virtual HRESULT GetExternalFlag(LONG* flag, LONG* detail) = 0;
  virtual HRESULT SetExternalFlag(LONG flag, LONG* detail) = 0;
};

// On the high-capacity GVL collection (0xA2000014); read-only.
struct IVNDataABS_HighCapacityLabelSetting : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x23}};
  virtual HRESULT GetExternalFlag(LONG* flag, LONG* detail) = 0;
};

// --- high-capacity row interfaces ------------------------------------------
//
// Rows are named by row IDs that stay stable while the table changes. Row
// records passed to SetRows stay the caller's; GetRows fills the caller's
// zeroed records with BSTRs and task-memory arrays that the caller frees.

struct IVNDataABS_HighCapacityGlobalVariable : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x30}};
  // Appends `count` empty rows; their IDs in rowIDs.
  virtual HRESULT AddRows(LONG count, LONG* rowIDs, LONG* detail) = 0;
  // count 0 and rowIDs null: every row. Otherwise the rows named.
  virtual HRESULT DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) = 0;
  // Up to `count` row IDs in row order into rowIDs; *returned: how many.
  virtual HRESULT GetRowIDs(LONG a, LONG b, LONG c, LONG count, LONG d, LONG* rowIDs, LONG* returned,
                            LONG* detail) = 0;
  virtual HRESULT GetRowCount(LONG* count, LONG* detail) = 0;
  virtual HRESULT GetRows(LONG count, const LONG* rowIDs, stVNGlobalVariableAndSystemLabelElementDataX* rows,
                          LONG* detail) = 0;
  // Writes each row under its rowID field.
  virtual HRESULT SetRows(LONG count, const stVNGlobalVariableAndSystemLabelElementDataX* rows, LONG* detail) = 0;
  virtual HRESULT GetArraySizeCount(LONG rowID, LONG* count, LONG* detail) = 0;
  virtual HRESULT GetArraySizes(LONG rowID, LONG count, LONG a, stVNArraySizeX* entries, LONG* returned,
                                LONG* detail) = 0;
  virtual HRESULT SetArraySizes(LONG rowID, LONG count, LONG a, const stVNArraySizeX* entries, LONG* detail) = 0;
  // The structured data type named by the row's type name.
  virtual HRESULT GetRowObjectID(LONG rowID, STOBJECTID* structId, LONG* detail) = 0;
};

struct IVNDataABS_HighCapacityStructure : IUnknown {
  static constexpr IID iid = {0x6f1c2a01, 0x4b7e, 0x4c21, {0x9a, 0x11, 0x0d, 0x3e, 0x52, 0x10, 0x00, 0x31}};
  virtual HRESULT AddRows(LONG count, LONG* rowIDs, LONG* detail) = 0;
  virtual HRESULT DeleteRows(LONG count, const LONG* rowIDs, LONG* detail) = 0;
  virtual HRESULT GetRowIDs(LONG a, LONG b, LONG c, LONG count, LONG d, LONG* rowIDs, LONG* returned,
                            LONG* detail) = 0;
  virtual HRESULT GetRowCount(LONG* count, LONG* detail) = 0;
  virtual HRESULT GetRows(LONG count, const LONG* rowIDs, stVNStructElementDataX* rows, LONG* detail) = 0;
  virtual HRESULT SetRows(LONG count, const stVNStructElementDataX* rows, LONG* detail) = 0;
};

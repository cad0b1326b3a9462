// File: RefOperations.h
//
// The table of every database operation of the reference database, one
// X(Interface, Operation) entry per operation, the interface named without its
// IVNDataABS_ prefix. The fault table and the call counters are indexed by it.
#pragma once

#define REFDB_OPERATIONS(X)                   \
  X(Workspace, GetDataObject)                 \
  X(Workspace, DeleteDataObject)              \
  X(Workspace, CreateDataObject)              \
  X(Workspace, CreateElementObject)           \
  X(Workspace, GetChildIDList)                \
  X(Workspace, GetChildIDByType)              \
  X(Workspace, GetParentID)                   \
  X(Workspace, GetObjectType)                 \
  X(Workspace, SetObjectName)                 \
  X(Workspace, GetObjectName)                 \
  X(Workspace, SetLastUpdateTime)             \
  X(Workspace, GetServiceObject)              \
  X(LabelService, GetBlock)                   \
  X(LabelService, SetBlock)                   \
  X(LabelService, GetBlockSize)               \
  X(DeviceConversion, ConvertLabels)          \
  X(Variable, SetLineNo)                      \
  X(Variable, GetLineNo)                      \
  X(Variable, SetComment)                     \
  X(Variable, GetComment)                     \
  X(Variable, SetExAccess)                    \
  X(Variable, GetExAccess)                    \
  X(GlobalVariable, SetInitData)              \
  X(GlobalVariable, GetInitData)              \
  X(GlobalVariable, SetTypeString)            \
  X(GlobalVariable, GetTypeString)            \
  X(GlobalVariable, SetRemark)                \
  X(GlobalVariable, GetRemark)                \
  X(GlobalVariable, SetClassKeyWord)          \
  X(GlobalVariable, GetClassKeyWord)          \
  X(GlobalVariable, SetAllocatedDevice)       \
  X(GlobalVariable, GetAllocatedDevice)       \
  X(GlobalVariable, SetAllocatedDeviceExtra)  \
  X(GlobalVariable, GetAllocatedDeviceExtra)  \
  X(VariableDataType, SetTypeCode)            \
  X(VariableDataType, SetTypeName)            \
  X(VariableDataType, SetStructDefineID)      \
  X(StructVariable, SetStructKind)            \
  X(StructVariable, GetStructKind)            \
  X(StructVariable, SetMemberDevices)         \
  X(StructVariable, GetMemberDevices)         \
  X(SystemLabel, SetName)                     \
  X(SystemLabel, GetName)                     \
  X(SystemLabel, SetProgramName)              \
  X(SystemLabel, GetProgramName)              \
  X(SystemLabel, SetComment)                  \
  X(SystemLabel, GetComment)                  \
  X(SystemLabel, SetRemark)                   \
  X(SystemLabel, GetRemark)                   \
  X(SystemLabel, SetValueType)                \
  X(SystemLabel, GetValueType)                \
  X(SystemLabel, SetListID)                   \
  X(SystemLabel, GetListID)                   \
  X(SystemLabel, SetID)                       \
  X(SystemLabel, GetID)                       \
  X(SystemLabel, SetCPUID)                    \
  X(SystemLabel, GetCPUID)                    \
  X(SystemLabel, SetProjectID)                \
  X(SystemLabel, GetProjectID)                \
  X(SystemLabel, SetAttribute)                \
  X(SystemLabel, GetAttribute)                \
  X(SystemLabel, SetValueSize)                \
  X(SystemLabel, GetValueSize)                \
  X(SystemLabel, SetStatus)                   \
  X(SystemLabel, GetStatus)                   \
  X(SystemLabel, SetLocalName)                \
  X(SystemLabel, GetLocalName)                \
  X(GenericData, GetGenericData)              \
  X(GenericData, SetGenericData)              \
  X(Storage, Flush)                           \
  X(GlobalLabelSetting, GetExternalFlag)      \
  X(GlobalLabelSetting, SetExternalFlag)      \
  X(HighCapacityLabelSetting, GetExternalFlag) \
  X(HighCapacityGlobalVariable, AddRows)      \
  X(HighCapacityGlobalVariable, DeleteRows)   \
  X(HighCapacityGlobalVariable, GetRowIDs)    \
  X(HighCapacityGlobalVariable, GetRowCount)  \
  X(HighCapacityGlobalVariable, GetRows)      \
  X(HighCapacityGlobalVariable, SetRows)      \
  X(HighCapacityGlobalVariable, GetArraySizeCount) \
  X(HighCapacityGlobalVariable, GetArraySizes) \
  X(HighCapacityGlobalVariable, SetArraySizes) \
  X(HighCapacityGlobalVariable, GetRowObjectID) \
  X(HighCapacityStructure, AddRows)           \
  X(HighCapacityStructure, DeleteRows)        \
  X(HighCapacityStructure, GetRowIDs)         \
  X(HighCapacityStructure, GetRowCount)       \
  X(HighCapacityStructure, GetRows)           \
  X(HighCapacityStructure, SetRows)

namespace refdb {

// Index of an operation in the table.
enum class Op : int {
#define REFDB_OP_ENUM(itf, op) itf##_##op,
  REFDB_OPERATIONS(REFDB_OP_ENUM)
#undef REFDB_OP_ENUM
      kCount
};

constexpr int kOperationCount = static_cast<int>(Op::kCount);

}  // namespace refdb

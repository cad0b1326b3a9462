// File: VNRowRecords.h
//
// Row records exchanged byte for byte with the high-capacity row interfaces
// of the workspace database, and the label-conversion request of the device
// conversion service. Texts are BSTRs; arrays inside rows are task memory.
// Field order and widths follow the database's layout; where that layout has
// a 32-bit pointer, the field is a pointer of the target.
#pragma once

#include <cstddef>

#include "platform/kx9platform.h"

// One comment entry: key 9..24 carries comment 0..15 of a label. The
// database packs it to 12 bytes where pointers are 32-bit.
#pragma pack(push, 4)
struct stVNVariableCommentItem {
  ULONGLONG key;
  BSTR text;
};
#pragma pack(pop)

struct stVNVariableComment {
  LONG count;                      // number of entries in items
  stVNVariableCommentItem* items;  // task memory, `count` entries
};

// One member of a structured data type.
struct stVNStructElementDataX {
  LONG rowID;
  LONG lineNo;
  BSTR name;
  stVNVariableComment comment;
  LONG classKeyword;  // written as 8 for every member
  BSTR dataTypeName;
  BSTR initData;
  BSTR spareText1;
  BSTR spareText2;
  BSTR spareText3;
  LONG dataTypeCode;
  LONG spareValue;
  BSTR spareText4;
};

// One variable of a global variable list, system label part included.
struct stVNGlobalVariableAndSystemLabelElementDataX {
  LONG rowID;
  LONG lineNo;
  BSTR name;
  stVNVariableComment comment;
  LONG classKeyword;
  BSTR dataTypeName;
  BSTR initData;
  BSTR device;
  BSTR deviceExtra;
  BSTR remark;
  LONG structType;
  LONG dataTypeCode;
  LONG hasArraySizes;
  BSTR structTypeName;
  BSTR* memberDevices;       // task memory, memberDeviceCount entries
  BSTR* memberDeviceExtras;  // task memory, memberDeviceCount entries
  LONG memberDeviceCount;
  BSTR dynamicAttr1;
  BSTR dynamicAttr2;
  LONG dynamicAttr3;
  BSTR dynamicAttr4;
  BSTR dynamicAttr5;
  BSTR sysName;
  DWORD sysAttribute;  // low 16 bits
  LONG exAccess;
  BSTR sysProgramName;
  BSTR sysSpareText;
  BSTR sysLocalName;
  LONG sysDataType;
  LONG sysListID;
  LONG sysID;
  LONG sysCPUID;
  LONG sysProjectID;
  DWORD sysDataSize;  // low 16 bits
  LONG sysStatus;
};

// One array dimension as the database keeps it.
struct stVNArraySizeX {
  LONGLONG value1;  // sign-extended 32-bit value; readers keep the low half
  LONGLONG value2;
};

// One request of the label-to-device conversion service.
struct stVNLabelConversion {
  BSTR labelText;   // in: the label's full name
  BSTR deviceText;  // out: allocated by the service
  BSTR extraText;   // out: allocated by the service
  LONG reserved;    // 0
};

// The layouts are pinned for targets with 32-bit pointers; elsewhere the
// pointer fields widen and the order stays.
#define KX9_ROW_OFFSET(T, f, off) \
  static_assert(sizeof(void*) != 4 || offsetof(T, f) == (off), #T "::" #f " offset")
static_assert(sizeof(void*) != 4 || sizeof(stVNVariableComment) == 8, "comment size");
static_assert(sizeof(void*) != 4 || sizeof(stVNVariableCommentItem) == 12, "comment item size");
static_assert(sizeof(void*) != 4 || sizeof(stVNStructElementDataX) == 56, "member row size");
static_assert(sizeof(void*) != 4 || sizeof(stVNGlobalVariableAndSystemLabelElementDataX) == 144,
              "variable row size");
static_assert(sizeof(stVNArraySizeX) == 16, "array size entry");
static_assert(sizeof(void*) != 4 || sizeof(stVNLabelConversion) == 16, "conversion request");
KX9_ROW_OFFSET(stVNStructElementDataX, comment, 12);
KX9_ROW_OFFSET(stVNStructElementDataX, classKeyword, 20);
KX9_ROW_OFFSET(stVNStructElementDataX, dataTypeCode, 44);
KX9_ROW_OFFSET(stVNStructElementDataX, spareText4, 52);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, comment, 12);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, structType, 44);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, memberDevices, 60);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, dynamicAttr1, 72);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, sysName, 92);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, exAccess, 100);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, sysLocalName, 112);
KX9_ROW_OFFSET(stVNGlobalVariableAndSystemLabelElementDataX, sysStatus, 140);
// Field order holds on every target.
static_assert(offsetof(stVNStructElementDataX, comment) < offsetof(stVNStructElementDataX, classKeyword) &&
                  offsetof(stVNStructElementDataX, dataTypeCode) < offsetof(stVNStructElementDataX, spareValue) &&
                  offsetof(stVNStructElementDataX, spareValue) < offsetof(stVNStructElementDataX, spareText4),
              "member row field order");
static_assert(offsetof(stVNGlobalVariableAndSystemLabelElementDataX, hasArraySizes) <
                      offsetof(stVNGlobalVariableAndSystemLabelElementDataX, structTypeName) &&
                  offsetof(stVNGlobalVariableAndSystemLabelElementDataX, memberDeviceCount) <
                      offsetof(stVNGlobalVariableAndSystemLabelElementDataX, dynamicAttr1) &&
                  offsetof(stVNGlobalVariableAndSystemLabelElementDataX, sysAttribute) <
                      offsetof(stVNGlobalVariableAndSystemLabelElementDataX, exAccess) &&
                  offsetof(stVNGlobalVariableAndSystemLabelElementDataX, sysDataSize) <
                      offsetof(stVNGlobalVariableAndSystemLabelElementDataX, sysStatus),
              "variable row field order");
#undef KX9_ROW_OFFSET

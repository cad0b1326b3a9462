// File: KX9DynamicLabelRecords.h
//
// Dynamic label records handed to the host by pointer. They are declared
// with 1-byte packing because the host reads them directly; the platform's
// CString and CArray have alignment 1 for that reason.
#pragma once

#include "model/KX9LabelRecords.h"
#include "platform/kx9platform.h"

#pragma pack(push, 1)

// One member of a structured data type as dynamic labels use it.
struct _STKX9DYNAMICSTRUCTELEM {
  CString name;
  CString dataTypeName;
  LONG rowID = 0;
  ULONGLONG typeKey = 0;  // member-form key of the structured data type
  BYTE allocType = 0;     // 0 when the type is not a basic type
};

// One structured data type: its members and their sizes.
struct _STKX9DYNAMICSTRUCTURE {
  CArray<_STKX9DYNAMICSTRUCTELEM> elements;
  WORD bitCount = 0;     // members of allocation type 1
  DWORD wordCount = 0;   // 16-bit words of all other members
  DWORD totalWords = 0;  // words with bit members packed 16 to a word
};

// One dynamic label.
struct _STKX9DYNAMICLABELDATA {
  CString name;
  LONG structType = 0;
  CString dataTypeName;
  CArray<_STKX9LABELSTRUCTUREGVLDEVICE> devices;
  LONG rowID = 0;
  ULONGLONG listKey = 0;    // label-form key of the GVL
  ULONGLONG structKey = 0;  // plain-form key of the structured type; 0 for a simple type
  CArray<_STARRAYSIZEINFO> arraySizes;
  LONG dynamicAttr2Value = 0;
  LONG hasDynamicAttr2 = 0;
  LONG dynamicAttr5Value = 0;
  LONG hasDynamicAttr5 = 0;
  LONG dynamicAttr3 = 0;
};

#pragma pack(pop)

static_assert(alignof(_STKX9DYNAMICLABELDATA) == 1, "packed");
static_assert(sizeof(_STKX9DYNAMICSTRUCTELEM) == 2 * sizeof(CString) + 4 + 8 + 1, "packed");

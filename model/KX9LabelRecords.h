// File: KX9LabelRecords.h
//
// The in-memory picture of a project's labels: one _STKX9LABELSTRUCTURE per
// datum (a global variable list, dataType 14, or a structured data type,
// dataType 18) owning its element records. Plain structures without virtual
// operations: the concrete kind of an element is known only from the datum's
// dataType, and destroying a datum deletes each element as that kind.
//
// Construction values: numbers 0, texts and arrays empty, except
// reservedText and exAccess, which start as "0".
#pragma once

#include "platform/kx9platform.h"

// The texts "0" and "1" of the flag fields, one block each for all records:
// "0" is the construction value of every record's reservedText and exAccess.
inline const CString& KX9TextZero() {
  static const CString kZero(u"0");
  return kZero;
}
inline const CString& KX9TextOne() {
  static const CString kOne(u"1");
  return kOne;
}

// Data type codes of a datum.
constexpr LONG KX9_DATATYPE_GVL = 14;
constexpr LONG KX9_DATATYPE_SDT = 18;
constexpr int KX9_COMMENT_COUNT = 16;

// One allocated device of a variable, or of one member of a structured variable.
struct _STKX9LABELSTRUCTUREGVLDEVICE {
  CString device;
  CString deviceExtra;
};

// One array dimension.
struct _STARRAYSIZEINFO {
  LONG value1 = 0;
  LONGLONG value2 = 0;
};

// The system-label part of a global variable; status 0 means "not a system label".
struct _STKX9SYSTEMLABELDATA {
  LONG ID = 0;
  CString name;
  CString programName;
  LONG CPUID = 0;
  WORD attribute = 0;
  LONG status = 0;
  LONG projectID = 0;
  LONG listID = 0;
  CString comment;
  CString remark;
  LONG dataType = 0;
  WORD dataSize = 0;
  CString localName;

  // Copies every field except comment and remark, which keep their values.
  void CopyWithoutCommentAndRemark(const _STKX9SYSTEMLABELDATA& src) {
    ID = src.ID;
    name = src.name;
    programName = src.programName;
    CPUID = src.CPUID;
    attribute = src.attribute;
    status = src.status;
    projectID = src.projectID;
    listID = src.listID;
    dataType = src.dataType;
    dataSize = src.dataSize;
    localName = src.localName;
  }
};

// The common first part of both element kinds.
struct _STKX9LABELSTRUCTUREBASEDATA {
  ULONG lineNo = 0;
  CString name;
  CString comments[KX9_COMMENT_COUNT];
  CString reservedText{KX9TextZero()};
};

// A member of a structured data type.
struct _STKX9LABELSTRUCTURESDTDATA : _STKX9LABELSTRUCTUREBASEDATA {
  CString dataTypeName;
  CString initData;
};

// A variable of a global variable list, system labels included.
struct _STKX9LABELSTRUCTUREGVLDATA : _STKX9LABELSTRUCTUREBASEDATA {
  LONG classKeyword = 0;
  LONG structType = 0;
  CString dataTypeName;
  CString initData;
  CArray<_STKX9LABELSTRUCTUREGVLDEVICE> devices;
  CString remark;
  _STKX9SYSTEMLABELDATA systemLabel;
  CString exAccess{KX9TextZero()};
  CArray<_STARRAYSIZEINFO> arraySizes;
  CString dynamicAttr1;
  CString dynamicAttr2;
  LONG dynamicAttr3 = 0;
  CString dynamicAttr4;
  CString dynamicAttr5;
};

using CKX9ElementArray = CTypedPtrArray<CPtrArray, _STKX9LABELSTRUCTUREBASEDATA*>;
using CKX9GVLDataList = CTypedPtrList<CPtrList, _STKX9LABELSTRUCTUREGVLDATA*>;
using CKX9GVLDataArray = CTypedPtrArray<CPtrArray, _STKX9LABELSTRUCTUREGVLDATA*>;

// Deletes one element record as the kind that `dataType` names: 14 a
// variable, 18 a member, anything else the common part. Null is ignored.
inline void KX9DeleteElement(LONG dataType, _STKX9LABELSTRUCTUREBASEDATA* p) {
  if (p == nullptr) return;
  if (dataType == KX9_DATATYPE_GVL)
    delete static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(p);
  else if (dataType == KX9_DATATYPE_SDT)
    delete static_cast<_STKX9LABELSTRUCTURESDTDATA*>(p);
  else
    delete p;
}

// One datum: a GVL or an SDT with its elements, which it owns. Arrays of
// data are created and destroyed as one block (new[] / delete[]).
struct _STKX9LABELSTRUCTURE {
  LONG dataType = 0;
  CString name;
  CKX9ElementArray elements;

  _STKX9LABELSTRUCTURE() = default;
  _STKX9LABELSTRUCTURE(const _STKX9LABELSTRUCTURE&) = delete;
  _STKX9LABELSTRUCTURE& operator=(const _STKX9LABELSTRUCTURE&) = delete;
  ~_STKX9LABELSTRUCTURE() { DeleteElements(); }

  // Deletes every element record and empties the array.
  void DeleteElements() {
    for (int i = 0; i < elements.GetSize(); ++i) KX9DeleteElement(dataType, elements[i]);
    elements.RemoveAll();
  }
};

// The host's automatic device assignment settings: 104 bytes carried, never
// interpreted.
struct _STKX9AUTODEVSET {
  BYTE bytes[104];
};
static_assert(sizeof(_STKX9AUTODEVSET) == 104, "settings record is 104 bytes");

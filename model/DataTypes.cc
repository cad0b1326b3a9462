// Basic type table lookups and the row data type code of a label's type.
#include "component/KX9ComFuncLabelStructure.h"
#include "model/KX9DataTypes.h"

const KX9BasicType kKX9BasicTypes[KX9_BASIC_TYPE_COUNT] = {
    {u"BOOL", 1, 1, 1},  {u"INT", 2, 4, 1},   {u"DINT", 3, 5, 2},  {u"WORD", 4, 2, 1},
    {u"DWORD", 5, 3, 2}, {u"FLOAT", 6, 7, 4}, {u"LREAL", 6, 7, 4},
};

LONG KX9FindDataTypeCode(const CString& name) {
  for (const KX9BasicType& row : kKX9BasicTypes) {
    if (name.Compare(row.name) == 0) return row.code;
  }
  return KX9_TYPECODE_UNKNOWN;
}

const KX9BasicType* KX9FindBasicTypeNoCase(const CString& name) {
  for (const KX9BasicType& row : kKX9BasicTypes) {
    if (name.CompareNoCase(row.name) == 0) return &row;
  }
  return nullptr;
}

// A structured type is 9 whatever its name says; only basic names are looked up.
LONG CKX9ComFuncLabelStructure::_getDataTypeCode(CString& strTypeName, LONG lStructType) {
  if (lStructType != 0) return KX9_TYPECODE_STRUCT;
  return KX9FindDataTypeCode(strTypeName);
}

// File: KX9DataTypes.h
//
// The basic type table: the seven basic data type names with their row data
// type code, their device allocation type and their size in 16-bit words.
// Every part of the component that turns a type name into a number reads this
// one table, so the codes written by the classic writer, the high-capacity
// rows and the allocation lookup cannot drift apart.
//
// Example:
//   LONG code = KX9FindDataTypeCode(CString(u"DINT"));          // 3
//   const KX9BasicType* t = KX9FindBasicTypeNoCase(u"dword");  // the "DWORD" row
#pragma once

#include "platform/kx9platform.h"

// One row of the basic type table.
struct KX9BasicType {
  const char16_t* name;  // as written in a label's data type name
  LONG code;             // data type code of high-capacity rows and of the classic writer
  BYTE allocType;        // device allocation type
  WORD size;             // size in 16-bit words
};

// Data type code of a structured type, and of a name that is no basic type.
constexpr LONG KX9_TYPECODE_STRUCT = 9;
constexpr LONG KX9_TYPECODE_UNKNOWN = 100;

constexpr int KX9_BASIC_TYPE_COUNT = 7;

// The table, in lookup order: a lookup takes the first row that matches.
// "FLOAT" and "LREAL" are both 64 bits wide and share every value.
extern const KX9BasicType kKX9BasicTypes[KX9_BASIC_TYPE_COUNT];

// Code of the first row whose name equals `name` exactly (case-sensitive,
// whole string); KX9_TYPECODE_UNKNOWN (100) when none does.
LONG KX9FindDataTypeCode(const CString& name);

// The first row whose name equals `name` ignoring the case of ASCII letters;
// null when none does.
const KX9BasicType* KX9FindBasicTypeNoCase(const CString& name);

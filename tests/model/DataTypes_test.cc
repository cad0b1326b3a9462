// The basic type table and the data type codes derived from it.
#include "model/KX9DataTypes.h"

#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"

namespace {
struct TypesTag;
}

template <>
struct KX9TestAccess<TypesTag> {
  static LONG Code(CKX9ComFuncLabelStructure& o, CString& name, LONG structType) {
    return o._getDataTypeCode(name, structType);
  }
};

namespace {
using A = KX9TestAccess<TypesTag>;

TEST(DataTypesTest, TableRowsInLookupOrder) {
  // Stored images and device allocations depend on these exact values.
  const struct {
    const char16_t* name;
    LONG code;
    BYTE alloc;
    WORD size;
  } expected[] = {{u"BOOL", 1, 1, 1},  {u"INT", 2, 4, 1},   {u"DINT", 3, 5, 2},  {u"WORD", 4, 2, 1},
                  {u"DWORD", 5, 3, 2}, {u"FLOAT", 6, 7, 4}, {u"LREAL", 6, 7, 4}};
  ASSERT_EQ(KX9_BASIC_TYPE_COUNT, 7);
  for (int i = 0; i < KX9_BASIC_TYPE_COUNT; ++i) {
    const KX9BasicType& row = kKX9BasicTypes[i];
    EXPECT_EQ(std::u16string(row.name), std::u16string(expected[i].name)) << i;
    EXPECT_EQ(row.code, expected[i].code) << i;
    EXPECT_EQ(row.allocType, expected[i].alloc) << i;
    EXPECT_EQ(row.size, expected[i].size) << i;
    EXPECT_NE(row.allocType, 6) << i;
  }
}

TEST(DataTypesTest, ExactCodeLookup) {
  EXPECT_EQ(KX9FindDataTypeCode(u"BOOL"), 1);
  EXPECT_EQ(KX9FindDataTypeCode(u"DINT"), 3);
  EXPECT_EQ(KX9FindDataTypeCode(u"DWORD"), 5);
  EXPECT_EQ(KX9FindDataTypeCode(u"FLOAT"), 6);
  EXPECT_EQ(KX9FindDataTypeCode(u"LREAL"), 6);
  // Case, prefixes, suffixes and padding never match.
  for (const char16_t* name : {u"dint", u"Dint", u"DIN", u"DINT ", u" DINT", u"DINTX", u"REAL", u""}) {
    EXPECT_EQ(KX9FindDataTypeCode(name), KX9_TYPECODE_UNKNOWN) << ToUtf8(name);
  }
  EXPECT_EQ(KX9FindDataTypeCode(CString(u"INT\0", 4)), KX9_TYPECODE_UNKNOWN);
}

TEST(DataTypesTest, CaseInsensitiveRowLookup) {
  const KX9BasicType* row = KX9FindBasicTypeNoCase(u"dword");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row, &kKX9BasicTypes[4]);
  EXPECT_EQ(KX9FindBasicTypeNoCase(u"lReAl"), &kKX9BasicTypes[6]);
  EXPECT_EQ(KX9FindBasicTypeNoCase(u"Bool"), &kKX9BasicTypes[0]);
  EXPECT_EQ(KX9FindBasicTypeNoCase(u"int"), &kKX9BasicTypes[1]);
  for (const char16_t* name : {u"REAL", u"", u"BOOLEAN", u"BOO", u"\u0130NT"}) {
    EXPECT_EQ(KX9FindBasicTypeNoCase(name), nullptr) << ToUtf8(name);
  }
}

TEST(DataTypesTest, MemberCodeHonoursStructType) {
  CKX9ComFuncLabelStructure labels(nullptr);
  CString name(u"DINT");
  EXPECT_EQ(A::Code(labels, name, 0), 3);
  EXPECT_EQ(name, CString(u"DINT"));  // the name is left alone
  CString lower(u"dint");
  EXPECT_EQ(A::Code(labels, lower, 0), 100);
  CString lreal(u"LREAL"), flt(u"FLOAT");
  EXPECT_EQ(A::Code(labels, lreal, 0), 6);
  EXPECT_EQ(A::Code(labels, flt, 0), 6);
  // Any structured type is 9, whatever its name.
  CString boolean(u"BOOL"), empty;
  for (LONG structType : {1, 2, -1}) {
    EXPECT_EQ(A::Code(labels, boolean, structType), 9);
    EXPECT_EQ(A::Code(labels, empty, structType), 9);
  }
  CString real(u"REAL");
  EXPECT_EQ(A::Code(labels, real, 0), 100);
  EXPECT_EQ(A::Code(labels, empty, 0), 100);
}

}  // namespace

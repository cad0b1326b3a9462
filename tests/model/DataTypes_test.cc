// The basic type table and the data type codes derived from it.
#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"
#include "model/KX9DataTypes.h"

namespace {
struct TypesTag;
}
template <>
struct KX9TestAccess<TypesTag> {
  static LONG Code(CKX9ComFuncLabelStructure& o, CString name, LONG st) { return o._getDataTypeCode(name, st); }
};

namespace {
TEST(DataTypesTest, CodesAndRowLookups) {
  // Code lookup: exact and case-sensitive; FLOAT and LREAL share code 6.
  const std::pair<const char16_t*, LONG> codes[] = {{u"BOOL", 1},  {u"INT", 2},   {u"DINT", 3}, {u"WORD", 4},
                                                    {u"DWORD", 5}, {u"FLOAT", 6}, {u"LREAL", 6}};
  for (const auto& c : codes) EXPECT_EQ(KX9FindDataTypeCode(c.first), c.second) << ToUtf8(c.first);
  for (const char16_t* name : {u"dint", u"DIN", u"DINT ", u"REAL", u""})
    EXPECT_EQ(KX9FindDataTypeCode(name), 100) << ToUtf8(name);

  // Row lookup ignores case and returns the one shared table row.
  EXPECT_EQ(KX9FindBasicTypeNoCase(u"dword"), &kKX9BasicTypes[4]);
  EXPECT_EQ(KX9FindBasicTypeNoCase(u"lReAl"), &kKX9BasicTypes[6]);
  for (const char16_t* name : {u"REAL", u"", u"BOOLEAN", u"\u0130NT"})
    EXPECT_EQ(KX9FindBasicTypeNoCase(name), nullptr) << ToUtf8(name);

  // The member: any structured type is 9, even with a basic name.
  CKX9ComFuncLabelStructure labels(nullptr);
  using A = KX9TestAccess<TypesTag>;
  EXPECT_EQ(A::Code(labels, u"DINT", 0), 3);
  EXPECT_EQ(A::Code(labels, u"dint", 0), 100);
  EXPECT_EQ(A::Code(labels, u"LREAL", 0), 6);
  EXPECT_EQ(A::Code(labels, u"BOOL", 1), 9);
  EXPECT_EQ(A::Code(labels, u"", -1), 9);
  EXPECT_EQ(A::Code(labels, u"", 0), 100);
}
}  // namespace

// The data type codes the component derives from the basic type table.
#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"

namespace {
struct TypesTag;
}
template <>
struct KX9TestAccess<TypesTag> {
  static LONG Code(CKX9ComFuncLabelStructure& o, CString name, LONG st) { return o._getDataTypeCode(name, st); }
};

namespace {
using A = KX9TestAccess<TypesTag>;

TEST(DataTypesTest, CodesMatchExactlyAndStructuresAreNine) {
  CKX9ComFuncLabelStructure labels(nullptr);
  const struct {
    const char16_t* name;
    LONG structType;
    LONG code;
  } cases[] = {
      // Exact and case-sensitive; FLOAT and LREAL share code 6.
      {u"BOOL", 0, 1},
      {u"INT", 0, 2},
      {u"DINT", 0, 3},
      {u"WORD", 0, 4},
      {u"DWORD", 0, 5},
      {u"FLOAT", 0, 6},
      {u"LREAL", 0, 6},
      {u"dint", 0, 100},
      {u"DIN", 0, 100},
      {u"DINT ", 0, 100},
      {u"REAL", 0, 100},
      {u"", 0, 100},
      // Any structured type is 9, even with a basic name.
      {u"BOOL", 1, 9},
      {u"", -1, 9},
  };
  for (const auto& c : cases) EXPECT_EQ(A::Code(labels, c.name, c.structType), c.code) << ToUtf8(c.name);
}
}  // namespace

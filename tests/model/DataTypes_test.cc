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

// Both lookups see a name as C-string comparisons do: up to its first zero
// unit. The code lookup and the allocation lookup agree on such a name.
TEST(DataTypesTest, EmbeddedZeroEndsTheNameForEveryLookup) {
  CKX9ComFuncLabelStructure labels(nullptr);
  const struct {
    std::u16string name;
    LONG code;
    WORD words;  // 0: no row
  } cases[] = {
      {std::u16string(u"DINT\0x", 6), 3, 2},
      {std::u16string(u"BOOL\0", 5), 1, 1},
      {std::u16string(u"dword\0DWORD", 11), 100, 2},  // the code lookup is case-sensitive
      {std::u16string(u"\0INT", 4), 100, 0},
  };
  for (const auto& c : cases) {
    const CString name(c.name);
    EXPECT_EQ(A::Code(labels, name, 0), c.code) << ToUtf8(c.name);
    WORD words = 0;
    BYTE alloc = 0;
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(name, 0, words, alloc), KX9_OK);
    EXPECT_EQ(words, c.words) << ToUtf8(c.name);
  }
}
}  // namespace

// The data type codes and allocation data the component derives from the
// basic type table.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
using namespace std::string_literals;

// Every row's code, size and allocation type. The code lookup is exact and
// case-sensitive, the allocation lookup folds ASCII case; both see a name up
// to its first zero unit; any structured type is 9, even with a basic name.
TEST(DataTypesTest, CodesAndAllocationDataPerName) {
  CKX9ComFuncLabelStructure labels(nullptr);
  // Name, structure type, code, size in words (0: no row), allocation type.
  const std::tuple<std::u16string, LONG, LONG, WORD, BYTE> cases[] = {
      {u"BOOL"s, 0, 1, 1, 1},   {u"INT"s, 0, 2, 1, 4},     {u"DINT"s, 0, 3, 2, 5},    {u"WORD"s, 0, 4, 1, 2},
      {u"DWORD"s, 0, 5, 2, 3},  {u"FLOAT"s, 0, 6, 4, 7},   {u"LREAL"s, 0, 6, 4, 7},   {u"dint"s, 0, 100, 2, 5},
      {u"DIN"s, 0, 100, 0, 0},  {u"DINT "s, 0, 100, 0, 0}, {u"REAL"s, 0, 100, 0, 0},  {u""s, 0, 100, 0, 0},
      {u"BOOL"s, 1, 9, 1, 1},   {u""s, -1, 9, 0, 0},       {u"DINT\0x"s, 0, 3, 2, 5}, {u"dword\0DWORD"s, 0, 100, 2, 3},
      {u"\0INT"s, 0, 100, 0, 0}};
  for (const auto& [name, structType, code, words, alloc] : cases) {
    WORD w = 0;
    BYTE a = 0;
    EXPECT_EQ(A::Code(labels, CString(name), structType), code) << ToUtf8(name);
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(CString(name), 0, w, a), KX9_OK);
    EXPECT_TRUE(w == words && a == alloc) << ToUtf8(name);
  }
}
}  // namespace

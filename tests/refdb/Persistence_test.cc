// The database file: a saved database saves again byte for byte and a damaged
// file is refused without changing anything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/RefdbFixtures.h"

namespace {

namespace fx = refdb_fixtures;
using refdb_test::Query;
using refdb_test::Sample;
using Bytes = std::vector<char>;

std::string TempPath(const char* name) { return ::testing::TempDir() + "refdb_" + name + std::to_string(::getpid()); }

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Puts something into every kind of state the file carries.
void Populate(Sample& s) {
  LONG d = 0, first = 1001;
  const BYTE blob[] = {1, 2};
  fx::VariableSpec v;
  v.name = u"Var \u65e5", v.typeCode = 9, v.memberDevices = {{u"D0", u"E0"}}, v.systemLabel.status = 3;
  std::vector<fx::VariableRowSpec> rows(3);
  rows[2].structTypeName = u"Pos", rows[2].arraySizes = {{0, 3}, {-1, 4}};
  fx::AddRowsX(s.db, s.gvlX, rows);
  fx::AddRowsX(s.db, s.sdtX, std::vector<fx::MemberRowSpec>(1));
  s.db.SetServiceBlock(s.project, {0xDE, 0xAD, 0xBE, 0xEF});
  s.db.NewProject(u"Second", refdb::ProjectOptions{false, true, false});
  const STOBJECTID var = fx::AddClassicVariable(s.db, s.gvl, v);
  IVNDataABS_LabelService* service = nullptr;
  ComPtr<IVNDataABS_DeviceConversion> conv;
  BstrHolder label(SysAllocString(u"Lbl"));
  stVNLabelConversion req{label.Get(), nullptr, nullptr, 0};
  EXPECT_EQ(S_OK, s.db.Workspace()->GetServiceObject(s.project, VN_SERVICE_LABEL, &service, &d));
  EXPECT_TRUE(QueryInterfaceTo(service, conv) && conv->ConvertLabels(1, &req, &d) == S_OK);
  for (BSTR b : {req.deviceText, req.extraText}) SysFreeString(b);
  for (HRESULT hr :
       {Query<IVNDataABS_HighCapacityGlobalVariable>(s.db, s.gvlX)->DeleteRows(1, &first, &d),
        s.db.Workspace()->SetLastUpdateTime(s.gvl, SYSTEMTIME{2023, 12, 0, 31, 1, 2, 3, 4}, &d),
        Query<IVNDataABS_GlobalLabelSetting>(s.db, s.Child(VN_TYPE_GVL_COLLECTION))->SetExternalFlag(6, &d),
        Query<IVNDataABS_Storage>(s.db, s.Child(VN_TYPE_GVL_COLLECTION_X))->Flush(&d),
        Query<IVNDataABS_GenericData>(s.db, s.Child(VN_TYPE_GENERIC_DATA))->SetGenericData(7, 2, blob, &d),
        Query<IVNDataABS_VariableDataType>(s.db, var)->SetStructDefineID(s.sdtX, &d)})
    EXPECT_EQ(S_OK, hr);
}

// Save, load and save again give the same bytes; a damaged (here cut) file is
// refused and leaves the database as it was.
TEST(RefPersistence, SaveLoadSaveGivesTheSameFileAndDamageIsRefused) {
  Sample src, copy;
  Populate(src);
  const std::string a = TempPath("a"), b = TempPath("b");
  ASSERT_TRUE(src.db.SaveToFile(a) && copy.db.LoadFromFile(a) && copy.db.SaveToFile(b));
  const Bytes saved = ReadAll(a);
  EXPECT_EQ(saved, ReadAll(b));
  std::ofstream(a, std::ios::trunc | std::ios::binary).write(saved.data(), std::streamsize(saved.size() / 2));  // cut
  EXPECT_FALSE(copy.db.LoadFromFile(a));
  ASSERT_TRUE(copy.db.SaveToFile(b));
  EXPECT_EQ(saved, ReadAll(b));  // the copy is as it was
  for (const std::string& f : {a, b}) std::remove(f.c_str());
}

}  // namespace

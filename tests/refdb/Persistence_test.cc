// The database file: a saved database loads back identical and a damaged
// file is refused without changing anything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "tests/refdb/RefdbTestUtil.h"
#include "tests/support/RefdbFixtures.h"

namespace {

namespace fx = refdb_fixtures;
using refdb_test::Create;
using refdb_test::Query;
using refdb_test::Sample;
using Bytes = std::vector<char>;

std::string TempPath(const char* name) { return ::testing::TempDir() + "refdb_" + name + std::to_string(::getpid()); }

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Puts something into every kind of state the file carries; the variable made.
STOBJECTID Populate(Sample& s) {
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
  return var;
}

// Save, load and save again give the same bytes; what the accessors read
// comes back, and the ID counters go on where they were.
TEST(RefPersistence, SaveLoadSaveGivesTheSameFileAndContent) {
  Sample src, copy;
  const STOBJECTID var = Populate(src), p = src.project;
  const std::string a = TempPath("a"), b = TempPath("b");
  ASSERT_TRUE(src.db.SaveToFile(a) && copy.db.LoadFromFile(a) && copy.db.SaveToFile(b));
  EXPECT_EQ(ReadAll(a), ReadAll(b));
  for (const std::string& f : {a, b}) std::remove(f.c_str());
  auto state = [&](refdb::RefDatabase& db) {
    LONG d = 0, code = 0, devices = 0, status = 0;
    SYSTEMTIME t{};
    STOBJECTID def{};
    const bool read = db.LastUpdateTime(src.gvl, &t) && db.TypeCode(var, &code) && db.StructDefineID(var, &def);
    Query<IVNDataABS_StructVariable>(db, var)->GetMemberDevices(nullptr, nullptr, &devices, &d);
    Query<IVNDataABS_SystemLabel>(db, var)->GetStatus(&status, &d);
    std::vector<std::tuple<LONG, std::u16string, std::vector<std::pair<LONG, LONGLONG>>>> rows;
    for (const auto& r : fx::ReadRowsX(db, src.gvlX)) rows.emplace_back(r.rowID, r.structTypeName, r.arraySizes);
    return std::make_tuple(read, db.Projects(), db.ObjectCount(), db.ObjectName(var), t.wMilliseconds, code, def,
                           db.ClassicExternalFlag(p), db.FlushCount(p), db.ServiceBlock(p), db.ConvertedLabels(p),
                           devices, status, rows);
  };
  EXPECT_EQ(state(src.db), state(copy.db));
  // Both databases hand out the same next IDs.
  const std::vector<fx::VariableRowSpec> two(2);
  EXPECT_EQ(fx::AddRowsX(src.db, src.gvlX, two), fx::AddRowsX(copy.db, src.gvlX, two));
  EXPECT_EQ(Create(src.db, src.gvl), Create(copy.db, src.gvl));
  const STOBJECTID n1 = src.db.NewProject(u"N"), n2 = copy.db.NewProject(u"N");  // its lists carry its number
  EXPECT_EQ(Create(src.db, src.db.ChildOfType(n1, VN_TYPE_GVL_COLLECTION_X), 14),
            Create(copy.db, copy.db.ChildOfType(n2, VN_TYPE_GVL_COLLECTION_X), 14));
}

// Missing, truncated, foreign, newer, overlong and inconsistent files are
// refused and leave the database as it was.
TEST(RefPersistence, DamagedFilesAreRefusedAndChangeNothing) {
  Sample src, target;
  Populate(src);
  const std::string path = TempPath("bad");
  ASSERT_TRUE(src.db.SaveToFile(path));
  const Bytes good = ReadAll(path);
  constexpr std::size_t kFirstType = 8 + 4 + 8 + 4 + 4 + 48;  // header, then the first project's ID
  // clang-format off
  std::vector<std::pair<std::string, std::function<void(Bytes&)>>> cases = {
      {"magic", [](Bytes& f) { f[0] = 'X'; }},          {"version", [](Bytes& f) { f[8] = 2; }},
      {"trailing byte", [](Bytes& f) { f.push_back(0); }}, {"end mark", [](Bytes& f) { f.back() ^= 1; }},
      {"top object not a project", [](Bytes& f) { f[kFirstType] = VN_TYPE_GVL; }},
  };
  // clang-format on
  for (std::size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 97)
    cases.push_back({"cut at " + std::to_string(cut), [cut](Bytes& f) { f.resize(cut); }});
  const long objects = target.db.ObjectCount();
  EXPECT_FALSE(target.db.LoadFromFile(path + ".missing"));
  for (const auto& [what, damage] : cases) {
    Bytes bad = good;
    damage(bad);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bad.data(), static_cast<std::streamsize>(bad.size()));
    EXPECT_FALSE(target.db.LoadFromFile(path)) << what;
  }
  EXPECT_EQ(std::make_pair((std::vector<STOBJECTID>{target.project}), objects),
            std::make_pair(target.db.Projects(), target.db.ObjectCount()));
  std::remove(path.c_str());
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "refdb/RefDatabase.h"
#include "tests/refdb/RefdbTestUtil.h"

namespace {

using refdb::RefDatabase;
using refdb_test::Bstr;
using refdb_test::CreateElement;
using refdb_test::CreateObject;
using refdb_test::Query;
using refdb_test::Take;

std::string TempPath(const char* name) {
  return ::testing::TempDir() + "refdb_" + name + "_" + std::to_string(::getpid());
}

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A database with something in every kind of state the file must carry.
struct Populated {
  RefDatabase db;
  STOBJECTID p1{}, p2{}, gvl{}, var{}, member{}, gvlX{}, sdtX{};
  std::vector<LONG> rowIds;

  Populated() {
    LONG d = 0;
    p1 = db.NewProject(u"First");
    refdb::ProjectOptions noGeneric;
    noGeneric.genericData = false;
    p2 = db.NewProject(u"Second \u65e5\u672c", noGeneric);
    gvl = CreateObject(db, db.ChildOfType(p1, 13), 14, u"Classic");
    var = CreateElement(db, gvl);
    member = CreateElement(db, CreateObject(db, db.ChildOfType(p1, 17), 18, u"Type"));
    db.Workspace()->SetObjectName(var, Bstr(u"Var"), &d);
    db.Workspace()->SetLastUpdateTime(gvl, SYSTEMTIME{2023, 12, 0, 31, 1, 2, 3, 0}, &d);
    {
      auto v = Query<IVNDataABS_Variable>(db, var);
      auto g = Query<IVNDataABS_GlobalVariable>(db, var);
      auto s = Query<IVNDataABS_StructVariable>(db, var);
      auto l = Query<IVNDataABS_SystemLabel>(db, var);
      auto t = Query<IVNDataABS_VariableDataType>(db, var);
      v->SetLineNo(4, &d);
      v->SetComment(Bstr(u"comment"), &d);
      v->SetExAccess(1, &d);
      g->SetTypeString(Bstr(u"Type"), &d);
      g->SetAllocatedDevice(Bstr(u"D1"), &d);
      s->SetStructKind(1, &d);
      Bstr m0(u"M0"), e0(u"E0");
      BSTR devs[] = {m0}, extras[] = {e0};
      s->SetMemberDevices(devs, extras, 1, &d);
      l->SetName(Bstr(u"Sys"), &d);
      l->SetStatus(5, &d);
      l->SetAttribute(0x8001, &d);
      t->SetTypeCode(9, &d);
      t->SetTypeName(Bstr(u"Type"), &d);
      t->SetStructDefineID(p2, &d);
      Query<IVNDataABS_GlobalVariable>(db, member)->SetInitData(Bstr(u"3"), &d);
      Query<IVNDataABS_GlobalLabelSetting>(db, db.ChildOfType(p1, 13))->SetExternalFlag(6, &d);
      Query<IVNDataABS_Storage>(db, db.ChildOfType(p1, VN_TYPE_GVL_COLLECTION_X))->Flush(&d);
      const BYTE blob[] = {1, 2, 3};
      Query<IVNDataABS_GenericData>(db, db.ChildOfType(p1, 2))->SetGenericData(VN_GENERIC_SYSTEM_LABEL, 3, blob, &d);
    }
    db.SetHighCapacityExternalFlag(p2, 1);
    db.SetServiceBlock(p1, {0xDE, 0xAD, 0xBE, 0xEF});
    db.SetReportedBlockSize(p2, 0x90000000LL);
    gvlX = CreateObject(db, db.ChildOfType(p2, VN_TYPE_GVL_COLLECTION_X), 14, u"ListX");
    sdtX = CreateObject(db, db.ChildOfType(p2, VN_TYPE_SDT_COLLECTION_X), 18, u"TypeX");
    auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(db, gvlX);
    rowIds.resize(3);
    rows->AddRows(3, rowIds.data(), &d);
    rows->DeleteRows(1, &rowIds[0], &d);
    Bstr name(u"Lbl"), type(u"TypeX");
    stVNGlobalVariableAndSystemLabelElementDataX r{};
    r.rowID = rowIds[2];
    r.name = name;
    r.structTypeName = type;
    r.structType = 2;
    rows->SetRows(1, &r, &d);
    const stVNArraySizeX sizes[] = {{0, 3}, {-1, 4}};
    rows->SetArraySizes(rowIds[2], 2, 1, sizes, &d);
    LONG memberRow = 0;
    Query<IVNDataABS_HighCapacityStructure>(db, sdtX)->AddRows(1, &memberRow, &d);
    IVNDataABS_LabelService* service = nullptr;
    db.Workspace()->GetServiceObject(p2, VN_SERVICE_LABEL, &service, &d);
    ComPtr<IVNDataABS_DeviceConversion> conv;
    QueryInterfaceTo(service, conv);
    Bstr label(u"Lbl.A");
    stVNLabelConversion req{label, nullptr, nullptr, 0};
    conv->ConvertLabels(1, &req, &d);
    Take(req.deviceText);
    Take(req.extraText);
  }
};

TEST(RefPersistence, SaveLoadSaveGivesTheSameFileAndTheSameContent) {
  Populated src;
  const std::string a = TempPath("a"), b = TempPath("b");
  ASSERT_TRUE(src.db.SaveToFile(a));

  RefDatabase copy;
  copy.NewProject(u"replaced by the load");
  ASSERT_TRUE(copy.LoadFromFile(a));
  ASSERT_TRUE(copy.SaveToFile(b));
  EXPECT_EQ(ReadAll(a), ReadAll(b));

  // Spot checks that the content really came back, through the interfaces.
  EXPECT_EQ((std::vector<STOBJECTID>{src.p1, src.p2}), copy.Projects());
  EXPECT_EQ(src.db.ObjectCount(), copy.ObjectCount());
  EXPECT_EQ(u"Second \u65e5\u672c", copy.ObjectName(src.p2));
  EXPECT_EQ(u"Var", copy.ObjectName(src.var));
  SYSTEMTIME t{};
  ASSERT_TRUE(copy.LastUpdateTime(src.gvl, &t));
  EXPECT_EQ(31, t.wDay);
  LONG code = 0, d = 0, n = 0;
  STOBJECTID def{};
  ASSERT_TRUE(copy.TypeCode(src.var, &code));
  EXPECT_EQ(9, code);
  ASSERT_TRUE(copy.StructDefineID(src.var, &def));
  EXPECT_EQ(src.p2, def);
  BSTR text = nullptr;
  ASSERT_EQ(S_OK, Query<IVNDataABS_SystemLabel>(copy, src.var)->GetName(&text, &d));
  EXPECT_EQ(u"Sys", Take(text));
  ASSERT_EQ(S_OK, Query<IVNDataABS_StructVariable>(copy, src.var)->GetMemberDevices(nullptr, nullptr, &n, &d));
  EXPECT_EQ(1, n);
  EXPECT_EQ(6, copy.ClassicExternalFlag(src.p1));
  EXPECT_EQ(1, copy.FlushCount(src.p1));
  EXPECT_EQ((std::vector<BYTE>{0xDE, 0xAD, 0xBE, 0xEF}), copy.ServiceBlock(src.p1));
  EXPECT_EQ(src.db.ConvertedLabels(src.p2), copy.ConvertedLabels(src.p2));
  IVNDataABS_LabelService* service = nullptr;
  ASSERT_EQ(S_OK, copy.Workspace()->GetServiceObject(src.p2, VN_SERVICE_LABEL, &service, &d));
  LONGLONG size = 0;
  ASSERT_EQ(S_OK, service->GetBlockSize(&size, &d));
  EXPECT_EQ(0x90000000LL, size);

  auto rows = Query<IVNDataABS_HighCapacityGlobalVariable>(copy, src.gvlX);
  ASSERT_TRUE(rows);
  std::vector<LONG> ids(3);
  LONG returned = 0;
  ASSERT_EQ(S_OK, rows->GetRowIDs(1, 2, 1, 3, 0, ids.data(), &returned, &d));
  ASSERT_EQ(2, returned);
  EXPECT_EQ(src.rowIds[1], ids[0]);
  EXPECT_EQ(src.rowIds[2], ids[1]);
  ASSERT_EQ(S_OK, rows->GetArraySizeCount(src.rowIds[2], &n, &d));
  EXPECT_EQ(2, n);
  STOBJECTID structId{};
  ASSERT_EQ(S_OK, rows->GetRowObjectID(src.rowIds[2], &structId, &d));
  EXPECT_EQ(src.sdtX, structId);
  rows.Reset();

  // Counters came back too: both databases hand out the same next IDs.
  LONG next[2] = {};
  Query<IVNDataABS_HighCapacityGlobalVariable>(src.db, src.gvlX)->AddRows(1, &next[0], &d);
  Query<IVNDataABS_HighCapacityGlobalVariable>(copy, src.gvlX)->AddRows(1, &next[1], &d);
  EXPECT_EQ(next[0], next[1]);
  EXPECT_EQ(CreateObject(src.db, src.gvl, 77), CreateObject(copy, src.gvl, 77));
  EXPECT_EQ(CreateObject(src.db, src.db.ChildOfType(src.p2, VN_TYPE_GVL_COLLECTION_X), 14),
            CreateObject(copy, src.db.ChildOfType(src.p2, VN_TYPE_GVL_COLLECTION_X), 14));
  EXPECT_EQ(src.db.NewProject(u"N"), copy.NewProject(u"N"));
  EXPECT_EQ(0, copy.OutstandingReferences());
  std::remove(a.c_str());
  std::remove(b.c_str());
}

TEST(RefPersistence, BadFilesAreRefusedAndChangeNothing) {
  Populated src;
  const std::string path = TempPath("bad");
  ASSERT_TRUE(src.db.SaveToFile(path));
  const std::vector<char> good = ReadAll(path);

  RefDatabase db;
  STOBJECTID keep = db.NewProject(u"Keep");
  EXPECT_FALSE(db.LoadFromFile(path + ".missing"));
  // Every truncation, a wrong magic, a wrong version and trailing bytes are refused.
  for (std::size_t cut = 0; cut < good.size(); cut += 1 + good.size() / 97) {
    WriteAll(path, std::vector<char>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_FALSE(db.LoadFromFile(path)) << cut;
  }
  std::vector<char> bad = good;
  bad[0] = 'X';
  WriteAll(path, bad);
  EXPECT_FALSE(db.LoadFromFile(path));
  bad = good;
  bad[8] = 2;
  WriteAll(path, bad);
  EXPECT_FALSE(db.LoadFromFile(path));
  bad = good;
  bad.push_back(0);
  WriteAll(path, bad);
  EXPECT_FALSE(db.LoadFromFile(path));
  EXPECT_EQ((std::vector<STOBJECTID>{keep}), db.Projects());
  EXPECT_EQ(6, db.ObjectCount());
  std::remove(path.c_str());
}

TEST(RefPersistence, LoadKeepsHeldInterfacesAliveAndFailing) {
  Populated src;
  const std::string path = TempPath("held");
  ASSERT_TRUE(src.db.SaveToFile(path));
  auto held = Query<IVNDataABS_Variable>(src.db, src.var);
  ASSERT_TRUE(src.db.LoadFromFile(path));
  LONG d = 0;
  ULONG line = 0;
  EXPECT_EQ(refdb::kStatusFailed, held->GetLineNo(&line, &d));
  EXPECT_EQ(refdb::kDetailDeleted, d);
  held.Reset();
  EXPECT_EQ(0, src.db.OutstandingReferences());
  // The object of that ID is the loaded one now.
  ASSERT_EQ(S_OK, Query<IVNDataABS_Variable>(src.db, src.var)->GetLineNo(&line, &d));
  EXPECT_EQ(4u, line);
  std::remove(path.c_str());
}

}  // namespace

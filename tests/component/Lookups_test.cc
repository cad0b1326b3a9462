// Structured types by name and allocation data of basic types.
#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"
#include "support/RefdbFixtures.h"

namespace {
using C = CKX9ComFuncLabelStructure;
namespace fx = refdb_fixtures;

TEST(LookupsTest, AllocationTypeAndSize) {
  C labels(nullptr);  // needs no database
  const struct {
    const char16_t* name;
    WORD words;
    BYTE alloc;
  } cases[] = {{u"BOOL", 1, 1},  {u"int", 1, 4},   {u"DInt", 2, 5}, {u"word", 1, 2},
               {u"dword", 2, 3}, {u"FLOAT", 4, 7}, {u"lreal", 4, 7}};
  for (const auto& c : cases) {
    WORD words = 0, bytes = 0;
    BYTE alloc = 0xEE;
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(c.name, 0, words, alloc), KX9_OK);
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(c.name, -3, bytes, alloc), KX9_OK);
    EXPECT_EQ(words, c.words) << ToUtf8(c.name);
    EXPECT_EQ(bytes, 2 * c.words) << ToUtf8(c.name);
    EXPECT_EQ(alloc, c.alloc) << ToUtf8(c.name);
  }
  // No row (case folds ASCII letters only): success, the caller's values survive.
  for (const char16_t* name : {u"REAL", u"", u"BOOLEAN", u"\u0130NT"}) {
    WORD size = 0x1234;
    BYTE alloc = 0x56;
    EXPECT_EQ(labels.GetTypeAndSizeForAllocDB(name, 1, size, alloc), KX9_OK);
    EXPECT_EQ(size, 0x1234) << ToUtf8(name);
    EXPECT_EQ(alloc, 0x56) << ToUtf8(name);
  }
}

TEST(LookupsTest, StructDataIDByExactNameFirstWins) {
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"P");
  C labels(db.Workspace());
  labels.Initialize(project);
  STOBJECTID id;
  std::memset(&id, 0xAB, sizeof id);
  EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_ERR_NO_STRUCT);  // no SDT at all
  EXPECT_TRUE(id.IsNull());

  fx::AddClassicSDT(db, project, u"Alpha");
  const STOBJECTID motor1 = fx::AddClassicSDT(db, project, u"Motor");
  const STOBJECTID motor2 = fx::AddClassicSDT(db, project, u"Motor");
  const STOBJECTID motorX = fx::AddSDTX(db, project, u"Motor");
  const long bstrs = PlatformLiveBstrCount();
  EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_OK);
  EXPECT_EQ(id, motor1);
  for (const char16_t* near : {u"motor", u"Moto", u"Motor ", u""}) {
    std::memset(&id, 0xAB, sizeof id);
    EXPECT_EQ(labels.GetStructDataID(near, id), KX9_ERR_NO_STRUCT) << ToUtf8(near);
    EXPECT_TRUE(id.IsNull());
  }
  db.Faults().Set("Workspace.GetObjectName", refdb::Fault{E_FAIL, 1, 2, 1});  // unreadable: passed over
  EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_OK);
  EXPECT_EQ(id, motor2);
  labels.SetCPUSeries(C::KX9LabelCPUSeriesX);  // the series' own collection
  EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_OK);
  EXPECT_EQ(id, motorX);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);

  db.Faults().Set("Workspace.GetChildIDByType", refdb::Fault{E_FAIL, 77});
  EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_ERR_DB);
  EXPECT_TRUE(id.IsNull());
  for (int nth : {1, 2}) {
    db.Faults().Set("Workspace.GetChildIDList", refdb::Fault{1, 77, nth, 1});
    EXPECT_EQ(labels.GetStructDataID(u"Motor", id), KX9_ERR_DB) << nth;
  }
  C orphan(nullptr);
  EXPECT_EQ(orphan.GetStructDataID(u"Motor", id), KX9_ERR_NO_WORKSPACE);
}
}  // namespace

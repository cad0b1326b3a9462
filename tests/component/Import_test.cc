// Import: envelope paths, the order of the replacement under injected
// failures, the series argument, and export -> import -> export.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "tests/component/EnvelopeTestSupport.h"
#include "tests/support/AllocFailure.h"

namespace {

using namespace envelope_test;

Bytes Envelope(const Bytes& block, const _STKX9AUTODEVSET& settings, const std::string& image) {
  Bytes e = block;
  const Bytes s = SettingsBytes(settings);
  e.insert(e.end(), s.begin(), s.end());
  e.insert(e.end(), image.begin(), image.end());
  return e;
}

// A project holding the sample labels and a stored service block.
struct Filled : Project {
  explicit Filled(Series series = C::KX9LabelCPUSeriesStandard) : Project(series) {
    DataSet d = Sample();
    Fill(d);
    db.SetServiceBlock(id, ServiceBlock(9, 0x11));
  }
};

const std::vector<std::u16string> kSampleSdts = {u"Point"};
const std::vector<std::u16string> kSampleGvls = {u"Lamps", u"Global"};

// What an envelope does to a project holding the sample: the block stored,
// the settings returned, the labels left. Refused envelopes make no call.
TEST(ImportTest, EnvelopesAndWhatTheyLeave) {
  const Bytes substitute = {4, 0, 0, 0}, block12 = ServiceBlock(12, 0x77), block16 = ServiceBlock(16, 0x42);
  const Bytes before = ServiceBlock(9, 0x11);  // what Filled stores
  Bytes cut = Envelope(block16, Settings(5), "");
  cut.resize(16 + 103);
  const struct {
    const char* what;
    Bytes envelope;
    ULONG expected;
    Bytes block;     // stored afterwards
    bool settings;   // whether Settings(21) came back
    bool cleared;    // the sample's labels are gone (else they all stay)
  } rows[] = {
      {"the export of an empty project", Envelope(substitute, Settings(21), ""), KX9_OK, {}, true, true},
      {"a block and settings, no image", Envelope(block12, Settings(21), ""), KX9_OK, block12, true, true},
      {"ending inside the settings", cut, KX9_OK, block16, false, false},
      {"an image without header lines", Envelope(block12, Settings(21), "1,x,DINT\nhello\nSYSLBL,0,0,\n"),
       KX9_ERR_EMPTY_IMAGE, block12, true, false},
      {"three bytes", {3, 0, 0}, KX9_ERR_ARG, before, false, false},
      {"a block longer than the envelope", {0x20, 0, 0, 0, 1, 2, 3, 4}, KX9_ERR_ARG, before, false, false},
      {"a negative block size", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, KX9_ERR_ARG, before, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Filled p;
    p.db.Faults().ResetCounts();
    _STKX9AUTODEVSET returned = Settings(99);
    EXPECT_EQ(p.Import(row.envelope, returned), row.expected);
    EXPECT_EQ(p.db.ServiceBlock(p.id), row.block);
    EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(row.settings ? 21 : 99)));
    EXPECT_EQ(p.Names(VN_TYPE_SDT_COLLECTION), row.cleared ? std::vector<std::u16string>{} : kSampleSdts);
    EXPECT_EQ(p.Names(VN_TYPE_GVL_COLLECTION), row.cleared ? std::vector<std::u16string>{} : kSampleGvls);
    EXPECT_TRUE(row.expected != KX9_ERR_ARG || p.db.Faults().TotalCalls() == 0);
    if (row.cleared) {
      // The system label of status 2 was remembered while its list went.
      ASSERT_EQ(A::DeleteSystemLabels(*p.c).GetSize(), 1);
      EXPECT_EQ(A::DeleteSystemLabels(*p.c)[0]->systemLabel.ID, 501);
      delete A::DeleteSystemLabels(*p.c)[0];
    }
  }
}

// Arguments before the envelope: workspace, then project, then data and size.
TEST(ImportTest, RefusedCallsTouchNothing) {
  Filled p;
  const Bytes before = p.db.ServiceBlock(p.id);
  p.db.Faults().ResetCounts();
  _STKX9AUTODEVSET returned = Settings(3);
  const Bytes good = Envelope(Bytes{4, 0, 0, 0}, Settings(1), "");
  const Series keep = static_cast<Series>(-1);
  EXPECT_EQ(p.c->SetAllData(nullptr, 108, returned, keep), KX9_ERR_ARG);
  EXPECT_EQ(p.c->SetAllData(good.data(), 0, returned, keep), KX9_ERR_ARG);
  EXPECT_EQ(p.c->SetAllData(good.data(), -4, returned, keep), KX9_ERR_ARG);
  C noWorkspace(nullptr);
  noWorkspace.Initialize(p.id);
  EXPECT_EQ(noWorkspace.SetAllData(good.data(), 108, returned, keep), KX9_ERR_NO_WORKSPACE);
  C neither(nullptr);  // the workspace is checked before the project ID
  EXPECT_EQ(neither.SetAllData(nullptr, 0, returned, keep), KX9_ERR_NO_WORKSPACE);
  C uninitialised(p.db.Workspace());
  EXPECT_EQ(uninitialised.SetAllData(nullptr, 0, returned, keep), KX9_ERR_NOT_INIT);
  EXPECT_EQ(p.db.Faults().TotalCalls(), 0);

  p.db.Faults().Set("Workspace.GetServiceObject", refdb::Fault{-1, 0x1234});
  EXPECT_EQ(p.Import(good, returned), 0x1234u);
  EXPECT_EQ(p.db.ServiceBlock(p.id), before);
  EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(3)));
  EXPECT_EQ(p.Names(VN_TYPE_GVL_COLLECTION), kSampleGvls);
}

// An import replaces whatever labels a project holds, in image order, and
// stamps each new list; exporting the result gives the envelope imported.
TEST(ImportTest, ExportImportExportIsIdentical) {
  for (Series series : {C::KX9LabelCPUSeriesStandard, C::KX9LabelCPUSeriesX}) {
    SCOPED_TRACE(static_cast<LONG>(series));
    Filled source(series);
    source.SetGenericData(Bytes{0xDE, 0xAD, 0x00, 0xBE, 0xEF});
    Bytes first;
    ASSERT_EQ(source.Export(first, Settings(60)), KX9_OK);

    Project target(series);
    DataSet old(2);
    old[0].dataType = KX9_DATATYPE_GVL;
    old[0].name = u"Old";
    old[0].elements.Add(Variable(1, u"A", u"INT", u"D5"));
    old[1].dataType = KX9_DATATYPE_SDT;
    old[1].name = u"OldType";
    target.Fill(old);
    const long bstrs = PlatformLiveBstrCount();
    _STKX9AUTODEVSET returned{};
    ASSERT_EQ(target.Import(first, returned), KX9_OK);
    EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(60)));
    const bool x = series == C::KX9LabelCPUSeriesX;
    EXPECT_EQ(target.Names(x ? VN_TYPE_SDT_COLLECTION_X : VN_TYPE_SDT_COLLECTION), kSampleSdts);
    EXPECT_EQ(target.Names(x ? VN_TYPE_GVL_COLLECTION_X : VN_TYPE_GVL_COLLECTION), kSampleGvls);
    for (const STOBJECTID& gvl : target.db.Children(target.db.ChildOfType(target.id, VN_TYPE_GVL_COLLECTION))) {
      SYSTEMTIME t{};
      BYTE flag = 0xFF;
      EXPECT_TRUE(target.db.LastUpdateTime(gvl, &t) && target.db.CreationFlag(gvl, &flag) && flag == 0);
    }
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
    EXPECT_EQ(target.db.OutstandingReferences(), 0);
    Bytes second;
    ASSERT_EQ(target.Export(second, Settings(60)), KX9_OK);
    EXPECT_EQ(second, first) << Text(first, 9 + 104) << "\n---\n" << Text(second, 9 + 104);
    for (int i = 0; i < A::DeleteSystemLabels(*target.c).GetSize(); ++i) delete A::DeleteSystemLabels(*target.c)[i];
  }
}

TEST(ImportTest, SeriesArgumentChoosesTheDatabasePathForThisCallOnly) {
  Filled source;
  Bytes envelope;
  ASSERT_EQ(source.Export(envelope, Settings(0)), KX9_OK);

  // A standard object told 1: the data go to the high-capacity collections,
  // the ANSI image text is still decoded as such, and the series is back.
  Project standard;
  _STKX9AUTODEVSET returned{};
  ASSERT_EQ(standard.Import(envelope, returned, C::KX9LabelCPUSeriesX), KX9_OK);
  EXPECT_EQ(A::Series(*standard.c), C::KX9LabelCPUSeriesStandard);
  EXPECT_TRUE(standard.Names(VN_TYPE_GVL_COLLECTION).empty());
  EXPECT_EQ(standard.Names(VN_TYPE_GVL_COLLECTION_X), kSampleGvls);
  EXPECT_EQ(standard.Names(VN_TYPE_SDT_COLLECTION_X), kSampleSdts);
  EXPECT_EQ(standard.db.FlushCount(standard.id), 1);
  standard.c->SetCPUSeries(C::KX9LabelCPUSeriesX);
  LONG count = 0;
  ASSERT_EQ(A::GetAllDataMain(*standard.c, &count, nullptr), KX9_OK);
  DataSet back(count);
  ASSERT_EQ(A::GetAllDataMain(*standard.c, &count, back.data.get()), KX9_OK);
  ASSERT_EQ(back[1].elements.GetSize(), 2);
  EXPECT_EQ(back[1].elements[0]->comments[0], u"red, \u00e9clair\r\nline 2");

  // An X object told -1 keeps its own series; told 0 it takes the classic
  // path and the series comes back to 1.
  Project x(C::KX9LabelCPUSeriesX);
  const Bytes utf16 = [&] {
    Filled s(C::KX9LabelCPUSeriesX);
    Bytes e;
    EXPECT_EQ(s.Export(e, Settings(0)), KX9_OK);
    return e;
  }();
  ASSERT_EQ(x.Import(utf16, returned), KX9_OK);
  EXPECT_EQ(x.Names(VN_TYPE_GVL_COLLECTION_X), kSampleGvls);
  ASSERT_EQ(x.Import(utf16, returned, C::KX9LabelCPUSeriesStandard), KX9_OK);
  EXPECT_EQ(A::Series(*x.c), C::KX9LabelCPUSeriesX);
  EXPECT_EQ(x.Names(VN_TYPE_GVL_COLLECTION), kSampleGvls);
  // The classic replacement deleted nothing on the high-capacity side.
  EXPECT_EQ(x.Names(VN_TYPE_GVL_COLLECTION_X), kSampleGvls);
  for (int i = 0; i < A::DeleteSystemLabels(*x.c).GetSize(); ++i) delete A::DeleteSystemLabels(*x.c)[i];
}

// Database failures during the replacement, one row each: which call fails,
// the result, and what the project holds afterwards. The sample is replaced
// by SDT "First", GVL "Second" (one variable) and GVL "Third". Deletion runs
// completely before creation, and nothing is rolled back. A detail that
// equals no fixed code shows that these rows report 2, not the detail.
TEST(ImportTest, DatabaseFailuresStopTheReplacementWhereTheyHappen) {
  const Series standard = C::KX9LabelCPUSeriesStandard, x = C::KX9LabelCPUSeriesX;
  using Names = std::vector<std::u16string>;
  const struct {
    const char* why;
    Series series;
    const char* op;
    refdb::Fault fault;
    Names sdts, gvls;
  } rows[] = {
      // DeleteDataObject calls: per element, then the element collection,
      // then the datum; SDT "Point" (2 members) takes calls 1 to 4.
      {"the SDT object itself", standard, "Workspace.DeleteDataObject", {-1, 0x4D2, 4, 1}, kSampleSdts, kSampleGvls},
      {"the element collection of Lamps", standard, "Workspace.DeleteDataObject", {-1, 0x4D2, 7, 1}, {}, kSampleGvls},
      {"no SDT collection", standard, "Workspace.GetChildIDByType", {1, 0x4D2, 1, 1}, kSampleSdts, kSampleGvls},
      {"creating the second datum", standard, "Workspace.CreateDataObject", {-1, 0x4D2, 2, 1}, {u"First"}, {}},
      {"stamping the first datum", standard, "Workspace.SetLastUpdateTime", {-1, 0x4D2, 1, 1}, {u"First"}, {}},
      {"flushing after the SDTs", x, "Storage.Flush", {-1, 0x4D2, 1, 1}, {}, kSampleGvls},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    Filled p(row.series);
    DataSet d(3);
    d[0].dataType = KX9_DATATYPE_SDT;
    d[0].name = u"First";
    d[1].dataType = KX9_DATATYPE_GVL;
    d[1].name = u"Second";
    d[1].elements.Add(Variable(1, u"v", u"INT", u"D1"));
    d[2].dataType = KX9_DATATYPE_GVL;
    d[2].name = u"Third";
    const long bstrs = PlatformLiveBstrCount();
    p.db.Faults().Set(row.op, row.fault);
    EXPECT_EQ(A::SetAllDataMain(*p.c, d.count, d.data.get()), KX9_ERR_DB);
    const bool bX = row.series == x;
    EXPECT_EQ(p.Names(bX ? VN_TYPE_SDT_COLLECTION_X : VN_TYPE_SDT_COLLECTION), row.sdts);
    EXPECT_EQ(p.Names(bX ? VN_TYPE_GVL_COLLECTION_X : VN_TYPE_GVL_COLLECTION), row.gvls);
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
    for (int i = 0; i < A::DeleteSystemLabels(*p.c).GetSize(); ++i) delete A::DeleteSystemLabels(*p.c)[i];
  }

  // dataType 5: everything old is deleted, nothing is created for it.
  Filled q;
  DataSet bad(2);
  bad[0].dataType = 5;
  bad[0].name = u"Odd";
  bad[1].dataType = KX9_DATATYPE_GVL;
  bad[1].name = u"Never";
  EXPECT_EQ(A::SetAllDataMain(*q.c, bad.count, bad.data.get()), KX9_ERR_TYPE);
  EXPECT_TRUE(q.Names(VN_TYPE_SDT_COLLECTION).empty());
  EXPECT_TRUE(q.Names(VN_TYPE_GVL_COLLECTION).empty());
  for (int i = 0; i < A::DeleteSystemLabels(*q.c).GetSize(); ++i) delete A::DeleteSystemLabels(*q.c)[i];
}

TEST(ImportTest, XSeriesDeletionFlushesOnlyAfterDeletingSomething) {
  Project empty(C::KX9LabelCPUSeriesX);
  EXPECT_EQ(A::DeleteAllDataType(*empty.c, KX9_DATATYPE_GVL), KX9_OK);
  EXPECT_EQ(empty.db.FlushCount(empty.id), 0);

  Filled p(C::KX9LabelCPUSeriesX);
  const long flushes = p.db.FlushCount(p.id);
  EXPECT_EQ(A::DeleteAllDataType(*p.c, KX9_DATATYPE_GVL), KX9_OK);
  EXPECT_EQ(p.db.FlushCount(p.id), flushes + 1);
  EXPECT_TRUE(p.Names(VN_TYPE_GVL_COLLECTION_X).empty());
  EXPECT_EQ(p.Names(VN_TYPE_SDT_COLLECTION_X), kSampleSdts);
  for (int i = 0; i < A::DeleteSystemLabels(*p.c).GetSize(); ++i) delete A::DeleteSystemLabels(*p.c)[i];
}

// A failure raised inside the replacement (here: no memory for the first
// name the component writes) passes out and leaves the series as it was.
TEST(ImportTest, FailureRaisedInsideTheReplacementRestoresTheSeries) {
  Filled source;
  Bytes envelope;
  ASSERT_EQ(source.Export(envelope, Settings(0)), KX9_OK);
  Project target;
  const long bstrs = PlatformLiveBstrCount();
  _STKX9AUTODEVSET returned{};
  {
    AllocFailure fail(1, kAllocBstr);
    // Series 2: the classic database path, where names are written as BSTRs.
    EXPECT_THROW(target.Import(envelope, returned, static_cast<Series>(2)), std::bad_alloc);
  }
  EXPECT_EQ(A::Series(*target.c), C::KX9LabelCPUSeriesStandard);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(0)));
}

}  // namespace

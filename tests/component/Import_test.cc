// Import: refused calls, envelope paths, the order of the replacement under
// injected failures, the series argument, and export -> import -> export.
#include <gtest/gtest.h>

#include <new>
#include <tuple>

#include "tests/support/LabelFixtures.h"

namespace {

using namespace label_test;

// Both directions check the workspace, then the project, then the arguments;
// a refused call makes no database call and changes no output.
TEST(EnvelopeTest, RefusedCallsTouchNothing) {
  Filled p;
  C neither(nullptr), uninitialised(p.db.Workspace());  // neither a workspace nor a project
  const _STKX9AUTODEVSET s = Settings(1);
  const Bytes good = Envelope({4, 0, 0, 0}, s, "");
  const Series keep = static_cast<Series>(-1);
  BYTE sentinel = 0, *data = &sentinel;
  LONG size = 99;
  _STKX9AUTODEVSET returned = Settings(3);
  p.db.Faults().ResetCounts();
  const std::pair<ULONG, ULONG> calls[] = {
      {neither.GetAllData(&data, &size, s), KX9_ERR_NO_WORKSPACE},
      {uninitialised.GetAllData(&data, &size, s), KX9_ERR_NOT_INIT},
      {uninitialised.GetAllData(nullptr, nullptr, s), KX9_ERR_NOT_INIT},
      {p.c.GetAllData(nullptr, &size, s), KX9_ERR_ARG},
      {p.c.GetAllData(&data, nullptr, s), KX9_ERR_ARG},
      {neither.SetAllData(good.data(), 108, returned, keep), KX9_ERR_NO_WORKSPACE},
      {uninitialised.SetAllData(nullptr, 0, returned, keep), KX9_ERR_NOT_INIT},
      {p.c.SetAllData(nullptr, 108, returned, keep), KX9_ERR_ARG},
      {p.c.SetAllData(good.data(), 0, returned, keep), KX9_ERR_ARG},
      {p.c.SetAllData(good.data(), -4, returned, keep), KX9_ERR_ARG},
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
  EXPECT_TRUE(data == &sentinel && size == 99 && SettingsBytes(returned) == SettingsBytes(Settings(3)));
  EXPECT_EQ(p.db.Faults().TotalCalls(), 0);
}

// What an envelope does to a project holding the sample: the block stored,
// the settings returned, the labels left. Refused envelopes make no call; a
// failing service lookup gives its detail and touches nothing either.
TEST(ImportTest, EnvelopesAndWhatTheyLeave) {
  const Bytes block12 = ServiceBlock(12, 0x77);
  Bytes cut = Envelope(ServiceBlock(16, 0x42), Settings(5), "");
  cut.resize(16 + 103);
  // What, envelope, result, the block stored afterwards, whether Settings(21)
  // came back, whether the sample's labels are gone (else they all stay).
  const std::tuple<const char*, Bytes, ULONG, Bytes, bool, bool> rows[] = {
      {"the export of an empty project", Envelope({4, 0, 0, 0}, Settings(21), ""), KX9_OK, {}, true, true},
      {"a block and settings, no image", Envelope(block12, Settings(21), ""), KX9_OK, block12, true, true},
      {"ending inside the settings", cut, KX9_OK, ServiceBlock(16, 0x42), false, false},
      {"an image without header lines", Envelope(block12, Settings(21), "1,x,DINT\nhello\nSYSLBL,0,0,\n"),
       KX9_ERR_EMPTY_IMAGE, block12, true, false},
      {"three bytes", {3, 0, 0}, KX9_ERR_ARG, kSampleBlock, false, false},
      {"a block longer than the envelope", {0x20, 0, 0, 0, 1, 2, 3, 4}, KX9_ERR_ARG, kSampleBlock, false, false},
      {"a negative block size", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, KX9_ERR_ARG, kSampleBlock, false, false},
      {"no label service: its detail", Envelope({4, 0, 0, 0}, Settings(21), ""), 0x1234, kSampleBlock, false, false},
  };
  for (const auto& [what, envelope, expected, block, settings, cleared] : rows) {
    SCOPED_TRACE(what);
    Filled p;
    p.db.Faults().ResetCounts();
    if (expected == 0x1234) p.db.Faults().Set("Workspace.GetServiceObject", refdb::Fault{-1, 0x1234});
    _STKX9AUTODEVSET returned = Settings(99);
    EXPECT_EQ(p.Import(envelope, &returned), expected);
    EXPECT_EQ(p.db.ServiceBlock(p.id), block);
    EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(settings ? 21 : 99)));
    EXPECT_EQ(p.Labels(false), cleared ? kNone : kSample);
    EXPECT_TRUE(expected != KX9_ERR_ARG || p.db.Faults().TotalCalls() == 0);
    // The system label of status 2 is remembered when its list goes.
    ASSERT_EQ(A::Collected(p.c).GetSize(), cleared ? 1 : 0);
    EXPECT_TRUE(!cleared || A::Collected(p.c)[0]->systemLabel.ID == 501);
  }
}

// Export gathers SDTs first, then GVLs in creation order, every field and
// the generic data included; an import replaces whatever labels a project
// holds, in image order, and stamps each new list; exporting the result
// gives the envelope imported.
TEST(ImportTest, ExportImportExportIsIdentical) {
  for (Series series : {kStandard, kX}) {
    SCOPED_TRACE(static_cast<LONG>(series));
    Filled source(series);
    ASSERT_EQ(A::SetGeneric(source.c, Bytes{0xDE, 0xAD, 0x00, 0xBE, 0xEF}), KX9_OK);
    const Bytes first = source.Export(Settings(60));
    // The image is what the writer makes of the sample in gathered order.
    DataSet gathered = Sample(true);
    _STKX9LABELSTRUCTURE* records = gathered.data.release();
    BYTE* image = nullptr;
    const LONG length = A::Write(source.c, gathered.count, records, image);
    std::unique_ptr<BYTE[]> ownedImage(image);
    delete[] records;  // null once the writer took them
    ASSERT_GT(length, 0);
    EXPECT_EQ(Bytes(first.begin() + kSampleBlock.size() + 104, first.end()), Bytes(image, image + length));

    Project target(series);
    target.Fill({{KX9_DATATYPE_GVL, u"Old", {Variable(1, u"A", u"INT", {u"D5"})}}, {KX9_DATATYPE_SDT, u"OldType"}});
    ASSERT_EQ(target.Import(first), KX9_OK);
    for (const STOBJECTID& gvl : target.db.Children(target.db.ChildOfType(target.id, VN_TYPE_GVL_COLLECTION))) {
      BYTE flag = 0xFF;
      EXPECT_TRUE(target.db.LastUpdateTime(gvl, nullptr) && target.db.CreationFlag(gvl, &flag) && flag == 0);
    }
    EXPECT_EQ(target.Export(Settings(60)), first);
  }
}

// The series argument picks the database path of one import only: the image
// is decoded under the object's own series, the other side is left alone,
// and the series comes back however the import ends.
TEST(ImportTest, SeriesArgumentChoosesTheDatabasePathForThisCallOnly) {
  const Bytes ansi = ExportOf(kStandard), utf16 = ExportOf(kX);
  for (auto [own, other] : {std::pair{kStandard, kX}, std::pair{kX, kStandard}}) {
    SCOPED_TRACE(static_cast<LONG>(own));
    Filled p(own);
    const long flushes = p.db.FlushCount(p.id);
    ASSERT_EQ(p.Import(own == kX ? utf16 : ansi, nullptr, other), KX9_OK);
    EXPECT_EQ(A::Series(p.c), own);
    EXPECT_EQ(p.Labels(own == kX), kSample);
    // Nothing to delete on the X side: only the creation flushes.
    EXPECT_EQ(p.db.FlushCount(p.id), flushes + (other == kX ? 1 : 0));
    p.c.SetCPUSeries(other);
    EXPECT_EQ(p.Export(Settings(0)), own == kX ? ansi : utf16);
  }

  // No memory for the first name the classic path (series 2) writes.
  Project target;
  _STKX9AUTODEVSET returned{};
  {
    AllocFailure fail(1, kAllocBstr);
    EXPECT_THROW(target.Import(ansi, &returned, static_cast<Series>(2)), std::bad_alloc);
  }
  EXPECT_EQ(A::Series(target.c), kStandard);
  EXPECT_EQ(SettingsBytes(returned), SettingsBytes(Settings(0)));
}

// Database failures during the replacement, one row each: which call fails,
// the result, and what the project holds afterwards. The sample is replaced
// by SDT "First", GVL "Second" (one variable) and GVL "Third". Deletion runs
// completely before creation, and nothing is rolled back. A detail that
// equals no fixed code shows that these rows report 2, not the detail.
TEST(ImportTest, DatabaseFailuresStopTheReplacementWhereTheyHappen) {
  // Why, series, the failing call (null: "First" has data type 5 instead),
  // the fault, the SDTs and GVLs left.
  const std::tuple<const char*, Series, const char*, refdb::Fault, Names, Names> rows[] = {
      // DeleteDataObject calls: per element, then the element collection,
      // then the datum; SDT "Point" (2 members) takes calls 1 to 4.
      {"the SDT object itself", kStandard, "Workspace.DeleteDataObject", {-1, 0x4D2, 4, 1}, kSampleSdts, kSampleGvls},
      {"the element collection of Lamps", kStandard, "Workspace.DeleteDataObject", {-1, 0x4D2, 7, 1}, {}, kSampleGvls},
      {"no SDT collection", kStandard, "Workspace.GetChildIDByType", {1, 0x4D2, 1, 1}, kSampleSdts, kSampleGvls},
      {"creating the second datum", kStandard, "Workspace.CreateDataObject", {-1, 0x4D2, 2, 1}, {u"First"}, {}},
      {"stamping the first datum", kStandard, "Workspace.SetLastUpdateTime", {-1, 0x4D2, 1, 1}, {u"First"}, {}},
      {"flushing after the SDTs", kX, "Storage.Flush", {-1, 0x4D2, 1, 1}, {}, kSampleGvls},
      {"data type 5: all deleted, nothing created", kStandard, nullptr, {}, {}, {}},
  };
  for (const auto& [why, series, op, fault, sdts, gvls] : rows) {
    SCOPED_TRACE(why);
    Filled p(series);
    DataSet d{{op != nullptr ? KX9_DATATYPE_SDT : 5, u"First"},
              {KX9_DATATYPE_GVL, u"Second", {Variable(1, u"v", u"INT", {u"D1"})}},
              {KX9_DATATYPE_GVL, u"Third"}};
    if (op != nullptr) p.db.Faults().Set(op, fault);
    EXPECT_EQ(A::SetAllDataMain(p.c, d.count, d.data.get()), op != nullptr ? KX9_ERR_DB : KX9_ERR_TYPE);
    EXPECT_EQ(p.Labels(series == kX), std::make_pair(sdts, gvls));
  }
}

}  // namespace

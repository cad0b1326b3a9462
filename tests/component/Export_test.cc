// Export: the envelope byte for byte, the gathering order, the block
// substitutes, the X-series size check and the failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "tests/component/EnvelopeTestSupport.h"
#include "tests/support/AllocFailure.h"

namespace {

using namespace envelope_test;

TEST(ExportTest, ArgumentsAndStateAreCheckedInOrder) {
  refdb::RefDatabase db;
  const _STKX9AUTODEVSET settings = Settings(1);
  BYTE sentinel = 0;
  BYTE* data = &sentinel;
  LONG size = 99;

  C noWorkspace(nullptr);
  noWorkspace.Initialize(db.NewProject(u"P"));
  EXPECT_EQ(noWorkspace.GetAllData(&data, &size, settings), KX9_ERR_NO_WORKSPACE);
  C neither(nullptr);  // the workspace is checked before the project ID
  EXPECT_EQ(neither.GetAllData(nullptr, nullptr, settings), KX9_ERR_NO_WORKSPACE);

  C uninitialised(db.Workspace());
  EXPECT_EQ(uninitialised.GetAllData(&data, &size, settings), KX9_ERR_NOT_INIT);
  EXPECT_EQ(uninitialised.GetAllData(nullptr, nullptr, settings), KX9_ERR_NOT_INIT);

  Project p;
  EXPECT_EQ(p.c->GetAllData(nullptr, &size, settings), KX9_ERR_ARG);
  EXPECT_EQ(p.c->GetAllData(&data, nullptr, settings), KX9_ERR_ARG);
  // Refused calls leave the outputs as they were.
  EXPECT_EQ(data, &sentinel);
  EXPECT_EQ(size, 99);
  EXPECT_EQ(p.db.Faults().TotalCalls(), 0);
}

// The image behind the settings is what the writer makes of the gathered
// records: SDTs first, then GVLs in creation order, with the system-label
// block. Read back, it gives the data again; nothing is left behind.
TEST(ExportTest, ImageHoldsTheGatheredRecordsInOrder) {
  Project p;
  DataSet d = Sample();
  p.Fill(d);
  p.db.SetServiceBlock(p.id, ServiceBlock(10, 0xC3));
  const long taskMem = PlatformLiveTaskMemCount(), bstrs = PlatformLiveBstrCount();
  Bytes out;
  ASSERT_EQ(p.Export(out, Settings(40)), KX9_OK);
  const Bytes image(out.begin() + 114, out.end());
  const LONG count = A::ReadBinaryData(*p.c, image.data(), static_cast<LONG>(image.size()), nullptr);
  ASSERT_EQ(count, 3);
  DataSet back(count);
  ASSERT_EQ(A::ReadBinaryData(*p.c, image.data(), static_cast<LONG>(image.size()), back.data.get()), count);
  EXPECT_EQ(back[0].dataType, KX9_DATATYPE_SDT);
  EXPECT_EQ(back[0].name + u"|" + back[1].name + u"|" + back[2].name, u"Point|Lamps|Global");
  ASSERT_EQ(back[2].elements.GetSize(), 3);
  EXPECT_EQ(static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(back[2].elements[1])->systemLabel.ID, 501);
  EXPECT_EQ(back[1].elements[0]->comments[0], u"red, \u00e9clair\r\nline 2");
  EXPECT_EQ(Text(out, 114).rfind("SDT,Point,2\n", 0), 0u);
  EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  EXPECT_EQ(p.db.OutstandingReferences(), 0);
}

// What stands in front of the settings: the stored block, or the 4-byte
// substitute when there are no labels or the block cannot be read; on the X
// series the reported size is checked first. Behind the settings the image
// and a zero byte; a failure hands out nothing.
TEST(ExportTest, TheServiceBlockOrItsSubstitute) {
  const Series standard = C::KX9LabelCPUSeriesStandard, x = C::KX9LabelCPUSeriesX;
  const Bytes substitute = {4, 0, 0, 0}, stored = ServiceBlock(8, 1);
  const std::string image = "GVL,G,1\n1,V,INT,,0,0,,,1,0,0,,,,,,,,,,,,,,,,,,,,,,,,,,0\nD0,\n";
  const struct {
    const char* what;
    Series series;
    bool labels;
    const char* op;  // a failing call of the label service, or null
    HRESULT status;
    LONGLONG reported;  // the block size the X series' service reports, unless 0
    bool noTaskMem;
    ULONG expected;
    Bytes block;
  } rows[] = {
      {"no labels: the block is not consulted", standard, false, nullptr, 0, 0, false, KX9_OK, substitute},
      {"no labels, no memory for the substitute", standard, false, nullptr, 0, 0, true, KX9_ERR_ALLOC, {}},
      {"the stored block", standard, true, nullptr, 0, 0, false, KX9_OK, stored},
      {"block read fails, positive status", standard, true, "LabelService.GetBlock", 5, 0, false, KX9_OK, substitute},
      {"block read fails", standard, true, "LabelService.GetBlock", -3, 0, false, KX9_OK, substitute},
      {"x: the stored block", x, true, nullptr, 0, 0, false, KX9_OK, stored},
      {"x: size at the limit", x, true, nullptr, 0, 0x80000000LL, false, KX9_OK, stored},
      {"x: size over the limit", x, true, nullptr, 0, 0x80000001LL, false, KX9_ERR_ALLOC, {}},
      {"x: a negative size", x, true, nullptr, 0, -5, false, KX9_OK, stored},
      {"x: size read fails", x, true, "LabelService.GetBlockSize", -1, 0, false, KX9_ERR_ALLOC, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Project p(row.series);
    if (row.labels) {
      DataSet d(1);
      d[0].dataType = KX9_DATATYPE_GVL;
      d[0].name = u"G";
      d[0].elements.Add(Variable(1, u"V", u"INT", u"D0"));
      p.Fill(d);
    }
    p.db.SetServiceBlock(p.id, stored);
    if (row.op != nullptr) p.db.Faults().Set(row.op, refdb::Fault{row.status, 0x4D2});
    if (row.reported != 0) p.db.SetReportedBlockSize(p.id, row.reported);
    const long taskMem = PlatformLiveTaskMemCount();
    p.db.Faults().ResetCounts();
    Bytes out;
    int extra = -1;
    {
      std::optional<AllocFailure> fail;
      if (row.noTaskMem) fail.emplace(1, kAllocTaskMem);
      EXPECT_EQ(p.Export(out, Settings(3), row.labels ? &extra : nullptr), row.expected);  // no zero byte without labels
    }
    EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
    if (row.expected != KX9_OK) {
      EXPECT_TRUE(out.empty());
      EXPECT_EQ(p.db.Faults().Calls("LabelService.GetBlock"), 0);
      continue;
    }
    const std::size_t b = row.block.size();
    ASSERT_GE(out.size(), b + 104);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(b)), row.block);
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(b), out.begin() + static_cast<long>(b) + 104),
              SettingsBytes(Settings(3)));
    EXPECT_EQ(extra, row.labels ? 0 : -1);
    Bytes text;  // the image: ANSI, or UTF-16LE on the X series
    for (char ch : row.labels ? image : "") {
      text.push_back(static_cast<BYTE>(ch));
      if (row.series == x) text.push_back(0);
    }
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(b) + 104, out.end()), text);
    EXPECT_TRUE(row.labels || p.db.Faults().Calls("Workspace.GetServiceObject") == 0);
  }
}

TEST(ExportTest, DatabaseFailuresGiveTheirCodesAndLeaveNothingBehind) {
  struct Case {
    const char* op;
    refdb::Fault fault;
    ULONG expected;
  };
  const Case cases[] = {
      {"Workspace.GetChildIDByType", {3, 0x4D2, 1, 1}, KX9_ERR_DB},  // the SDT parent, counting pass
      {"Workspace.GetChildIDByType", {3, 0x4D2, 2, 1}, KX9_ERR_DB},  // the GVL parent, counting pass
      {"Workspace.GetChildIDList", {4, 0x4D2, 1, 1}, KX9_ERR_DB},    // passed up from the collection list
      {"Workspace.GetObjectName", {-1, 0x4D2, 1, 1}, KX9_ERR_DB},    // a collection's name, filling pass
      {"Workspace.GetServiceObject", {-2, 77, 1, 1}, 77},            // the database's detail
      {"Workspace.GetServiceObject", {-2, 0, 1, 1}, KX9_OK},         // a detail of 0 reads as success
      {"Workspace.GetServiceObject", {2, 0, 1, 1}, KX9_OK},          // positive: not a failure
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.op) + " nth " + std::to_string(k.fault.nth));
    Project p;
    DataSet d = Sample();
    p.Fill(d);
    const long taskMem = PlatformLiveTaskMemCount();
    const long bstrs = PlatformLiveBstrCount();
    p.db.Faults().Set(k.op, k.fault);
    BYTE* data = nullptr;
    LONG size = -1;
    EXPECT_EQ(p.c->GetAllData(&data, &size, Settings(0)), k.expected);
    if (k.fault.status < 0 && std::string(k.op) == "Workspace.GetServiceObject") {
      EXPECT_EQ(data, nullptr);
      EXPECT_EQ(size, 0);
    }
    if (k.expected != KX9_OK) {
      EXPECT_EQ(data, nullptr);
    }
    delete[] data;
    EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
    EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
    EXPECT_EQ(p.db.OutstandingReferences(), 0);
  }
}

}  // namespace

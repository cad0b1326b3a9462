// Export: the envelope byte for byte, the gathering order, the block
// substitutes, the X-series size check and the failure codes.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/component/EnvelopeTestSupport.h"
#include "tests/support/AllocFailure.h"

namespace {

using namespace envelope_test;

TEST(ExportTest, EmptyProjectIsSubstituteBlockAndSettingsOnly) {
  Project p;
  p.db.SetServiceBlock(p.id, ServiceBlock(12, 0xAB));  // never consulted without labels
  const _STKX9AUTODEVSET settings = Settings(7);
  const long taskMem = PlatformLiveTaskMemCount();
  Bytes out;
  ASSERT_EQ(p.Export(out, settings), KX9_OK);
  Bytes expected = {0x04, 0x00, 0x00, 0x00};
  const Bytes s = SettingsBytes(settings);
  expected.insert(expected.end(), s.begin(), s.end());
  EXPECT_EQ(out, expected);
  EXPECT_EQ(p.db.Faults().Calls("Workspace.GetServiceObject"), 0);
  EXPECT_EQ(p.db.Faults().Calls("LabelService.GetBlock"), 0);
  EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
}

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

TEST(ExportTest, EnvelopeIsBlockSettingsImageAndATrailingZero) {
  Project p;
  DataSet d = Sample();
  p.Fill(d);
  const Bytes block = ServiceBlock(10, 0xC3);
  p.db.SetServiceBlock(p.id, block);
  const _STKX9AUTODEVSET settings = Settings(40);
  const long taskMem = PlatformLiveTaskMemCount();
  const long bstrs = PlatformLiveBstrCount();

  Bytes out;
  int extra = -1;
  ASSERT_EQ(p.Export(out, settings, &extra), KX9_OK);
  ASSERT_GT(out.size(), block.size() + 104);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), block);
  EXPECT_EQ(Bytes(out.begin() + 10, out.begin() + 114), SettingsBytes(settings));
  EXPECT_EQ(extra, 0);

  // The image behind the settings is exactly what the writer makes of the
  // gathered records: read it back and compare the data.
  const Bytes image(out.begin() + 114, out.end());
  const LONG count = A::ReadBinaryData(*p.c, image.data(), static_cast<LONG>(image.size()), nullptr);
  ASSERT_EQ(count, 3);
  DataSet back(count);
  ASSERT_EQ(A::ReadBinaryData(*p.c, image.data(), static_cast<LONG>(image.size()), back.data.get()), count);
  // SDTs first, then GVLs in creation order.
  EXPECT_EQ(back[0].dataType, KX9_DATATYPE_SDT);
  EXPECT_EQ(back[0].name, u"Point");
  EXPECT_EQ(back[1].name, u"Lamps");
  EXPECT_EQ(back[2].name, u"Global");
  ASSERT_EQ(back[2].elements.GetSize(), 3);
  const auto* always = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(back[2].elements[1]);
  EXPECT_EQ(always->systemLabel.ID, 501);
  EXPECT_EQ(always->systemLabel.status, 2);
  const auto* red = static_cast<_STKX9LABELSTRUCTUREGVLDATA*>(back[1].elements[0]);
  EXPECT_EQ(red->comments[0], u"red, \u00e9clair\r\nline 2");

  const std::string text = Text(out, 114);
  EXPECT_EQ(text.rfind("SDT,Point,2\n", 0), 0u) << text;
  EXPECT_NE(text.find("SYSLBL,"), std::string::npos);
  EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);
  EXPECT_EQ(p.db.OutstandingReferences(), 0);
}

TEST(ExportTest, MissingOrFailedServiceBlockBecomesTheSubstitute) {
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    Project p;
    DataSet d(1);
    d[0].dataType = KX9_DATATYPE_GVL;
    d[0].name = u"G";
    d[0].elements.Add(Variable(1, u"V", u"INT", u"D0"));
    p.Fill(d);
    if (variant == 1) {
      p.db.SetServiceBlock(p.id, ServiceBlock(8, 1));
      p.db.Faults().Set("LabelService.GetBlock", refdb::Fault{5, 0x4D2});  // positive status fails too
    } else if (variant == 2) {
      p.db.SetServiceBlock(p.id, ServiceBlock(8, 1));
      p.db.Faults().Set("LabelService.GetBlock", refdb::Fault{-3, 0x4D2});
    }
    const long taskMem = PlatformLiveTaskMemCount();
    Bytes out;
    int extra = -1;
    ASSERT_EQ(p.Export(out, Settings(3), &extra), KX9_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{4, 0, 0, 0}));
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 108), SettingsBytes(Settings(3)));
    EXPECT_EQ(Text(out, 108), "GVL,G,1\n1,V,INT,,0,0,,,1,0,0,,,,,,,,,,,,,,,,,,,,,,,,,,0\nD0,\n");
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(PlatformLiveTaskMemCount(), taskMem);
  }
}

TEST(ExportTest, XSeriesChecksTheReportedBlockSize) {
  struct Case {
    LONGLONG reported;
    ULONG expected;
  };
  for (const Case& k : {Case{0x80000000LL, KX9_OK}, Case{0x80000001LL, KX9_ERR_ALLOC}, Case{-5, KX9_OK}}) {
    SCOPED_TRACE(k.reported);
    Project p(C::KX9LabelCPUSeriesX);
    DataSet d(1);
    d[0].dataType = KX9_DATATYPE_SDT;
    d[0].name = u"S";
    d[0].elements.Add(Member(1, u"m", u"INT"));
    p.Fill(d);
    p.db.SetServiceBlock(p.id, ServiceBlock(6, 9));
    p.db.SetReportedBlockSize(p.id, k.reported);
    BYTE* data = nullptr;
    LONG size = -1;
    EXPECT_EQ(p.c->GetAllData(&data, &size, Settings(0)), k.expected);
    if (k.expected == KX9_OK) {
      ASSERT_NE(data, nullptr);
      EXPECT_EQ(Bytes(data, data + 6), ServiceBlock(6, 9));
      // UTF-16LE image text on the X series.
      EXPECT_EQ(Bytes(data + 110, data + 118), (Bytes{'S', 0, 'D', 0, 'T', 0, ',', 0}));
    } else {
      EXPECT_EQ(data, nullptr);
      EXPECT_EQ(size, 0);
      EXPECT_EQ(p.db.Faults().Calls("LabelService.GetBlock"), 0);
    }
    delete[] data;
  }
  Project failing(C::KX9LabelCPUSeriesX);
  DataSet d(1);
  d[0].dataType = KX9_DATATYPE_GVL;
  d[0].name = u"G";
  failing.Fill(d);
  failing.db.Faults().Set("LabelService.GetBlockSize", refdb::Fault{-1, 0x4D2});
  Bytes out;
  EXPECT_EQ(failing.Export(out, Settings(0)), KX9_ERR_ALLOC);
  EXPECT_TRUE(out.empty());
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

TEST(ExportTest, SubstituteAllocationFailureReportsOne) {
  Project empty;
  Bytes out;
  {
    AllocFailure fail(1, kAllocTaskMem);
    EXPECT_EQ(empty.Export(out, Settings(0)), KX9_ERR_ALLOC);
  }
  EXPECT_TRUE(out.empty());
}

TEST(ExportTest, GatheringAppendsAtTheRunningCount) {
  Project p;
  DataSet d = Sample();
  p.Fill(d);
  LONG count = 0;
  ASSERT_EQ(A::GetAllDataMain(*p.c, &count, nullptr), KX9_OK);
  EXPECT_EQ(count, 3);
  // GVLs gathered on their own after two slots already taken.
  DataSet records(4);
  LONG running = 2;
  ASSERT_EQ(A::GetAllDataType(*p.c, KX9_DATATYPE_GVL, &running, records.data.get()), KX9_OK);
  EXPECT_EQ(running, 4);
  EXPECT_EQ(records[0].dataType, 0);
  EXPECT_TRUE(records[1].name.IsEmpty());
  EXPECT_EQ(records[2].name, u"Lamps");
  EXPECT_EQ(records[2].dataType, KX9_DATATYPE_GVL);
  EXPECT_EQ(records[2].elements.GetSize(), 2);
  EXPECT_EQ(records[3].name, u"Global");
}

}  // namespace

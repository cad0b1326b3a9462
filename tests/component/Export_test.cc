// Export: the envelope byte for byte, the block substitutes, the X-series
// size check and the failure codes.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/LabelFixtures.h"

namespace {

using namespace label_test;

// What stands in front of the settings: the stored block, or the 4-byte
// substitute when there are no labels or the block cannot be read; on the X
// series the reported size is checked first. Behind the settings the image
// and a zero byte; a failure hands out nothing and leaks no task memory.
TEST(ExportTest, TheServiceBlockOrItsSubstitute) {
  const Bytes substitute = {4, 0, 0, 0}, stored = ServiceBlock(8, 1);
  // What, series, whether there are labels, a failing call of the label
  // service (or null) and its status, the block size the X series' service
  // reports (unless 0), result, block in front. (No memory for the
  // substitute: see the allocation loop.)
  const std::tuple<const char*, Series, bool, const char*, HRESULT, LONGLONG, ULONG, Bytes> rows[] = {
      {"no labels: the block is not consulted", kStandard, false, nullptr, 0, 0, KX9_OK, substitute},
      {"the stored block", kStandard, true, nullptr, 0, 0, KX9_OK, stored},
      {"block read fails, positive status", kStandard, true, "LabelService.GetBlock", 5, 0, KX9_OK, substitute},
      {"block read fails", kStandard, true, "LabelService.GetBlock", -3, 0, KX9_OK, substitute},
      {"x: the stored block", kX, true, nullptr, 0, 0, KX9_OK, stored},
      {"x: size at the limit", kX, true, nullptr, 0, 0x80000000LL, KX9_OK, stored},
      {"x: size over the limit", kX, true, nullptr, 0, 0x80000001LL, KX9_ERR_ALLOC, {}},
      {"x: a negative size", kX, true, nullptr, 0, -5, KX9_OK, stored},
      {"x: size read fails", kX, true, "LabelService.GetBlockSize", -1, 0, KX9_ERR_ALLOC, {}},
  };
  for (const auto& [what, series, labels, op, status, reported, expected, block] : rows) {
    SCOPED_TRACE(what);
    Project p(series);
    if (labels) p.Fill({{KX9_DATATYPE_GVL, u"G", {Variable(1, u"V", u"INT", {u"D0"})}}});
    p.db.SetServiceBlock(p.id, stored);
    if (op != nullptr) p.db.Faults().Set(op, refdb::Fault{status, 0x4D2});
    if (reported != 0) p.db.SetReportedBlockSize(p.id, reported);
    p.db.Faults().ResetCounts();
    int extra = -1;
    const Bytes out = p.Export(Settings(3), expected, labels ? &extra : nullptr);  // no zero byte without labels
    const std::string image = labels ? "GVL,G,1\n1,V,INT,,0,0,,,1,0,0,,,,,,,,,,,,,,,,,,,,,,,,,,0\nD0,\n" : "";
    EXPECT_EQ(out, expected == KX9_OK ? Envelope(block, Settings(3), image, series == kX) : Bytes{});
    EXPECT_EQ(extra, labels && expected == KX9_OK ? 0 : -1);
    EXPECT_TRUE(expected == KX9_OK || p.db.Faults().Calls("LabelService.GetBlock") == 0);
    EXPECT_TRUE(labels || p.db.Faults().Calls("Workspace.GetServiceObject") == 0);
  }
}

// A failing database call gives its code and hands out nothing (null, 0);
// a positive status or a detail of 0 from the service lookup is success.
TEST(ExportTest, DatabaseFailuresGiveTheirCodesAndLeaveNothingBehind) {
  const std::tuple<const char*, refdb::Fault, ULONG> cases[] = {
      {"Workspace.GetChildIDByType", {3, 0x4D2, 1, 1}, KX9_ERR_DB},  // the SDT parent, counting pass
      {"Workspace.GetChildIDByType", {3, 0x4D2, 2, 1}, KX9_ERR_DB},  // the GVL parent, counting pass
      {"Workspace.GetChildIDList", {4, 0x4D2, 1, 1}, KX9_ERR_DB},    // passed up from the collection list
      {"Workspace.GetObjectName", {-1, 0x4D2, 1, 1}, KX9_ERR_DB},    // a collection's name, filling pass
      {"Workspace.GetServiceObject", {-2, 77, 1, 1}, 77},            // the database's detail
      {"Workspace.GetServiceObject", {-2, 0, 1, 1}, KX9_OK},         // a detail of 0 reads as success
      {"Workspace.GetServiceObject", {2, 0, 1, 1}, KX9_OK},          // positive: not a failure
  };
  for (const auto& [op, fault, expected] : cases) {
    SCOPED_TRACE(std::string(op) + " nth " + std::to_string(fault.nth));
    Filled p;
    p.db.Faults().Set(op, fault);
    EXPECT_EQ(p.Export(Settings(0), expected).empty(), fault.status < 0 || expected != KX9_OK);
  }
}

}  // namespace

// Label-to-device conversion: what the component makes of each answer of the
// label service, and that every text of a request is freed.
#include <gtest/gtest.h>

#include "component/KX9ComFuncLabelStructure.h"
#include "refdb/RefDatabase.h"

namespace {
struct ConvTag;
}

template <>
struct KX9TestAccess<ConvTag> {
  static ULONG Convert(CKX9ComFuncLabelStructure& o, CString label, CString& device) {
    return o._convertLabelToKORVEXDevice(label, device);
  }
};

namespace {
using A = KX9TestAccess<ConvTag>;
using C = CKX9ComFuncLabelStructure;

TEST(DeviceConversion, ConvertsOrEmptiesTheDeviceAndFreesEveryText) {
  refdb::RefDatabase db;
  const STOBJECTID project = db.NewProject(u"P");
  C labels(db.Workspace());
  labels.Initialize(project);
  const long bstrs = PlatformLiveBstrCount();

  CString device(u"stale");
  ASSERT_EQ(A::Convert(labels, u"Lbl[0,0].M", device), KX9_OK);
  const auto converted = db.ConvertedLabels(project);
  ASSERT_EQ(converted.size(), 1u);
  EXPECT_EQ(converted[0].first, u"Lbl[0,0].M");
  EXPECT_FALSE(device.IsEmpty());
  EXPECT_EQ(device.Str(), converted[0].second);

  const struct {
    const char* op;
    HRESULT status;
    LONG detail;
    ULONG expected;
  } cases[] = {
      {"DeviceConversion.ConvertLabels", -1, 0, KX9_OK},  // no detail reported: 0, no device
      {"DeviceConversion.ConvertLabels", -1, 0x44, 0x44},
      {"DeviceConversion.ConvertLabels", 1, 0x45, 0x45},  // any non-zero status fails
      {"Workspace.GetServiceObject", -1, 0x33, 0x33},
      {"Workspace.GetServiceObject", 1, 0, KX9_ERR_DB},  // success without a service object
  };
  for (const auto& c : cases) {
    db.Faults().Set(c.op, refdb::Fault{c.status, c.detail, 1, 1});
    device = u"stale";
    EXPECT_EQ(A::Convert(labels, u"X", device), c.expected) << c.op;
    EXPECT_TRUE(device.IsEmpty()) << c.op;
  }
  db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
  device = u"stale";
  EXPECT_EQ(A::Convert(labels, u"X", device), KX9_ERR_DB);
  EXPECT_TRUE(device.IsEmpty());

  EXPECT_EQ(PlatformLiveBstrCount(), bstrs);  // the label copies and both answers were freed
  EXPECT_EQ(db.OutstandingReferences(), 0);
}

}  // namespace

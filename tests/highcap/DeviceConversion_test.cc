// Label-to-device conversion: what the component makes of each answer of the
// label service, and that every text of a request is freed.
#include <gtest/gtest.h>

#include <string>

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

// A label service whose conversion answers with only the extra text, the way
// a service without a device for a name may answer.
class ExtraOnlyService final : public IVNDataABS_LabelService, public IVNDataABS_DeviceConversion {
 public:
  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (iid == IVNDataABS_DeviceConversion::iid) {
      *ppv = static_cast<IVNDataABS_DeviceConversion*>(this);
      ++refs;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
  HRESULT GetBlock(LONG*, BYTE**, LONG*) override { return E_FAIL; }
  HRESULT SetBlock(LONG, BYTE*, LONG*) override { return E_FAIL; }
  HRESULT GetBlockSize(LONGLONG*, LONG*) override { return E_FAIL; }
  HRESULT ConvertLabels(LONG count, stVNLabelConversion* requests, LONG*) override {
    EXPECT_EQ(count, 1);
    seenLabel = std::u16string(requests[0].labelText, SysStringLen(requests[0].labelText));
    EXPECT_EQ(requests[0].deviceText, nullptr);
    EXPECT_EQ(requests[0].extraText, nullptr);
    EXPECT_EQ(requests[0].reserved, 0);
    requests[0].extraText = SysAllocString(u"extra");
    return S_OK;
  }
  long refs = 0;
  std::u16string seenLabel;
};

// Passes every workspace call on to the reference database, but hands out
// `service` as the label service.
class ServiceSwapWorkspace final : public IVNDataABS_Workspace {
 public:
  ServiceSwapWorkspace(IVNDataABS_Workspace* inner, IVNDataABS_LabelService* service)
      : m_inner(inner), m_service(service) {}
  HRESULT QueryInterface(REFIID iid, void** ppv) override { return m_inner->QueryInterface(iid, ppv); }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetDataObject(STOBJECTID id, IUnknown** o, LONG* d) override { return m_inner->GetDataObject(id, o, d); }
  HRESULT DeleteDataObject(STOBJECTID id, LONG* d) override { return m_inner->DeleteDataObject(id, d); }
  HRESULT CreateDataObject(STOBJECTID p, BSTR n, LONG t, BYTE f, STOBJECTID* id, LONG* d) override {
    return m_inner->CreateDataObject(p, n, t, f, id, d);
  }
  HRESULT CreateElementObject(STOBJECTID p, STOBJECTID* id, LONG* d) override {
    return m_inner->CreateElementObject(p, id, d);
  }
  HRESULT GetChildIDList(STOBJECTID c, LONG* n, STOBJECTID* ids, LONG* d) override {
    return m_inner->GetChildIDList(c, n, ids, d);
  }
  HRESULT GetChildIDByType(STOBJECTID p, LONG t, STOBJECTID* c, LONG* d) override {
    return m_inner->GetChildIDByType(p, t, c, d);
  }
  HRESULT GetParentID(STOBJECTID id, STOBJECTID* p, LONG* d) override { return m_inner->GetParentID(id, p, d); }
  HRESULT GetObjectType(STOBJECTID id, LONG* t, LONG* d) override { return m_inner->GetObjectType(id, t, d); }
  HRESULT SetObjectName(STOBJECTID id, BSTR n, LONG* d) override { return m_inner->SetObjectName(id, n, d); }
  HRESULT GetObjectName(STOBJECTID id, BSTR* n, LONG* d) override { return m_inner->GetObjectName(id, n, d); }
  HRESULT SetLastUpdateTime(STOBJECTID id, SYSTEMTIME t, LONG* d) override {
    return m_inner->SetLastUpdateTime(id, t, d);
  }
  HRESULT GetServiceObject(STOBJECTID, LONG code, IVNDataABS_LabelService** s, LONG*) override {
    EXPECT_EQ(code, 84);
    *s = m_service;
    return status;
  }
  HRESULT status = S_OK;

 private:
  IVNDataABS_Workspace* m_inner;
  IVNDataABS_LabelService* m_service;
};

struct ConvFixture : ::testing::Test {
  refdb::RefDatabase db;
  STOBJECTID project = db.NewProject(u"P");
  C labels{db.Workspace()};
  long bstrBase = 0;

  void SetUp() override {
    labels.Initialize(project);
    labels.SetCPUSeries(C::KX9LabelCPUSeriesX);
    bstrBase = PlatformLiveBstrCount();
  }
  void TearDown() override {
    EXPECT_EQ(PlatformLiveBstrCount(), bstrBase) << "a BSTR leaked";
    EXPECT_EQ(db.OutstandingReferences(), 0);
  }
};

TEST_F(ConvFixture, ConvertsAndEmptiesTheDeviceOnEveryOtherAnswer) {
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
    db.Faults().ResetCounts();
    db.Faults().Set(c.op, refdb::Fault{c.status, c.detail, 1, 1});
    device = u"stale";
    EXPECT_EQ(A::Convert(labels, u"X", device), c.expected) << c.op;
    EXPECT_TRUE(device.IsEmpty()) << c.op;
    db.Faults().ClearAll();
  }
  EXPECT_EQ(db.Faults().Calls("DeviceConversion.ConvertLabels"), 0);  // no service, no conversion

  db.WithholdServiceInterface(IVNDataABS_DeviceConversion::iid);
  device = u"stale";
  EXPECT_EQ(A::Convert(labels, u"X", device), KX9_ERR_DB);
  EXPECT_TRUE(device.IsEmpty());

  C noWorkspace(nullptr);
  device = u"stale";
  EXPECT_EQ(A::Convert(noWorkspace, u"X", device), KX9_ERR_NO_WORKSPACE);
  EXPECT_TRUE(device.IsEmpty());
}

TEST_F(ConvFixture, AnAnswerWithoutDeviceTextLeavesTheDeviceEmpty) {
  ExtraOnlyService service;
  ServiceSwapWorkspace workspace(db.Workspace(), &service);
  C swapped(&workspace);
  swapped.Initialize(project);
  CString device(u"stale");
  EXPECT_EQ(A::Convert(swapped, u"Name.Member", device), KX9_OK);
  EXPECT_TRUE(device.IsEmpty());
  EXPECT_EQ(service.seenLabel, u"Name.Member");
  EXPECT_EQ(service.refs, 0);  // the conversion interface was released
  // TearDown proves that the label copy and the extra text were freed.

  // A service that answers with information converts nothing.
  workspace.status = 1;
  service.seenLabel.clear();
  device = u"stale";
  EXPECT_EQ(A::Convert(swapped, u"Other", device), KX9_OK);
  EXPECT_TRUE(device.IsEmpty());
  EXPECT_TRUE(service.seenLabel.empty());
  EXPECT_EQ(service.refs, 0);
}

}  // namespace

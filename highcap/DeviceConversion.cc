// Label-to-device conversion: the project's label service turns a label's
// full name into the controller device name behind it.
#include "component/KX9ComFuncLabelStructure.h"

namespace {

// One conversion request whose texts are freed on every path: the label
// text is ours, the answers pass to us with the reply.
class ConversionRequest {
 public:
  explicit ConversionRequest(const CString& strLabel) {
    m_st.labelText = strLabel.AllocSysString();
    m_st.deviceText = nullptr;
    m_st.extraText = nullptr;
    m_st.reserved = 0;
  }
  ~ConversionRequest() {
    SysFreeString(m_st.labelText);
    SysFreeString(m_st.deviceText);
    SysFreeString(m_st.extraText);
  }
  ConversionRequest(const ConversionRequest&) = delete;
  ConversionRequest& operator=(const ConversionRequest&) = delete;
  stVNLabelConversion* Get() { return &m_st; }

 private:
  stVNLabelConversion m_st{};
};

}  // namespace

// strDevice is emptied first, so an earlier value never survives a failed or
// empty conversion. Failures report the database's own detail code, except a
// service without the conversion interface (2).
ULONG CKX9ComFuncLabelStructure::_convertLabelToKORVEXDevice(CString strLabel, CString& strDevice) {
  strDevice.Empty();

  LONG lDetail = 0;
  IVNDataABS_LabelService* pService = nullptr;  // borrowed from the workspace
  const HRESULT hrService = m_pWorkspace->GetServiceObject(m_stObjectID, VN_SERVICE_LABEL, &pService, &lDetail);
  if (hrService < 0) return static_cast<ULONG>(lDetail);

  ComPtr<IVNDataABS_DeviceConversion> pConversion;
  if (!QueryInterfaceTo(pService, pConversion)) return KX9_ERR_DB;
  // Success with information from the service means it has nothing to
  // convert with: no device.
  if (hrService > 0) return KX9_OK;

  ConversionRequest request(strLabel);
  lDetail = 0;
  if (pConversion->ConvertLabels(1, request.Get(), &lDetail) != S_OK) return static_cast<ULONG>(lDetail);
  const BSTR bstrDevice = request.Get()->deviceText;
  if (bstrDevice != nullptr) strDevice = CString(bstrDevice, static_cast<int>(SysStringLen(bstrDevice)));
  return KX9_OK;
}

#include "tests/TestDevices.h"

namespace testdevices {

std::unique_ptr<MaruvelHID::Device> MakeDevice(const Description& description) {
  HIDP_CAPS caps{};
  caps.UsagePage = description.usagePage;
  caps.Usage = description.usage;
  caps.InputReportByteLength = description.inputReportByteLength;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  attributes.VendorID = description.vendor;
  attributes.ProductID = description.product;
  attributes.VersionNumber = description.version;
  return std::make_unique<MaruvelHID::Device>(caps, attributes, description.name);
}

MaruvelHID::InputReport ReportOver(const Bytes& bytes) {
  return MaruvelHID::InputReport{bytes.data(), static_cast<DWORD>(bytes.size()), 0};
}

}  // namespace testdevices

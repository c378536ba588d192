#include "hid/Device.h"

#include <utility>

namespace MaruvelHID {

namespace {

WideString NameOrDefault(WideString name) {
  if (name.empty()) {
    return WIDE_TEXT("Unnamed Device");
  }
  return name;
}

}  // namespace

Device::Device(const HIDP_CAPS& deviceCaps, const HIDD_ATTRIBUTES& deviceAttributes,
               WideString productName)
    : caps(deviceCaps), attributes(deviceAttributes), name(NameOrDefault(std::move(productName))) {}

Device::~Device() = default;

}  // namespace MaruvelHID

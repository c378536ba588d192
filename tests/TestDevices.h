// Device descriptions and report feeding shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/Device.h"

namespace testdevices {

struct Description {
  std::uint16_t vendor;
  std::uint16_t product;
  std::uint16_t version;
  std::uint16_t usagePage;
  std::uint16_t usage;
  std::uint16_t inputReportByteLength;
  const WCHAR* name;
};

// A device known by its description only.
std::unique_ptr<MaruvelHID::Device> MakeDevice(const Description& description);

using Bytes = std::vector<BYTE>;

// A report over the caller's bytes, as a completed read delivers it.
MaruvelHID::InputReport ReportOver(const Bytes& bytes);

// Names a case of a table by its 'what' field.
template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& param) {
  return param.param.what;
}

}  // namespace testdevices

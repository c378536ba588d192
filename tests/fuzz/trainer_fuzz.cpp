// Feeds a DeviceTrainer arbitrary report sequences, as a device might send.
// Input: one byte of report length for the device, then reports, each one
// byte of length followed by that many bytes (cut short at the end).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "hid/Device.h"
#include "trainer/DeviceTrainer.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The button lines are of no interest here.
  (void)std::freopen("/dev/null", "w", stdout);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  HIDP_CAPS caps{};
  caps.InputReportByteLength = data[0];
  HIDD_ATTRIBUTES attributes{};
  MaruvelHID::Device device(caps, attributes, WIDE_TEXT("Fuzzed"));
  {
    DeviceTrainer trainer(&device);
    std::size_t at = 1;
    while (at < size) {
      std::size_t length = data[at++];
      if (length > size - at) {
        length = size - at;
      }
      // A buffer of exactly the report's size, so that any read past it is
      // caught.
      std::vector<BYTE> bytes(data + at, data + at + length);
      at += length;
      const MaruvelHID::InputReport report{bytes.data(), static_cast<DWORD>(length), 0};
      trainer.OnReport(&report);
    }
  }
  return 0;
}

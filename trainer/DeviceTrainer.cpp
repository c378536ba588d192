#include "trainer/DeviceTrainer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "trainer/ConsoleOutput.h"

namespace {

int PopulationCount(BYTE bits) {
  int count = 0;
  for (; bits != 0; bits = static_cast<BYTE>(bits & (bits - 1))) {
    ++count;
  }
  return count;
}

}  // namespace

DeviceTrainer::DeviceTrainer(MaruvelHID::Device* watched)
    : length(watched->caps.InputReportByteLength),
      device(watched),
      previous(static_cast<BYTE*>(std::malloc(length))) {}

DeviceTrainer::~DeviceTrainer() {
  WriteMessage("~DeviceTrainer()\n");
  std::free(previous);
}

void DeviceTrainer::OnReport(const MaruvelHID::InputReport* report) {
  if (report->length != length) {
    WriteMessage("%s: %d bytes read != %d\n", ConsoleText(device->name).c_str(),
                 static_cast<int>(report->length), static_cast<int>(length));
    return;
  }

  // The bits this report changed, by byte.
  BYTE* changed = static_cast<BYTE*>(std::calloc(length, 1));
  if (changed == nullptr) {
    const int error = errno;
    WriteMessage("!current_changed - length=%d errno=%d\n", static_cast<int>(length), error);
    return;
  }

  std::uint32_t changedBytes = 0;
  std::uint32_t lastChanged = 0;
  if (hasPrevious) {
    for (std::uint32_t i = 0; i < length; ++i) {
      const BYTE bits = static_cast<BYTE>(previous[i] ^ report->data[i]);
      if (bits != 0) {
        ++changedBytes;
        changed[i] = bits;
        lastChanged = i;
      }
    }
  }
  if (changedBytes == 1 && PopulationCount(changed[lastChanged]) == 1) {
    RecordButton(static_cast<std::uint32_t>(SingleBitIndex(changed[lastChanged])) +
                 lastChanged * 8);
  }
  std::free(changed);

  // Without its buffer the trainer can only go on reporting nothing; an
  // empty report (data may then be null) has nothing to keep.
  if (previous != nullptr && length != 0) {
    std::memcpy(previous, report->data, length);
    hasPrevious = true;
  }
}

void DeviceTrainer::RecordButton(std::uint32_t position) {
  if (!buttons.insert(position).second) {
    return;
  }
  const HIDD_ATTRIBUTES& id = device->attributes;
  const HIDP_CAPS& caps = device->caps;
  WriteMessage("%04X-%04X v%X (%u,%u,%u)(%s): Button %d at bit %d\n",
               static_cast<unsigned>(id.VendorID), static_cast<unsigned>(id.ProductID),
               static_cast<unsigned>(id.VersionNumber), static_cast<unsigned>(caps.UsagePage),
               static_cast<unsigned>(caps.Usage), static_cast<unsigned>(caps.InputReportByteLength),
               ConsoleText(device->name).c_str(), static_cast<int>(buttons.size()),
               static_cast<int>(position));
}

int DeviceTrainer::SingleBitIndex(BYTE bits) {
  switch (bits) {
    case 0x01: return 0;
    case 0x02: return 1;
    case 0x04: return 2;
    case 0x08: return 3;
    case 0x10: return 4;
    case 0x20: return 5;
    case 0x40: return 6;
    default: return 7;  // 0x80
  }
}

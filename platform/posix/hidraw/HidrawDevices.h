// The machine's own HID devices, through Linux's hidraw nodes.
//
// Windows presents one HID interface per top-level collection of a device,
// each with its own capabilities and reports; so does this source. A node's
// first collection has the path "<dev>/hidrawN#<HID device>", each further
// one the same with "&colNN" (NN from 02) after it, where <HID device> is the
// kernel's name for the device ("0003:045E:028E.0001"), unique for as long as
// the system runs: a node number the kernel gives to another device later
// never reaches the old device's interfaces.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/DeviceSource.h"
#include "platform/posix/hidraw/ReportDescriptor.h"

namespace standin {

class HidrawDevices final : public DeviceSource {
 public:
  // Over the sysfs mounted at 'sysfs' and the nodes in 'devices': the
  // system's are HidrawDevices("/sys", "/dev"); tests give a tree of their
  // own.
  HidrawDevices(std::string sysfs, std::string devices);

  // Every top-level collection of every node under <sys>/class/hidraw, the
  // nodes in the order of their numbers. A node whose descriptor cannot be
  // read or parsed still has its first path, which opens but cannot be
  // described. Reads sysfs only: no node is opened.
  std::vector<Path> PresentPaths() override;
  // Opens the node of one of those paths for reading and writing,
  // non-blocking and close-on-exec. Fails with ERROR_FILE_NOT_FOUND for a
  // path this source does not present (now), ERROR_ACCESS_DENIED when the
  // node's permissions refuse it, ERROR_SHARING_VIOLATION when it is busy.
  std::unique_ptr<OpenInterface> Open(const Path& path, DWORD& error) override;

 private:
  std::string sysRoot;
  std::string devRoot;
};

// Frames one report read from a hidraw node as Windows delivers it into
// 'out': byte 0 is the report ID (0 put in front for a device without report
// IDs, whose node gives the report without one), then the report's data,
// zero-padded or cut to the collection's InputReportByteLength, and all that
// cut to 'outSize'. Returns the bytes written. 'raw' holds 'rawSize' bytes,
// at least 1 when the device uses report IDs.
DWORD FrameInputReport(bool usesReportIds, USHORT inputReportByteLength, const BYTE* raw,
                       size_t rawSize, BYTE* out, DWORD outSize);

}  // namespace standin

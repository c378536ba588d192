// What the stand-in's hid.dll needs to know of a HID report descriptor: its
// top-level collections, each of which Windows presents as an interface of
// its own with its own capabilities, and which input reports each owns.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/WinApi.h"

namespace standin {

// One top-level collection of a report descriptor.
struct TopCollection {
  USHORT usagePage = 0;
  USHORT usage = 0;
  // The IDs of the input reports this collection owns, ascending; {0} for a
  // device without report IDs whose input report is declared here; empty
  // when it declares no input report.
  std::vector<BYTE> inputReportIds;
  // As HidP_GetCaps gives them: 1 (the report-ID byte, counted by Windows
  // also for a device without report IDs) + the largest report of that kind
  // in this collection, in whole bytes; 0 when it has none of that kind.
  USHORT inputReportByteLength = 0;
  USHORT outputReportByteLength = 0;
  USHORT featureReportByteLength = 0;
};

struct ReportDescriptor {
  bool usesReportIds = false;
  // In the order the descriptor declares them.
  std::vector<TopCollection> collections;

  // The index in 'collections' of the collection that owns input report
  // 'reportId' (0 for a device without report IDs); -1 when none does.
  [[nodiscard]] int InputCollectionOf(BYTE reportId) const;
};

// Parses the 'size' bytes at 'data' (which may be null when size is 0).
// Returns true with 'out' filled in, or false, leaving 'out' empty, when the
// bytes do not describe a device Windows could present: no top-level
// collection, a report ID of 0, or a report too long for the 16-bit lengths.
// Never reads outside the bytes given, whatever they hold.
bool ParseReportDescriptor(const BYTE* data, size_t size, ReportDescriptor& out);

}  // namespace standin

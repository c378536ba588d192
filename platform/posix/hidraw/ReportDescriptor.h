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

// Why a parse failed, for the device source's messages and the tests.
enum class DescriptorStatus {
  kOk,
  // No top-level collection.
  kNoCollection,
  // A Report ID of 0 or above 255, or a main item of a report-ID device
  // declared before any Report ID (so under ID 0).
  kBadReportId,
  // A report longer than the 16-bit byte lengths can hold.
  kReportTooLong,
  // More nested Push items than the global-state stack holds.
  kPushTooDeep,
  // A Pop with no Push before it.
  kPopWithoutPush,
};

// As ParseReportDescriptor, saying why it failed. 'out' is filled in only
// when the result is kOk, and left empty otherwise.
DescriptorStatus ParseReportDescriptorStatus(const BYTE* data, size_t size, ReportDescriptor& out);

// A short English name of 'status', e.g. "report too long".
const char* DescriptorStatusName(DescriptorStatus status);

}  // namespace standin

// Feeds the hidraw source's report-descriptor parser arbitrary bytes, as a
// device might describe itself, and checks what any result must satisfy.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/posix/hidraw/ReportDescriptor.h"

namespace {

void Check(bool holds, const char* what) {
  if (!holds) {
    (void)std::fprintf(stderr, "descriptor_fuzz: %s\n", what);
    std::abort();
  }
}

bool LengthPlausible(USHORT length) { return length == 0 || length >= 2; }

void CheckParsed(const standin::ReportDescriptor& parsed) {
  Check(!parsed.collections.empty(), "a parse succeeded without a collection");
  std::vector<int> owners(256, -1);
  for (std::size_t i = 0; i < parsed.collections.size(); ++i) {
    const standin::TopCollection& collection = parsed.collections[i];
    Check(LengthPlausible(collection.inputReportByteLength), "input length of 1");
    Check(LengthPlausible(collection.outputReportByteLength), "output length of 1");
    Check(LengthPlausible(collection.featureReportByteLength), "feature length of 1");
    Check(collection.inputReportIds.empty() == (collection.inputReportByteLength == 0),
          "input IDs without an input length, or the other way round");
    for (std::size_t k = 0; k < collection.inputReportIds.size(); ++k) {
      const BYTE id = collection.inputReportIds[k];
      Check(k == 0 || collection.inputReportIds[k - 1] < id, "input IDs not ascending");
      Check(parsed.usesReportIds ? id != 0 : id == 0, "input ID against usesReportIds");
      Check(owners[id] < 0, "an input ID owned by two collections");
      owners[id] = static_cast<int>(i);
    }
  }
  for (int id = 0; id < 256; ++id) {
    Check(parsed.InputCollectionOf(static_cast<BYTE>(id)) == owners[static_cast<std::size_t>(id)],
          "InputCollectionOf disagrees with the owned IDs");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A buffer of exactly the input's size, so that any read past it is caught.
  const std::vector<BYTE> bytes(data, data + size);
  standin::ReportDescriptor parsed;
  // Filled in, so that a failure has something to clear.
  parsed.usesReportIds = true;
  parsed.collections.resize(1);
  const standin::DescriptorStatus status =
      standin::ParseReportDescriptorStatus(bytes.data(), bytes.size(), parsed);
  Check(standin::DescriptorStatusName(status) != nullptr, "a status without a name");
  if (status == standin::DescriptorStatus::kOk) {
    CheckParsed(parsed);
  } else {
    Check(parsed.collections.empty() && !parsed.usesReportIds, "a failed parse left a result");
  }

  // The plain entry point gives the same answer.
  standin::ReportDescriptor again;
  const bool parsedAgain = standin::ParseReportDescriptor(bytes.data(), bytes.size(), again);
  Check(parsedAgain == (status == standin::DescriptorStatus::kOk), "the two entry points disagree");
  Check(again.collections.size() == parsed.collections.size(), "a second parse differs");
  return 0;
}

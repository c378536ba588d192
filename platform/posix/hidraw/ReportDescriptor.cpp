// The report-descriptor parser of the hidraw source: walks the items once,
// keeping the global state (with its Push/Pop stack), the last Usage of the
// local state and the collection depth, and adds up each report's bits.
#include "platform/posix/hidraw/ReportDescriptor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace standin {

namespace {

// Item types, from bits 2-3 of a short item's prefix.
constexpr unsigned kTypeMain = 0;
constexpr unsigned kTypeGlobal = 1;
constexpr unsigned kTypeLocal = 2;

// Main item tags.
constexpr unsigned kMainInput = 0x8;
constexpr unsigned kMainOutput = 0x9;
constexpr unsigned kMainCollection = 0xA;
constexpr unsigned kMainFeature = 0xB;
constexpr unsigned kMainEndCollection = 0xC;

// Global item tags.
constexpr unsigned kGlobalUsagePage = 0x0;
constexpr unsigned kGlobalReportSize = 0x7;
constexpr unsigned kGlobalReportId = 0x8;
constexpr unsigned kGlobalReportCount = 0x9;
constexpr unsigned kGlobalPush = 0xA;
constexpr unsigned kGlobalPop = 0xB;

// Local item tags.
constexpr unsigned kLocalUsage = 0x0;

// A long item's prefix; its data size and tag follow in the next two bytes.
constexpr BYTE kLongItemPrefix = 0xFE;

// Deeper nesting of Push than any real descriptor needs; the bound keeps a
// hostile descriptor from growing the stack without end.
constexpr std::size_t kGlobalStackDepth = 32;

// The largest report whose length, 1 + its bytes, still fits in a USHORT.
constexpr std::uint64_t kMaxReportBits = (std::numeric_limits<USHORT>::max() - 1ULL) * 8ULL;

enum ReportKind { kInput, kOutput, kFeature, kReportKinds };
constexpr std::size_t kReportIds = 256;

// The global items the results depend on; Logical/Physical ranges and units
// do not change any length.
struct GlobalState {
  std::uint32_t usagePage = 0;
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint32_t reportId = 0;
};

struct Report {
  std::uint64_t bits = 0;  // saturates at the type's maximum
  int owner = -1;          // index of the owning top-level collection
};

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

USHORT ByteLength(std::uint64_t bits) {
  // Callers have checked bits <= kMaxReportBits, so this fits.
  return static_cast<USHORT>(1 + bits / 8 + (bits % 8 != 0 ? 1 : 0));
}

class Parser {
 public:
  DescriptorStatus Run(const BYTE* data, std::size_t size, ReportDescriptor& out) {
    std::size_t at = 0;
    while (at < size) {
      const BYTE prefix = data[at];
      if (prefix == kLongItemPrefix) {
        // No long item tags are defined; skip the data. A long item cut off
        // by the end of the bytes ends the descriptor, as a cut short item.
        if (size - at < 3 || size - at - 3 < data[at + 1]) {
          break;
        }
        at += 3 + static_cast<std::size_t>(data[at + 1]);
        continue;
      }
      const std::size_t dataSize = (prefix & 3U) == 3U ? 4 : (prefix & 3U);
      if (size - at - 1 < dataSize) {
        // A truncated last item: the items before it stand, as a device
        // whose descriptor was cut short still declared them.
        break;
      }
      std::uint32_t value = 0;
      for (std::size_t i = 0; i < dataSize; ++i) {
        value |= static_cast<std::uint32_t>(data[at + 1 + i]) << (8 * i);
      }
      at += 1 + dataSize;
      const unsigned type = (prefix >> 2) & 3U;
      const unsigned tag = prefix >> 4;
      DescriptorStatus status = DescriptorStatus::kOk;
      if (type == kTypeMain) {
        Main(tag);
      } else if (type == kTypeGlobal) {
        status = Global(tag, value);
      } else if (type == kTypeLocal) {
        Local(tag, value, dataSize);
      }
      // Type 3 is reserved: such items are skipped.
      if (status != DescriptorStatus::kOk) {
        return status;
      }
    }
    // Collections still open at the end are taken as closed there: what they
    // declared stands.
    return Finish(out);
  }

 private:
  void Main(unsigned tag) {
    switch (tag) {
      case kMainCollection:
        if (depth_ == 0) {
          TopCollection collection;
          // A 4-byte Usage names its own page; a shorter one takes the Usage
          // Page in effect here, at the main item.
          collection.usagePage =
              static_cast<USHORT>(usageHasPage_ ? usage_ >> 16 : global_.usagePage);
          collection.usage = static_cast<USHORT>(usage_);
          collections_.push_back(collection);
        }
        ++depth_;
        break;
      case kMainEndCollection:
        // An End Collection with no collection open is ignored.
        if (depth_ > 0) {
          --depth_;
        }
        break;
      case kMainInput: AddField(kInput); break;
      case kMainOutput: AddField(kOutput); break;
      case kMainFeature: AddField(kFeature); break;
      default:
        // Unknown main items (real devices end with zero bytes, which read as
        // main item 0) are skipped.
        break;
    }
    // Every main item ends the local state.
    usage_ = 0;
    usageHasPage_ = false;
  }

  void AddField(ReportKind kind) {
    // Data items outside any collection belong to no interface: ignored.
    if (depth_ == 0) {
      return;
    }
    // 32 x 32 bits cannot overflow 64.
    const std::uint64_t bits = static_cast<std::uint64_t>(global_.reportSize) *
                               static_cast<std::uint64_t>(global_.reportCount);
    // A field of no bits declares no report, so no length is ever 1.
    if (bits == 0) {
      return;
    }
    Report& report = reports_[kind][global_.reportId];
    // A report ID declared in two top-level collections belongs to the first;
    // the later fields still add to its length, as they share its reports.
    if (report.owner < 0) {
      report.owner = static_cast<int>(collections_.size()) - 1;
    }
    report.bits = SaturatingAdd(report.bits, bits);
  }

  DescriptorStatus Global(unsigned tag, std::uint32_t value) {
    switch (tag) {
      case kGlobalUsagePage: global_.usagePage = value & 0xFFFFU; break;
      case kGlobalReportSize: global_.reportSize = value; break;
      case kGlobalReportCount: global_.reportCount = value; break;
      case kGlobalReportId:
        if (value == 0 || value >= kReportIds) {
          return DescriptorStatus::kBadReportId;
        }
        global_.reportId = value;
        usesReportIds_ = true;
        break;
      case kGlobalPush:
        // Deeper than the stack holds: fail rather than pop a state later
        // that was never kept.
        if (stackDepth_ == stack_.size()) {
          return DescriptorStatus::kPushTooDeep;
        }
        stack_[stackDepth_++] = global_;
        break;
      case kGlobalPop:
        // A Pop with nothing pushed leaves no state to restore: the items
        // after it would be read against a state their author did not mean.
        if (stackDepth_ == 0) {
          return DescriptorStatus::kPopWithoutPush;
        }
        global_ = stack_[--stackDepth_];
        break;
      default: break;
    }
    return DescriptorStatus::kOk;
  }

  void Local(unsigned tag, std::uint32_t value, std::size_t dataSize) {
    // Only the last Usage before a Collection names it; the other local items
    // (usage ranges, designators, strings, delimiters) change no result.
    if (tag == kLocalUsage) {
      usage_ = value;
      usageHasPage_ = dataSize == 4;
    }
  }

  DescriptorStatus Finish(ReportDescriptor& out) {
    if (collections_.empty()) {
      return DescriptorStatus::kNoCollection;
    }
    for (std::size_t kind = 0; kind < kReportKinds; ++kind) {
      for (std::size_t id = 0; id < kReportIds; ++id) {
        const Report& report = reports_[kind][id];
        if (report.owner < 0) {
          continue;
        }
        // A device with report IDs sends each report after its ID byte; one
        // declared before any Report ID would have to go as ID 0.
        if (usesReportIds_ && id == 0) {
          return DescriptorStatus::kBadReportId;
        }
        if (report.bits > kMaxReportBits) {
          return DescriptorStatus::kReportTooLong;
        }
        TopCollection& owner = collections_[static_cast<std::size_t>(report.owner)];
        USHORT* length = kind == kInput    ? &owner.inputReportByteLength
                         : kind == kOutput ? &owner.outputReportByteLength
                                           : &owner.featureReportByteLength;
        *length = std::max(*length, ByteLength(report.bits));
        if (kind == kInput) {
          // Ascending, as the IDs are visited in order.
          owner.inputReportIds.push_back(static_cast<BYTE>(id));
        }
      }
    }
    out.usesReportIds = usesReportIds_;
    out.collections = std::move(collections_);
    return DescriptorStatus::kOk;
  }

  GlobalState global_;
  std::array<GlobalState, kGlobalStackDepth> stack_{};
  std::size_t stackDepth_ = 0;
  std::uint32_t usage_ = 0;
  bool usageHasPage_ = false;
  std::size_t depth_ = 0;
  bool usesReportIds_ = false;
  std::vector<TopCollection> collections_;
  std::array<std::array<Report, kReportIds>, kReportKinds> reports_{};
};

}  // namespace

int ReportDescriptor::InputCollectionOf(BYTE reportId) const {
  for (std::size_t i = 0; i < collections.size(); ++i) {
    const std::vector<BYTE>& ids = collections[i].inputReportIds;
    if (std::binary_search(ids.begin(), ids.end(), reportId)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

DescriptorStatus ParseReportDescriptorStatus(const BYTE* data, size_t size, ReportDescriptor& out) {
  out = ReportDescriptor{};
  if (data == nullptr) {
    size = 0;
  }
  // On the heap: the per-report table is some kilobytes.
  auto parser = std::make_unique<Parser>();
  return parser->Run(data, size, out);
}

bool ParseReportDescriptor(const BYTE* data, size_t size, ReportDescriptor& out) {
  return ParseReportDescriptorStatus(data, size, out) == DescriptorStatus::kOk;
}

const char* DescriptorStatusName(DescriptorStatus status) {
  switch (status) {
    case DescriptorStatus::kOk: return "ok";
    case DescriptorStatus::kNoCollection: return "no top-level collection";
    case DescriptorStatus::kBadReportId: return "bad report ID";
    case DescriptorStatus::kReportTooLong: return "report too long";
    case DescriptorStatus::kPushTooDeep: return "push too deep";
    case DescriptorStatus::kPopWithoutPush: return "pop without push";
  }
  return "unknown status";
}

}  // namespace standin

// The machine's HID devices through hidraw: interfaces listed from sysfs,
// reports read from the nodes.
#include "platform/posix/hidraw/HidrawDevices.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/posix/TextConversion.h"

namespace standin {

namespace {

namespace fs = std::filesystem;

constexpr unsigned kBusUsb = 0x03;
// The kernel's largest HID report (HID_MAX_BUFFER_SIZE); a node never gives more.
constexpr size_t kLargestReport = 16384;
// The kernel's largest report descriptor is 4096 bytes; more is not a descriptor.
constexpr size_t kLargestDescriptor = 65536;
// Reports of other collections taken in one go before the wait looks again.
constexpr int kForeignReportsPerTake = 64;

// The whole of a small file, or nothing when it cannot be read.
std::optional<std::string> ReadSmallFile(const fs::path& file, size_t limit) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string bytes;
  bytes.resize(limit + 1);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    return std::nullopt;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.size() > limit) {
    return std::nullopt;
  }
  return bytes;
}

// A sysfs attribute's text without its closing newline.
std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::optional<std::string> text = ReadSmallFile(file, 4096);
  if (text && !text->empty() && text->back() == '\n') {
    text->pop_back();
  }
  return text;
}

// What the kernel says of a node's HID device: its uevent's fields.
struct HidIdentity {
  unsigned bus = 0;
  unsigned vendor = 0;
  unsigned product = 0;
  std::string name;
};

std::optional<HidIdentity> ReadIdentity(const fs::path& hidDevice) {
  const std::optional<std::string> uevent = ReadSmallFile(hidDevice / "uevent", 65536);
  if (!uevent) {
    return std::nullopt;
  }
  HidIdentity identity;
  bool haveId = false;
  std::istringstream lines(*uevent);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("HID_ID=", 0) == 0) {
      // "HID_ID=0003:0000045E:0000028E": bus, vendor, product in hex.
      haveId = std::sscanf(line.c_str() + 7, "%x:%x:%x", &identity.bus, &identity.vendor,
                           &identity.product) == 3;
    } else if (line.rfind("HID_NAME=", 0) == 0) {
      identity.name = line.substr(9);
    }
  }
  if (!haveId) {
    return std::nullopt;
  }
  return identity;
}

// Where a node's HID device is in sysfs, resolved, or nothing once the node
// is gone.
std::optional<fs::path> HidDeviceOfNode(const std::string& sysRoot, const std::string& node) {
  std::error_code error;
  fs::path device = fs::canonical(fs::path(sysRoot) / "class" / "hidraw" / node / "device", error);
  if (error) {
    return std::nullopt;
  }
  return device;
}

std::optional<ReportDescriptor> ReadDescriptor(const fs::path& hidDevice) {
  const std::optional<std::string> bytes =
      ReadSmallFile(hidDevice / "report_descriptor", kLargestDescriptor);
  if (!bytes) {
    return std::nullopt;
  }
  ReportDescriptor descriptor;
  if (!ParseReportDescriptor(reinterpret_cast<const BYTE*>(bytes->data()), bytes->size(),
                             descriptor)) {
    return std::nullopt;
  }
  return descriptor;
}

// The interfaces of a node: one per top-level collection, and one that cannot
// be described for a node whose descriptor could not be read or parsed.
size_t InterfaceCount(const std::optional<ReportDescriptor>& descriptor) {
  return descriptor ? descriptor->collections.size() : 1;
}

// "hidraw12" -> 12; nothing for a name that is not a node's.
std::optional<unsigned long> NodeNumber(std::string_view name) {
  constexpr std::string_view kPrefix = "hidraw";
  if (name.size() <= kPrefix.size() || name.size() > kPrefix.size() + 9 ||
      name.substr(0, kPrefix.size()) != kPrefix) {
    return std::nullopt;
  }
  unsigned long number = 0;
  for (const char c : name.substr(kPrefix.size())) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  return number;
}

std::string CollectionSuffix(size_t collection) {
  if (collection == 0) {
    return {};
  }
  char suffix[32];  // room for any size_t
  (void)std::snprintf(suffix, sizeof suffix, "&col%02zu", collection + 1);
  return suffix;
}

// What a path of this source names.
struct InterfaceName {
  std::string node;       // "hidraw3"
  std::string hidDevice;  // "0003:045E:028E.0001"
  size_t collection = 0;  // from 0
};

std::optional<InterfaceName> ParsePath(const std::string& devRoot, const Path& wide) {
  std::string path;
  for (const WCHAR unit : wide) {
    if (unit == 0 || unit >= 0x80) {
      return std::nullopt;  // every path this source makes is ASCII
    }
    path += static_cast<char>(unit);
  }
  const std::string prefix = devRoot + "/";
  const size_t hash = path.find('#');
  if (path.rfind(prefix, 0) != 0 || hash == std::string::npos) {
    return std::nullopt;
  }
  InterfaceName name;
  name.node = path.substr(prefix.size(), hash - prefix.size());
  if (!NodeNumber(name.node)) {
    return std::nullopt;
  }
  std::string rest = path.substr(hash + 1);
  const size_t col = rest.find("&col");
  if (col != std::string::npos) {
    const std::string digits = rest.substr(col + 4);
    if (digits.size() < 2 || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    const auto number = static_cast<size_t>(std::strtoul(digits.c_str(), nullptr, 10));
    if (number < 2 || CollectionSuffix(number - 1) != rest.substr(col)) {
      return std::nullopt;  // "&col01" and unpadded numbers are never made
    }
    name.collection = number - 1;
    rest.resize(col);
  }
  if (rest.empty() || rest.find('/') != std::string::npos) {
    return std::nullopt;
  }
  name.hidDevice = rest;
  return name;
}

DWORD OpenError(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOENT:
    case ENODEV:
    case ENXIO: return ERROR_FILE_NOT_FOUND;
    default: return ERROR_GEN_FAILURE;
  }
}

// One top-level collection of an open node. The node's file is this
// interface's own: the kernel gives every open file of a node each report,
// and this one keeps those of its collection.
class HidrawInterface final : public OpenInterface {
 public:
  HidrawInterface(int openFile, HIDD_ATTRIBUTES nodeAttributes, Path productName,
                  std::optional<ReportDescriptor> nodeDescriptor, size_t collectionIndex)
      : file(openFile),
        attributes(nodeAttributes),
        product(std::move(productName)),
        descriptor(std::move(nodeDescriptor)),
        collection(collectionIndex),
        raw(kLargestReport) {}
  ~HidrawInterface() override { (void)close(file); }
  HidrawInterface(const HidrawInterface&) = delete;
  HidrawInterface& operator=(const HidrawInterface&) = delete;
  HidrawInterface(HidrawInterface&&) = delete;
  HidrawInterface& operator=(HidrawInterface&&) = delete;

  bool Attributes(HIDD_ATTRIBUTES& out) override {
    out = attributes;
    return true;
  }

  bool ProductString(Path& out) override {
    out = product;
    return true;
  }

  bool Capabilities(HIDP_CAPS& out) override {
    if (!descriptor) {
      return false;
    }
    const TopCollection& top = descriptor->collections[collection];
    out = HIDP_CAPS{};
    out.UsagePage = top.usagePage;
    out.Usage = top.usage;
    out.InputReportByteLength = top.inputReportByteLength;
    out.OutputReportByteLength = top.outputReportByteLength;
    out.FeatureReportByteLength = top.featureReportByteLength;
    return true;
  }

  bool StartRead(DWORD& error) override {
    if (gone) {
      error = ERROR_DEVICE_NOT_CONNECTED;
      return false;
    }
    return true;
  }

  int ReadyDescriptor() const override { return file; }

  // Called by the thread whose read is in flight; one read at a time.
  ReadResult TakeReport(BYTE* buffer, DWORD size) override {
    if (gone) {
      return {ReadResult::kGone};
    }
    for (int foreign = 0; foreign < kForeignReportsPerTake;) {
      const ssize_t got = read(file, raw.data(), raw.size());
      if (got < 0 && errno == EINTR) {
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return {ReadResult::kNotReady};
      }
      if (got <= 0) {
        // A node whose device went away fails its reads (EIO) and stays
        // readable; any other failure, or an end of file, is as final.
        gone = true;
        return {ReadResult::kGone};
      }
      const bool numbered = descriptor && descriptor->usesReportIds;
      const BYTE id = numbered ? raw[0] : 0;
      // Another collection's report, or one whose ID the descriptor does not
      // declare: not this interface's.
      if (!descriptor || descriptor->InputCollectionOf(id) != static_cast<int>(collection)) {
        ++foreign;
        continue;
      }
      const USHORT length = descriptor->collections[collection].inputReportByteLength;
      const DWORD bytes =
          FrameInputReport(numbered, length, raw.data(), static_cast<size_t>(got), buffer, size);
      return {ReadResult::kDone, bytes, ERROR_SUCCESS};
    }
    // Still readable: the wait comes back at once, having looked at its
    // other reads.
    return {ReadResult::kNotReady};
  }

 private:
  const int file;
  const HIDD_ATTRIBUTES attributes;
  const Path product;
  const std::optional<ReportDescriptor> descriptor;
  const size_t collection;
  std::vector<BYTE> raw;
  std::atomic<bool> gone{false};
};

}  // namespace

DWORD FrameInputReport(bool usesReportIds, USHORT inputReportByteLength, const BYTE* raw,
                       size_t rawSize, BYTE* out, DWORD outSize) {
  const DWORD bytes = std::min<DWORD>(inputReportByteLength, outSize);
  if (bytes == 0) {
    return 0;
  }
  // Linux gives a report without its ID byte when the device uses no IDs;
  // Windows always puts one in front.
  const BYTE* data = raw;
  size_t dataSize = rawSize;
  out[0] = 0;
  if (usesReportIds && rawSize > 0) {
    out[0] = raw[0];
    ++data;
    --dataSize;
  }
  const size_t copied = std::min<size_t>(dataSize, bytes - 1);
  if (copied > 0) {
    std::memcpy(out + 1, data, copied);
  }
  std::memset(out + 1 + copied, 0, bytes - 1 - copied);
  return bytes;
}

HidrawDevices::HidrawDevices(std::string sysfs, std::string devices)
    : sysRoot(std::move(sysfs)), devRoot(std::move(devices)) {}

std::vector<Path> HidrawDevices::PresentPaths() {
  std::vector<std::pair<unsigned long, std::string>> nodes;
  std::error_code error;
  for (fs::directory_iterator entry(fs::path(sysRoot) / "class" / "hidraw", error), end;
       !error && entry != end; entry.increment(error)) {
    std::string name = entry->path().filename().string();
    if (const std::optional<unsigned long> number = NodeNumber(name)) {
      nodes.emplace_back(*number, std::move(name));
    }
  }
  std::sort(nodes.begin(), nodes.end());

  std::vector<Path> paths;
  for (const auto& node : nodes) {
    const std::optional<fs::path> hidDevice = HidDeviceOfNode(sysRoot, node.second);
    if (!hidDevice) {
      continue;  // gone while listing
    }
    const std::string first = devRoot + "/" + node.second + "#" + hidDevice->filename().string();
    const std::optional<ReportDescriptor> descriptor = ReadDescriptor(*hidDevice);
    const size_t collections = InterfaceCount(descriptor);
    for (size_t collection = 0; collection < collections; ++collection) {
      const std::string path = first + CollectionSuffix(collection);
      paths.emplace_back(path.begin(), path.end());
    }
  }
  return paths;
}

std::unique_ptr<OpenInterface> HidrawDevices::Open(const Path& path, DWORD& error) {
  const std::optional<InterfaceName> name = ParsePath(devRoot, path);
  if (!name) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  const std::string node = devRoot + "/" + name->node;
  const int file = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) {
    error = OpenError(errno);
    return nullptr;
  }
  // Looked up after the open, so that the node opened is the one described.
  const std::optional<fs::path> hidDevice = HidDeviceOfNode(sysRoot, name->node);
  std::optional<HidIdentity> identity;
  if (hidDevice && hidDevice->filename() == name->hidDevice) {
    identity = ReadIdentity(*hidDevice);
  }
  if (!identity) {
    (void)close(file);
    error = ERROR_FILE_NOT_FOUND;  // the node now belongs to another device, or to none
    return nullptr;
  }
  std::optional<ReportDescriptor> descriptor = ReadDescriptor(*hidDevice);
  const size_t collections = InterfaceCount(descriptor);
  if (name->collection >= collections) {
    (void)close(file);
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }

  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  // The kernel keeps 32 bits for each; Windows' IDs are the 16 of USB.
  attributes.VendorID = static_cast<USHORT>(identity->vendor);
  attributes.ProductID = static_cast<USHORT>(identity->product);
  std::string productName = identity->name;
  // A HID device on USB sits under its USB interface, and that under the USB
  // device, whose descriptor's fields are its attributes. A virtual device
  // that only says it is on USB has no bcdDevice there.
  const fs::path usb = hidDevice->parent_path().parent_path();
  const std::optional<std::string> bcd =
      identity->bus == kBusUsb ? ReadAttribute(usb / "bcdDevice") : std::nullopt;
  if (bcd) {
    attributes.VersionNumber = static_cast<USHORT>(std::strtoul(bcd->c_str(), nullptr, 16));
    // Windows names a USB device by its product string alone; the kernel's
    // name puts the manufacturer's in front.
    if (const std::optional<std::string> usbProduct = ReadAttribute(usb / "product")) {
      productName = *usbProduct;
    }
  }
  return std::make_unique<HidrawInterface>(file, attributes, Utf16FromUtf8(productName),
                                           std::move(descriptor), name->collection);
}

}  // namespace standin

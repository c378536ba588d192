// Writes the real descriptors of tests/data/hid-descriptors.json as the seed
// corpus of descriptor_fuzz: one file each in the folder given, and a list of
// them, comma-separated, for libFuzzer's -seed_inputs=@list.
// Usage: descriptor_seeds <json> <folder> <list>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

namespace {

int WriteSeeds(int argc, char** argv) {
  if (argc != 4) {
    (void)std::fprintf(stderr, "usage: descriptor_seeds <json> <folder> <list>\n");
    return 2;
  }
  std::ifstream input(argv[1]);
  if (!input) {
    (void)std::fprintf(stderr, "descriptor_seeds: cannot read %s\n", argv[1]);
    return 1;
  }
  const nlohmann::json data = nlohmann::json::parse(input, nullptr, false);
  if (data.is_discarded() || !data.contains("devices")) {
    (void)std::fprintf(stderr, "descriptor_seeds: %s holds no devices\n", argv[1]);
    return 1;
  }
  std::string list;
  std::size_t index = 0;
  for (const nlohmann::json& device : data["devices"]) {
    const std::string hex = device.value("descriptor", "");
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    const std::string path = std::string(argv[2]) + "/seed-" + std::to_string(index++) + ".bin";
    std::ofstream seed(path, std::ios::binary | std::ios::trunc);
    seed.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!seed) {
      (void)std::fprintf(stderr, "descriptor_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
    list += (list.empty() ? "" : ",") + path;
  }
  std::ofstream listFile(argv[3], std::ios::trunc);
  listFile << list;
  if (index == 0 || !listFile) {
    (void)std::fprintf(stderr, "descriptor_seeds: no seeds written\n");
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return WriteSeeds(argc, argv);
  } catch (const std::exception& error) {
    // A descriptor that is not hex, or a file that cannot be written.
    (void)std::fprintf(stderr, "descriptor_seeds: %s\n", error.what());
    return 1;
  }
}

// Linux file systems by how they compare names.
#include "core/linux_file_systems.h"

namespace {

constexpr uint64_t kMsdos = 0x4D44;         // vfat and msdos
constexpr uint64_t kExfat = 0x2011BAB0;
constexpr uint64_t kCifs = 0xFF534D42;
constexpr uint64_t kSmb2 = 0xFE534D42;
constexpr uint64_t kSmb = 0x517B;
constexpr uint64_t kNtfs = 0x5346544E;      // the kernel's ntfs and ntfs3
constexpr uint64_t kFuse = 0x65735546;      // ntfs-3g and its low-level twin run in FUSE

bool HasOption(std::string_view options, std::string_view wanted) {
  for (size_t start = 0; start <= options.size();) {
    const size_t end = options.find(',', start);
    const std::string_view option = options.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (option == wanted) return true;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}

bool IsNtfsMount(std::string_view type) {
  return type == "ntfs" || type == "ntfs3" || type == "fuseblk" || type == "fuse.ntfs-3g" || type == "fuse.lowntfs-3g";
}

}  // namespace

bool LinuxCaseDependsOnMount(uint64_t statfsType) { return statfsType == kNtfs || statfsType == kFuse; }

bool LinuxFolderIgnoresCase(const LinuxFolderFacts& facts) {
  switch (facts.statfsType) {
    case kMsdos:
    case kExfat:
    case kCifs:
    case kSmb2:
    case kSmb:
      return true;
    default:
      break;
  }
  if (facts.caseFolded) return true;
  if (!LinuxCaseDependsOnMount(facts.statfsType) || !IsNtfsMount(facts.mountType)) return false;
  return HasOption(facts.mountOptions, "ignore_case") || HasOption(facts.mountOptions, "nocase");
}

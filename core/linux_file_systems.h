// Which Linux file systems take two names that differ only in letter case for one: FAT and
// exFAT (a memory stick), CIFS and SMB (a Windows share), a folder of ext4 or f2fs made
// case-insensitive, and NTFS when mounted to ignore case. The backend gathers what the system
// says of a folder; this decides.
#pragma once

#include <cstdint>
#include <string_view>

struct LinuxFolderFacts {
  uint64_t statfsType = 0;       // f_type of statfs
  bool caseFolded = false;       // FS_CASEFOLD_FL among the folder's flags (FS_IOC_GETFLAGS)
  std::string_view mountType;    // the file system type of its mount (/proc/self/mountinfo)
  std::string_view mountOptions; // the mount's options and the file system's, comma-separated
};

bool LinuxFolderIgnoresCase(const LinuxFolderFacts& facts);

// Whether the file system type is one whose mount options say how it treats case (NTFS),
// so that the backend reads the mount table only for those.
bool LinuxCaseDependsOnMount(uint64_t statfsType);

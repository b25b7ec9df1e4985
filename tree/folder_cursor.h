// The open folders from a tree's own folder down to the one an entry is in. Each is opened
// relative to the one above it, by one name, without following a link; moving to the next
// entry's folder keeps what the two paths share, so a walk in order opens each folder once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// The deepest folder the operations follow: a folder below it is skipped as too deep. It
// bounds the open handles.
inline constexpr uint32_t kDeepestFolder = 128;

class FolderCursor {
 public:
  explicit FolderCursor(const FolderHandle& root) : root_(root) {}
  FolderCursor(const FolderCursor&) = delete;
  FolderCursor& operator=(const FolderCursor&) = delete;

  // The folder at the end of the components into *folder, or why one of them cannot be opened
  // (a link there: IsLink), *failedAt then the number of components that opened. The folders
  // held before stay valid only as far as the paths agree.
  SystemError MoveTo(const std::vector<std::string_view>& components, const FolderHandle** folder, size_t* failedAt = nullptr);
  // Closes every folder below the root.
  void Close();

 private:
  const FolderHandle& root_;
  std::vector<std::string> names_;
  std::vector<FolderHandle> folders_;
};

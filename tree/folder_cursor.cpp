// Moving the chain of open folders.
#include "tree/folder_cursor.h"

SystemError FolderCursor::MoveTo(const std::vector<std::string_view>& components, const FolderHandle** folder, size_t* failedAt) {
  *folder = nullptr;
  size_t same = 0;
  while (same < names_.size() && same < components.size() && names_[same] == components[same]) ++same;
  while (folders_.size() > same) {
    folders_.pop_back();
    names_.pop_back();
  }
  for (size_t i = same; i < components.size(); ++i) {
    const FolderHandle& parent = folders_.empty() ? root_ : folders_.back();
    std::string name(components[i]);
    FolderHandle child;
    const SystemError failed =
        i < kDeepestFolder ? OpenSubfolder(parent, name.c_str(), &child) : ErrorOf(SystemErrorKind::NameTooLong);
    if (failed) {
      if (failedAt != nullptr) *failedAt = i;
      return failed;
    }
    folders_.push_back(std::move(child));
    names_.push_back(std::move(name));
  }
  *folder = folders_.empty() ? &root_ : &folders_.back();
  return SystemError{};
}

void FolderCursor::Close() {
  folders_.clear();
  names_.clear();
}

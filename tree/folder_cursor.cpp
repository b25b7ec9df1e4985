// Moving the chain of open folders.
#include "tree/folder_cursor.h"

FolderHandle FolderCursor::MoveTo(const std::vector<std::string_view>& components, size_t* failedAt) {
  size_t same = 0;
  while (same < names_.size() && same < components.size() && names_[same] == components[same]) ++same;
  while (folders_.size() > same) {
    CloseFolder(folders_.back());
    folders_.pop_back();
    names_.pop_back();
  }
  for (size_t i = same; i < components.size(); ++i) {
    FolderHandle parent = folders_.empty() ? root_ : folders_.back();
    std::string name(components[i]);
    // Room first: memory that runs out must not leave the folder just opened unheld.
    folders_.reserve(folders_.size() + 1);
    names_.reserve(names_.size() + 1);
    FolderHandle child = i < kDeepestFolder ? OpenSubfolder(parent, name.c_str()) : nullptr;
    if (i >= kDeepestFolder) SetLastSystemError(SystemErrorCode(SystemErrorKind::NameTooLong));
    if (child == nullptr) {
      if (failedAt != nullptr) *failedAt = i;
      return nullptr;
    }
    folders_.push_back(child);
    names_.push_back(std::move(name));
  }
  return folders_.empty() ? root_ : folders_.back();
}

void FolderCursor::Close() {
  while (!folders_.empty()) {
    CloseFolder(folders_.back());
    folders_.pop_back();
  }
  names_.clear();
}

// Folders of a tree read ahead of its listing: helper threads list the folders the walk has found
// but not reached yet, so that their entries and their files' records are in the system's cache
// when the walk lists them itself, one folder after another. What the helpers read is thrown away
// and their failures are nobody's: the listing is the walk's alone.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "stream/operations.h"

// Helpers: folders listed side by side, as the readers read files (tree/read_ahead.h).
inline constexpr uint32_t kListingHelpers = 8;
// Folders waiting to be read ahead; the oldest are dropped beyond it, which bounds the memory.
inline constexpr size_t kListingAhead = 4096;

class ListingWarmer {
 public:
  ListingWarmer(const FolderHandle& top, const StreamControl& control) : top_(top), control_(control) {}
  ~ListingWarmer();
  ListingWarmer(const ListingWarmer&) = delete;
  ListingWarmer& operator=(const ListingWarmer&) = delete;

  // The folders just found in one folder (each by its names from the top), in the order the
  // walk enters them: read ahead before those found earlier. The helpers start with the first.
  void Found(std::vector<std::vector<std::string>> folders);

 private:
  static void Warm(void* context);
  static SystemError Discard(void* context, const FolderEntry& entry);
  bool Closing();

  const FolderHandle& top_;
  const StreamControl& control_;
  bool started_ = false;
  std::vector<Thread> threads_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::vector<std::string>> queue_;
  bool closing_ = false;
};

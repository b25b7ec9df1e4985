// The helpers that read a tree's folders ahead of its listing.
#include "tree/listing_warmer.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "platform/hooks.h"
#include "tree/folder_cursor.h"

ListingWarmer::~ListingWarmer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  queued_.notify_all();
  for (Thread& thread : threads_) thread.Join();
}

void ListingWarmer::Found(std::vector<std::vector<std::string>> folders) {
  if (folders.empty()) return;
  if (!started_) {
    started_ = true;
    const uint32_t helpers = control_.oneThread ? 0 : SideBySideReaders(kListingHelpers);
    threads_.resize(helpers);
    uint32_t running = 0;
    // Without helpers the walk lists alone, as it always could.
    while (running < helpers && !StartThread(&Warm, this, &threads_[running])) ++running;
    threads_.resize(running);
  }
  if (threads_.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) queue_.push_front(std::move(*folder));
    while (queue_.size() > kListingAhead) queue_.pop_back();
  }
  queued_.notify_all();
}

bool ListingWarmer::Closing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return closing_;
}

SystemError ListingWarmer::Discard(void* context, const FolderEntry&) {
  // Ends the listing early once the walk is done.
  return static_cast<ListingWarmer*>(context)->Closing() ? ErrorOf(SystemErrorKind::InvalidParameter) : SystemError{};
}

void ListingWarmer::Warm(void* context) {
  ListingWarmer& warmer = *static_cast<ListingWarmer*>(context);
  FolderCursor cursor(warmer.top_);
  for (;;) {
    std::vector<std::string> names;
    {
      std::unique_lock<std::mutex> lock(warmer.mutex_);
      warmer.queued_.wait(lock, [&] { return warmer.closing_ || !warmer.queue_.empty(); });
      if (warmer.closing_) break;
      names = std::move(warmer.queue_.front());
      warmer.queue_.pop_front();
    }
    // What the heap refuses here is only a folder not read ahead.
    try {
      const std::vector<std::string_view> components(names.begin(), names.end());
      const FolderHandle* folder;
      if (cursor.MoveTo(components, &folder)) continue;
      static_cast<void>(ListFolder(*folder, &Discard, &warmer));
    } catch (const std::bad_alloc&) {
      cursor.Close();
    }
  }
  cursor.Close();
}

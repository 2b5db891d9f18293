#include "small_file_cache.h"

#include <ctime>

namespace tavri::http {

net::Bytes SmallFileCache::find(const std::string& path, const FileStamp& stamp) {
  std::lock_guard lock(lock_);
  auto it = entries_.find(path);
  if (it == entries_.end()) return nullptr;
  if (!(it->second.stamp == stamp)) {
    drop(it);
    return nullptr;
  }
  ages_.splice(ages_.end(), ages_, it->second.age);
  return it->second.bytes;
}

void SmallFileCache::offer(const std::string& path, const FileStamp& stamp, int fd, net::Bytes bytes) {
  if (!bytes || stamp.size < 0 || static_cast<std::uint64_t>(stamp.size) > kLargestFile ||
      bytes->size() != static_cast<std::size_t>(stamp.size) || bytes->size() > capacity_)
    return;
  // The descriptor read from must be the file that was looked at, and the
  // file must have been left alone since well before that look.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(FileStamp::of(st) == stamp)) return;
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long now_ns = FileStamp::ns(now);
  if (stamp.ctime_ns > now_ns - quiet_ns_ || stamp.mtime_ns > now_ns - quiet_ns_) return;

  std::lock_guard lock(lock_);
  if (auto it = entries_.find(path); it != entries_.end()) drop(it);
  while (bytes_ + bytes->size() > capacity_ && !ages_.empty()) drop(entries_.find(ages_.front()));
  ages_.push_back(path);
  bytes_ += bytes->size();
  entries_.emplace(path, Entry{stamp, std::move(bytes), std::prev(ages_.end())});
}

std::size_t SmallFileCache::size_bytes() const {
  std::lock_guard lock(lock_);
  return bytes_;
}

void SmallFileCache::drop(std::unordered_map<std::string, Entry>::iterator it) {
  bytes_ -= it->second.bytes->size();
  ages_.erase(it->second.age);
  entries_.erase(it);
}

}  // namespace tavri::http

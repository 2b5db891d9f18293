#pragma once
#include <atomic>
#include <QHash>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace tavri {

// Feedback from one sender address is taken at a bounded rate (a token
// bucket per address), so that a flood from one host cannot crowd out the
// others. Generous enough for a simulator that plays thousands of players
// from one address. Used on the socket's queue only.
class AddressRate {
 public:
  AddressRate(double per_second, double burst) : per_ms_(per_second / 1000.0), burst_(burst) {}

  bool admit(const QString& host, qint64 now_ms) {
    if (now_ms - last_prune_ms_ > 60000) {
      // Addresses silent for a minute are full again anyway.
      for (auto it = buckets_.begin(); it != buckets_.end();)
        it = now_ms - it->at_ms > 60000 ? buckets_.erase(it) : std::next(it);
      last_prune_ms_ = now_ms;
    }
    auto it = buckets_.find(host);
    if (it == buckets_.end()) it = buckets_.insert(host, {burst_, now_ms});
    Bucket& b = *it;
    b.tokens = std::min(burst_, b.tokens + static_cast<double>(now_ms - b.at_ms) * per_ms_);
    b.at_ms = now_ms;
    if (b.tokens < 1.0) return false;
    b.tokens -= 1.0;
    return true;
  }

 private:
  struct Bucket {
    double tokens;
    qint64 at_ms;
  };
  double per_ms_, burst_;
  QHash<QString, Bucket> buckets_;
  qint64 last_prune_ms_ = 0;
};

// The simple feedback request that a player in error calls for goes out
// when a player turns to error (not at every repeat of it), at most once per
// interval for the whole network, and at most once a minute for one sender
// address: every player answers the request, so one forged datagram costs
// the network hundreds of answers, and the wire cannot address it to the
// player in error alone.
class FeedbackRequestLimiter {
 public:
  explicit FeedbackRequestLimiter(qint64 interval_ms, qint64 per_address_ms = 60000)
      : interval_ms_(interval_ms), per_address_ms_(per_address_ms) {}

  // previous: the player's state before this feedback (none: a new player).
  bool should_request(const QString& host, std::optional<int> previous, int current, qint64 now_ms) {
    if (current != kError || previous == kError) return false;
    if (last_ms_ && now_ms - *last_ms_ < interval_ms_) return false;
    const auto it = by_address_.constFind(host);
    if (it != by_address_.constEnd() && now_ms - *it < per_address_ms_) return false;
    // One entry per request sent, so a minute holds a handful.
    for (auto old = by_address_.begin(); old != by_address_.end();)
      old = now_ms - *old >= per_address_ms_ ? by_address_.erase(old) : std::next(old);
    by_address_.insert(host, now_ms);
    last_ms_ = now_ms;
    return true;
  }

 private:
  static constexpr int kError = 4;
  qint64 interval_ms_, per_address_ms_;
  std::optional<qint64> last_ms_;
  QHash<QString, qint64> by_address_;
};

// Why feedback was not taken, counted from any thread and said once per
// check interval with the counts.
class DropCounter {
 public:
  void count(const QString& reason, const QString& host = {}) {
    ++refused_;
    std::lock_guard lock(mutex_);
    Count& c = counts_[reason];
    ++c.n;
    if (!host.isEmpty()) c.hosts[host] += 1;
  }
  // Every datagram that arrived, and every one refused, since the start.
  void received() { ++received_; }
  std::uint64_t received_total() const { return received_; }
  std::uint64_t refused_total() const { return refused_; }
  // "12 over one address's rate (10.0.0.5: 12), 3 with fewer than 8 fields"; empty when none.
  QString take_summary() {
    std::map<QString, Count> counts;
    {
      std::lock_guard lock(mutex_);
      counts.swap(counts_);
    }
    QStringList parts;
    for (const auto& [reason, c] : counts) {
      QString part = QString("%1 %2").arg(c.n).arg(reason);
      if (!c.hosts.empty()) {
        // The busiest senders first: a flooding host is named.
        std::vector<std::pair<QString, long long>> hosts(c.hosts.begin(), c.hosts.end());
        std::stable_sort(hosts.begin(), hosts.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        QStringList top;
        for (std::size_t i = 0; i < hosts.size() && i < 3; ++i) top << QString("%1: %2").arg(hosts[i].first).arg(hosts[i].second);
        if (hosts.size() > 3) top << "...";
        part += " (" + top.join(", ") + ")";
      }
      parts << part;
    }
    return parts.join(", ");
  }

 private:
  struct Count {
    long long n = 0;
    std::map<QString, long long> hosts;
  };
  std::mutex mutex_;
  std::map<QString, Count> counts_;
  std::atomic<std::uint64_t> received_{0}, refused_{0};
};

}  // namespace tavri

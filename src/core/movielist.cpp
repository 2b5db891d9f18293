#include "movielist.h"

#include <QFileInfo>
#include <QHash>
#include <QUrl>
#include <algorithm>
#include <mutex>

#include "keyed_archive.h"

namespace tavri {

std::optional<RecordArray> try_decode_movielist(const Record& playlist, bool with_images) {
  const QByteArray blob = playlist.value("movielist").toByteArray();
  if (blob.isEmpty()) return RecordArray();
  auto root = decode_root_archive(blob, nullptr, with_images);
  if (!root || root->metaType().id() != QMetaType::QVariantList) return std::nullopt;
  RecordArray items;
  for (const QVariant& v : root->toList()) items.append(v.toMap());
  return items;
}

RecordArray decode_movielist(const Record& playlist, bool with_images) {
  return try_decode_movielist(playlist, with_images).value_or(RecordArray());
}

void store_movielist(Record& playlist, const RecordArray& items) {
  playlist["movielist"] = encode_root_archive(to_variant_list(items));
  playlist["movies"] = static_cast<int>(items.size());
}

namespace {
// Published items by the blob they come from: schedules embed the same
// playlists again and again, and a blob changes only when its playlist does.
class PublishedItemsCache {
 public:
  std::optional<QVariantList> find(const QByteArray& blob) {
    std::lock_guard lock(mutex_);
    auto it = entries_.constFind(qHash(blob));
    if (it == entries_.constEnd() || it->blob != blob) return std::nullopt;
    return it->items;
  }
  void insert(const QByteArray& blob, const QVariantList& items) {
    std::lock_guard lock(mutex_);
    if (entries_.size() >= kEntries) entries_.clear();
    entries_.insert(qHash(blob), {blob, items});
  }

 private:
  static constexpr qsizetype kEntries = 1024;
  struct Entry {
    QByteArray blob;
    QVariantList items;
  };
  std::mutex mutex_;
  QHash<size_t, Entry> entries_;
};

PublishedItemsCache& items_cache() {
  static PublishedItemsCache cache;
  return cache;
}
}  // namespace

bool plays_on(const Record& item, const QDate& day) { return why_not_playing(item, day).isEmpty(); }

QString why_not_playing(const Record& item, const QDate& day) {
  const QString today = day.toString("yyyy-MM-dd");
  const QString first = item.value(kItemFirstDate).toString(), last = item.value(kItemLastDate).toString();
  if (!first.isEmpty() && today < first) return "starts " + first;
  if (!last.isEmpty() && today > last) return "ended " + last;
  return {};
}

QVariantList published_items(const Record& playlist, const QDate& day) {
  const QByteArray blob = playlist.value("movielist").toByteArray();
  std::optional<QVariantList> all = items_cache().find(blob);
  if (!all) {
    all.emplace();
    // The pictures are replaced, so they are not decoded at all.
    for (Record item : decode_movielist(playlist, false)) {
      item["file_icon"] = QString("KEIN BILD");
      all->append(item);
    }
    items_cache().insert(blob, *all);
  }
  const bool dated = std::any_of(all->begin(), all->end(), [](const QVariant& v) {
    const QVariantMap item = v.toMap();
    return item.contains(kItemFirstDate) || item.contains(kItemLastDate);
  });
  if (!dated) return *all;
  QVariantList out;
  for (const QVariant& v : *all) {
    Record item = v.toMap();
    if (!plays_on(item, day)) continue;
    item.remove(kItemFirstDate);
    item.remove(kItemLastDate);
    out.append(item);
  }
  return out;
}

QStringList missing_files(const Record& playlist) {
  QStringList missing;
  for (const Record& item : decode_movielist(playlist, false)) {
    const QUrl url = item.value("file_url").toUrl();
    if (!url.isLocalFile() || QFileInfo::exists(url.toLocalFile())) continue;
    if (const QString name = url.fileName(); !missing.contains(name)) missing << name;
  }
  return missing;
}

int read_integer(const QString& text) {
  int i = 0;
  while (i < text.size() && text[i].isSpace()) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i].unicode() - '0');
    if (value > 2147483648LL) value = 2147483648LL;  // saturate rather than wrap
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace tavri

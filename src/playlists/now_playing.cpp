#include "playlists/now_playing.h"

#include <QFileInfo>
#include <QUrl>

#include "core/movielist.h"

namespace tavri {

namespace {
bool no_value(const QString& text) { return text.isEmpty() || text == "---"; }
}  // namespace

const QVariantList& NowPlaying::items_of(qint64 id) {
  auto it = items_.find(id);
  if (it != items_.end()) return *it;
  QVariantList items;
  if (playlists_)
    for (int i = 0; i < playlists_->size(); ++i)
      if (playlists_->at(i).value("id").toLongLong() == id) {
        items = published_items(playlists_->at(i), today_);
        break;
      }
  return *items_.insert(id, items);
}

QString NowPlaying::text(bool schedule, const QString& list_id, const QString& list_name, const QString& track) {
  if (no_value(list_id)) return {};
  if (list_name.isEmpty()) return QString("list %1, which this server did not send").arg(list_id);
  const QString shown_track = no_value(track) ? QString() : track;
  if (schedule) return shown_track.isEmpty() ? list_name + " (schedule)" : list_name + " (schedule) › " + shown_track;
  const QVariantList& items = items_of(list_id.toLongLong());
  if (shown_track.isEmpty()) return list_name;
  // Players report the track by its name or its place in the list.
  for (qsizetype i = 0; i < items.size(); ++i) {
    const QVariantMap item = items[i].toMap();
    const QString file = item.value("file_url").toUrl().fileName();
    if (track == item.value("file_name").toString() || track == file || track == QFileInfo(file).completeBaseName())
      return QString("%1 › %2, %3 of %4").arg(list_name, file.isEmpty() ? track : file).arg(i + 1).arg(items.size());
  }
  bool number = false;
  const int place = track.toInt(&number);
  if (number && place >= 1 && place <= items.size()) {
    const QString file = items[place - 1].toMap().value("file_url").toUrl().fileName();
    return QString("%1 › %2, %3 of %4").arg(list_name, file).arg(place).arg(items.size());
  }
  return list_name + " › " + shown_track;
}

}  // namespace tavri

#pragma once
#include <QDate>
#include <QHash>
#include <QString>
#include <QVariantList>

#include "core/record_list.h"

namespace tavri {

// What a player shows now, in words, from the list and track it reports:
// "Lobby › menu.png, 3 of 7". Each playlist's items are read once per
// NowPlaying, however many players play it; make one per table or answer.
class NowPlaying {
 public:
  NowPlaying(const RecordList* playlists, const QDate& today) : playlists_(playlists), today_(today) {}
  // `list_name` empty: the list is not one this server sent under that id.
  QString text(bool schedule, const QString& list_id, const QString& list_name, const QString& track);

 private:
  const QVariantList& items_of(qint64 id);
  const RecordList* playlists_;
  QDate today_;
  QHash<qint64, QVariantList> items_;
};

}  // namespace tavri

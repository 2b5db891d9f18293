#pragma once
#include <QSet>
#include <QStringList>
#include <QVariant>

namespace tavri {

// What refers to playlists by id (the schedules' tasks): asked before a
// playlist is removed, so that a reused id never re-points a task.
class PlaylistUsers {
 public:
  virtual ~PlaylistUsers() = default;
  // Names of the schedules with a task that plays one of the ids.
  virtual QStringList schedules_using(const QSet<int>& ids) const = 0;
  // Those tasks play no playlist from now on; their schedules are republished.
  virtual void forget_playlists(const QSet<int>& ids) = 0;
  // What forget_playlists changes, taken before, and put back after an undo.
  virtual QVariant uses_snapshot() const = 0;
  virtual void restore_uses(const QVariant& snapshot) = 0;
};

}  // namespace tavri

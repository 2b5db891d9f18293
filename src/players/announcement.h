#pragma once
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

#include "core/outcome.h"
#include "core/record.h"
#include "players/list_sends.h"

namespace tavri {

class UDP_Feedback;

// One urgent message at a time: a playlist, a schedule, a web stream or a
// background sent to some players for a while, or until ended. At its end
// each player gets back what this server last told it to play before it
// began (a player told nothing is told to clear its list), or the
// background this server last gave it (told none, it keeps this one). Kept in a file of its
// own, so that a restart mid-announcement still gives back.
class Announcement : public QObject {
  Q_OBJECT
 public:
  // What it plays: a list record (a playlist's or a schedule's, as the
  // catalogue holds it), a web stream's address, or a background image (its
  // path in the content folder).
  struct Content {
    std::optional<Record> list;
    QString stream;
    QString background;
    QString label;  // "playlist Lobby", "stream https://…", "background closed.png"
  };
  // The list a player had, looked up again at the end: it may have changed
  // or gone since.
  using FindList = std::function<std::optional<Record>(bool schedule, qint64 id)>;

  // An empty path keeps it in memory only (tests).
  Announcement(UDP_Feedback& players, FindList find, QString path, QObject* parent = nullptr);
  void load();

  // Refused while one runs, or when a target or the content does not fit;
  // `minutes` 0: until ended. `targets` is how the operator named them.
  Outcome start(const Content& content, const QStringList& ids, const QStringList& targets, int minutes);
  // Gives every player back its own; refused when none runs.
  Outcome end();

  bool running() const { return !ids_.isEmpty(); }
  QString label() const { return label_; }
  QStringList targets() const { return targets_; }
  QStringList players() const { return ids_; }
  QDateTime started() const { return started_; }
  QDateTime ends() const { return ends_; }  // invalid: until ended

 signals:
  void changed();
  // For the history: each player it went to, and each it ended for.
  void began(const QString& label, const QStringList& players);
  void finished(const QString& label, const QStringList& players);

 private:
  void save();
  void arm();
  UDP_Feedback& players_;
  FindList find_;
  QString path_;
  QString label_;
  QStringList targets_, ids_;
  QHash<QString, std::optional<ListSends::Last>> before_;
  bool background_ = false;  // it replaced backgrounds, not lists
  QDateTime started_, ends_;
  QTimer timer_;
};

}  // namespace tavri

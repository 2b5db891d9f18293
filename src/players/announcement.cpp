#include "players/announcement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "players/net/wire_protocol.h"
#include "players/udp_feedback.h"

namespace tavri {

Announcement::Announcement(UDP_Feedback& players, FindList find, QString path, QObject* parent)
    : QObject(parent), players_(players), find_(std::move(find)), path_(std::move(path)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::VeryCoarseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (running()) end();
  });
}

Outcome Announcement::start(const Content& content, const QStringList& ids, const QStringList& targets, int minutes) {
  if (running())
    return Outcome::conflict("announcement", QString("The announcement \"%1\" is running: end it first.").arg(label_));
  if (minutes < 0 || minutes > 7 * 24 * 60)
    return Outcome::bad("minutes", "An announcement lasts 1 to 10080 minutes, or until it is ended (0).");
  if (Outcome o = players_.check_players(ids); !o.ok()) return o;
  const bool background = !content.background.isEmpty();
  QHash<QString, std::optional<ListSends::Last>> before;
  for (const QString& id : ids) {
    const QString image = players_.last_background(id);
    before.insert(id, !background    ? players_.last_sent(id)
                      : image.isEmpty() ? std::nullopt
                                        : std::optional<ListSends::Last>({wire::kBackground, {image}}));
  }
  const Outcome sent = content.list   ? players_.send_list(*content.list, ids)
                       : background ? players_.set_background(content.background, ids)
                                    : players_.command_players(wire::kWebStream, ids, {content.stream});
  if (!sent.ok()) return sent;
  label_ = content.label;
  targets_ = targets;
  ids_ = ids;
  before_ = std::move(before);
  background_ = background;
  started_ = QDateTime::currentDateTimeUtc();
  ends_ = minutes ? started_.addSecs(qint64(minutes) * 60) : QDateTime();
  console_log(QString("ANNOUNCEMENT: %1 to %2 players (%3)").arg(label_).arg(ids_.size()).arg(targets_.join(", ")));
  arm();
  save();
  emit began(label_, ids_);
  return Outcome::done();
}

Outcome Announcement::end() {
  if (!running()) return Outcome::conflict("announcement", "No announcement is running.");
  // Players given back the same thing get it in one send; players removed
  // meanwhile are skipped.
  const QStringList known = players_.player_ids();
  const QSet<QString> present(known.begin(), known.end());
  QMap<QStringList, QStringList> by_previous;  // code and arguments -> players
  for (const QString& id : ids_) {
    if (!present.contains(id)) continue;
    const auto& last = before_.value(id);
    by_previous[last ? QStringList{QString::number(last->code)} + last->arguments : QStringList{}] << id;
  }
  int cleared = 0;
  for (auto it = by_previous.begin(); it != by_previous.end(); ++it) {
    const QStringList& previous = it.key();
    const int code = previous.isEmpty() ? -1 : previous[0].toInt();
    std::optional<Record> list;
    if (code == wire::kLoadPlaylist || code == wire::kLoadSchedule)
      list = find_(code == wire::kLoadSchedule, previous.value(1).toLongLong());
    Outcome o;
    if (list)
      o = players_.send_list(*list, it.value());
    else if (code == wire::kWebStream)
      o = players_.command_players(wire::kWebStream, it.value(), previous.mid(1));
    else if (code == wire::kBackground)
      o = players_.set_background(previous.value(1), it.value());
    else if (!background_)
      o = players_.command_players(wire::kClearList, it.value());  // nothing of ours to give back
    if (!list && code != wire::kWebStream && code != wire::kBackground) cleared += static_cast<int>(it.value().size());
    if (!o.ok()) console_log(QString("ANNOUNCEMENT END: %1").arg(o.message));
  }
  console_log(QString("ANNOUNCEMENT ENDED: %1; %2 players given back their own, %3 %4")
                  .arg(label_)
                  .arg(ids_.size() - cleared)
                  .arg(cleared)
                  .arg(background_ ? "keep it (no earlier background)" : "told to clear their list"));
  emit finished(label_, ids_);
  label_.clear();
  targets_.clear();
  ids_.clear();
  before_.clear();
  timer_.stop();
  save();
  return Outcome::done();
}

void Announcement::arm() {
  timer_.stop();
  if (!ends_.isValid()) return;
  const qint64 ms = QDateTime::currentDateTimeUtc().msecsTo(ends_);
  timer_.start(std::chrono::milliseconds(std::clamp<qint64>(ms, 0, 7LL * 24 * 3600 * 1000)));
}

void Announcement::save() {
  emit changed();
  if (path_.isEmpty()) return;
  QJsonObject state;
  if (running()) {
    QJsonObject before;
    for (auto it = before_.begin(); it != before_.end(); ++it) {
      QJsonArray fields;
      if (it.value()) {
        fields.append(it.value()->code);
        for (const QString& a : it.value()->arguments) fields.append(a);
      }
      before.insert(it.key(), fields);
    }
    state = {{"label", label_},
             {"targets", QJsonArray::fromStringList(targets_)},
             {"players", QJsonArray::fromStringList(ids_)},
             {"started", started_.toString(Qt::ISODate)},
             {"ends", ends_.isValid() ? QJsonValue(ends_.toString(Qt::ISODate)) : QJsonValue()},
             {"kind", background_ ? "background" : "list"},
             {"before", before}};
  }
  BackgroundWriter::instance().submit_bytes(
      path_, [bytes = QJsonDocument(state).toJson(QJsonDocument::Indented)] { return bytes; }, "SAVE ANNOUNCEMENT !!!!!");
}

void Announcement::load() {
  if (path_.isEmpty()) return;
  const auto bytes = read_file(path_);
  if (!bytes) return;
  const QJsonObject state = QJsonDocument::fromJson(*bytes).object();
  if (state.isEmpty()) return;  // none running, or unreadable: nothing to give back
  for (const QJsonValue& id : state["players"].toArray()) ids_ << id.toString();
  for (const QJsonValue& t : state["targets"].toArray()) targets_ << t.toString();
  label_ = state["label"].toString();
  started_ = QDateTime::fromString(state["started"].toString(), Qt::ISODate);
  ends_ = QDateTime::fromString(state["ends"].toString(), Qt::ISODate);
  background_ = state["kind"].toString() == "background";
  const QJsonObject before = state["before"].toObject();
  for (const QString& id : ids_) {
    const QJsonArray fields = before[id].toArray();
    if (fields.isEmpty()) {
      before_.insert(id, std::nullopt);
      continue;
    }
    ListSends::Last last{fields[0].toInt(), {}};
    for (qsizetype i = 1; i < fields.size(); ++i) last.arguments << fields[i].toString();
    before_.insert(id, last);
  }
  ids_.removeAll(QString());
  console_log(QString("ANNOUNCEMENT RUNNING: %1 to %2 players").arg(label_).arg(ids_.size()));
  arm();
  emit changed();
}

}  // namespace tavri

#pragma once
#include <QObject>
#include <QUrl>
#include <optional>

#include "core/bus.h"
#include "core/catalogue.h"
#include "core/dialogs.h"

namespace tavri {

// The catalogue of schedules; every change of the selected schedule is
// announced with "schedule_list_did_change".
class Schedule : public QObject {
  Q_OBJECT
 public:
  Schedule(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);
  ~Schedule() override { bus_.unregister(this); }

  RecordList& ArrayController_SCHEDULELIST() { return catalogue_.list(); }
  Catalogue& catalogue() { return catalogue_; }

  void add_new_playlist();
  void copy_playlist();
  void changeName();
  // Asks first; removes the schedules and their published files.
  void delete_line();
  void tableViewSelectionDidChange();
  void save();
  void load();

  // The same with explicit arguments (the API's): each checks first and
  // changes nothing when an argument is wrong.
  Outcome create(const QString& name, qint64* id = nullptr);
  Outcome rename(qint64 id, const QString& name);
  Outcome copy(qint64 id, qint64* copy_id = nullptr);
  Outcome remove(const QList<qint64>& ids);

  // A new empty schedule with the lowest free id; nothing (after an alert)
  // when every id is taken.
  std::optional<Record> new_schedule(const QString& name);
  void append_and_select(const Record& schedule);

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  Catalogue catalogue_;
  QUrl folder_url_;
};

}  // namespace tavri

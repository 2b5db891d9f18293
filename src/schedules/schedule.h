#pragma once
#include <QObject>

#include "core/bus.h"
#include "core/catalogue.h"
#include "core/dialogs.h"

namespace tavri {

// The catalogue of schedules.
class Schedule : public QObject {
  Q_OBJECT
 public:
  Schedule(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  RecordList& ArrayController_SCHEDULE() { return catalogue_.list(); }
  void save();
  void load();
  void tableViewSelectionDidChange();

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  Catalogue catalogue_;
};

}  // namespace tavri

#pragma once
#include <QObject>

#include "core/bus.h"
#include "core/dialogs.h"
#include "core/record_list.h"

namespace tavri {

// The player registry, the player commands and the player map.
class UDP_Feedback : public QObject {
  Q_OBJECT
 public:
  UDP_Feedback(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  RecordList& ArrayController_DEVICES() { return devices_; }
  void save();
  void load();
  void add_did_start();
  void send_playlist(const QVariant& record);

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  RecordList devices_;
};

}  // namespace tavri

#pragma once
#include <QObject>

#include "core/bus.h"
#include "core/catalogue.h"
#include "core/dialogs.h"

namespace tavri {

// The catalogue of playlists.
class PlayList : public QObject {
  Q_OBJECT
 public:
  PlayList(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  RecordList& ArrayController_PLAYLIST() { return catalogue_.list(); }
  void save();
  void load();
  void send_playlist_feedback();

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  Catalogue catalogue_;
};

}  // namespace tavri

#pragma once
#include <QObject>
#include <QString>

#include "core/bus.h"
#include "core/dialogs.h"

namespace tavri {

// Owns the HTTP server over the content folder.
class Server : public QObject {
  Q_OBJECT
 public:
  Server(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  void INIT_SERVER();
  void CHANGE_SERVER_PATH(const QVariant& path);
  void START_SERVER();
  QString document_root() const { return document_root_; }

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  QString document_root_;
};

}  // namespace tavri

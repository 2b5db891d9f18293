#pragma once
#include <QObject>
#include <QUrl>

#include "core/bus.h"
#include "core/dialogs.h"

namespace tavri {

// The editor of the selected playlist; publishes playlist files.
class display_playlist : public QObject {
  Q_OBJECT
 public:
  display_playlist(Bus& bus, Dialogs& dialogs, QObject* parent = nullptr);

  void get_folder_url(const QVariant& url);
  void tableViewSelectionDidChange();
  QUrl folder_url() const { return folder_url_; }

 private:
  Bus& bus_;
  Dialogs& dialogs_;
  QUrl folder_url_;
};

}  // namespace tavri

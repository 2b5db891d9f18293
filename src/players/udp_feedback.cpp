#include "udp_feedback.h"

#include <QDir>

#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/notifications.h"

namespace tavri {

UDP_Feedback::UDP_Feedback(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::SAVE, [this](const QVariant&) { save(); });
  bus_.register_observer(this, note::LOAD, [this](const QVariant&) { load(); });
  bus_.register_observer(this, note::APPLICATION_DID_FINISH_LAUNCHING,
                         [this](const QVariant&) { add_did_start(); });
  bus_.register_observer(this, note::SEND_PLAYLIST, [this](const QVariant& v) { send_playlist(v); });
}

void UDP_Feedback::save() {
  const QByteArray bytes = encode_archive({{"SPEICHER", to_variant_list(devices_.records())}});
  QDir().mkpath(application_folder());
  save_file_logged(application_folder() + "/" + kRegistryFile, bytes, "SAVE DEVICES !!!!!");
  const QString temp = app_support_folder() + "/" + kTempFolder;
  QDir().mkpath(temp);
  if (write_file_atomically(temp + "/" + kRegistryWorkingCopy, bytes)) console_log(kSaveErrorTag);
}

void UDP_Feedback::load() { devices_.clear(); }
void UDP_Feedback::add_did_start() {}
void UDP_Feedback::send_playlist(const QVariant&) {}

}  // namespace tavri

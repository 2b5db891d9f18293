#include "app_delegate.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <utility>

#include "background_writer.h"
#include "catalogue_file.h"
#include "console.h"
#include "folders.h"
#include "keyed_archive.h"
#include "notifications.h"

namespace tavri {
namespace {

constexpr char kExportExtension[] = "morvane_export";

std::pair<const char*, ToolWindow* AppDelegate::Windows::*> const kLayout[] = {
    {"WINDOW_PLAYLISTS", &AppDelegate::Windows::playlists},
    {"WINDOW_CONTENTLIST", &AppDelegate::Windows::content},
    {"WINDOW_DEVICELIST", &AppDelegate::Windows::devices},
    {"WINDOW_SCHEDULE", &AppDelegate::Windows::schedule},
};

// Replaces the file name's extension (or adds one) with "morvane_export".
QString with_export_extension(const QString& path) {
  const QFileInfo info(path);
  const QString name = info.fileName();
  const int dot = name.lastIndexOf('.');
  const QString base = dot > 0 ? name.left(dot) : name;
  const QString dir = path.left(path.size() - name.size());
  return dir + base + "." + kExportExtension;
}

// Only the two catalogue files may be written by an import.
bool is_importable_name(const QString& name) {
  return name == QLatin1String(kPlaylistFile) || name == QLatin1String(kScheduleFile);
}

}  // namespace

AppDelegate::AppDelegate(Bus& bus, Dialogs& dialogs) : bus_(bus), dialogs_(dialogs) {}

void AppDelegate::applicationDidFinishLaunching() {
  bus_.post(note::INIT);
  bus_.post(note::APPLICATION_DID_FINISH_LAUNCHING);
  bus_.post(note::INIT_SERVER);
  bus_.post(note::LOAD);
  load();
}

void AppDelegate::applicationWillTerminate() {
  bus_.post(note::SAVE);
  save();
  // Background saves still queued are finished before the process ends.
  wait_for_saves();
}

void AppDelegate::wait_for_saves() {
  QElapsedTimer waited;
  waited.start();
  if (BackgroundWriter::instance().wait_idle(1000)) return;
  console_log("WAITING FOR SAVES TO FINISH ...");
  if (!BackgroundWriter::instance().wait_idle(kLongestSaveWaitMs))
    console_log(QString("SAVES NOT FINISHED after %1 ms").arg(waited.elapsed()));
  else
    console_log(QString("SAVES FINISHED after %1 ms").arg(waited.elapsed()));
}

void AppDelegate::SAVE_ALL() {
  applicationWillTerminate();
  report_(BackgroundWriter::instance().queued() == 0 ? "Everything saved" : "Still saving (see the console)");
}

void AppDelegate::save_all_queued() {
  bus_.post(note::SAVE);
  save();
}

void AppDelegate::toggle(ToolWindow* window) {
  if (!window) return;
  if (window->is_visible())
    window->close_window();
  else
    window->bring_to_front();
}

void AppDelegate::save() {
  if (headless_) return;
  QVariantMap top;
  for (const auto& [key, member] : kLayout) {
    ToolWindow* w = windows_.*member;
    top.insert(key, w ? w->frame() : QRectF());
  }
  const QString support = app_support_folder();
  console_log(QUrl::fromLocalFile(support + "/").toString());
  // On the writer, after the registry's save: the files are written in the
  // order they always were.
  const QString path = application_folder() + "/" + kWindowsFile;
  BackgroundWriter::instance().submit(path, [path, top] {
    QDir().mkpath(application_folder());
    save_file_logged(path, encode_archive(top), "SAVE WINDOWS !!!!!");
  });
}

void AppDelegate::load() {
  console_log(QUrl::fromLocalFile(app_support_folder() + "/").toString());
  const auto bytes = read_file(application_folder() + "/" + kWindowsFile);
  if (!bytes || bytes->isEmpty()) return;
  const auto top = decode_archive(*bytes);
  if (!top) return;
  for (const auto& [key, member] : kLayout) {
    ToolWindow* w = windows_.*member;
    const QVariant v = top->value(key);
    if (w && v.metaType().id() == QMetaType::QRectF) w->set_frame(v.toRectF());
  }
}

void AppDelegate::export_all() {
  bus_.post(note::SAVE);
  wait_for_saves();  // the files read below are the ones just saved
  const QByteArray archive = export_archive();
  console_log("SAVE TO FILE");
  PanelOptions options;
  options.name_field = "Export";
  // It asks for a file, with its extension shown, not for a folder.
  options.prompt = "Save the playlists and schedules as:";
  options.extensions = {kExportExtension};
  const auto chosen = dialogs_.save_panel(options);
  if (!chosen) return;
  const QString path = with_export_extension(*chosen);
  console_log(QString("EXPORT PATH: %1").arg(path));
  report_(save_file_logged(path, archive, "SAVE EXPORT !!!!!") ? QString("Exported to %1").arg(path)
                                                                : QString("Export not written: %1 (see the console)").arg(path));
}

QByteArray AppDelegate::export_archive() const {
  QVariantMap files;
  for (const char* name : {kPlaylistFile, kScheduleFile}) {
    const QString path = documents_folder() + "/" + name;
    if (auto bytes = read_file(path))
      files.insert(name, *bytes);
    else
      console_log(QString("EXPORT: cannot read %1").arg(path));
  }
  return encode_root_archive(files);
}

void AppDelegate::import_all() {
  // Every edit is on disk first, as for an export, so that the reload
  // after an import loses nothing that is not replaced, and no save still
  // queued overwrites what is imported.
  bus_.post(note::SAVE);
  wait_for_saves();
  PanelOptions options;
  options.choose_files = true;
  options.multiple = false;
  options.extensions = {kExportExtension};
  options.name_field = "Export";
  options.prompt = "Select your import file:";
  const auto chosen = dialogs_.open_panel(options);
  // Cancelled or unreadable: nothing on disk changed, so nothing is reloaded.
  if (!chosen || chosen->isEmpty()) return;
  const QString path = with_export_extension(chosen->first());
  console_log(QString("IMPORT PATH: %1").arg(path));
  const auto bytes = read_file(path);
  if (!bytes) {
    console_log(QString("IMPORT ERROR: %1 cannot be read").arg(path));
    report_(QString("Import failed: %1 cannot be read").arg(path));
    return;
  }
  const Outcome o = import_archive(*bytes, path, false);
  report_(o.ok() ? QString("Imported %1").arg(path) : QString("Import of %1 failed: %2").arg(path, o.message));
}

Outcome AppDelegate::import_archive(const QByteArray& bytes, const QString& from, bool strict) {
  QString error;
  const auto root = decode_root_archive(bytes, &error);
  if (!root || root->metaType().id() != QMetaType::QVariantMap) {
    console_log(QString("IMPORT ERROR: %1 %2").arg(from, error));
    return Outcome::bad("archive", "This is not an export.", error);
  }
  // What may be written, checked before anything is.
  QList<std::pair<QString, QByteArray>> accepted;
  const QVariantMap entries = root->toMap();
  for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
    QString refused;
    if (!is_importable_name(it.key()) || it.value().metaType().id() != QMetaType::QByteArray)
      refused = it.key();
    else if (!is_catalogue_archive(it.value().toByteArray()))
      refused = it.key() + " is not a catalogue";
    if (refused.isEmpty()) {
      accepted.append({it.key(), it.value().toByteArray()});
      continue;
    }
    console_log(QString("IMPORT REFUSED: %1").arg(refused));
    if (strict) return Outcome::bad("archive", "This export holds what is not a catalogue.", refused);
  }
  if (accepted.isEmpty()) return Outcome::bad("archive", "This export holds no catalogue.");
  bool imported = false;
  QStringList failed;
  for (const auto& [name, entry] : accepted) {
    const QString target = documents_folder() + "/" + name;
    if (QFile::exists(target)) {
      const QString copy = target + ".before-import-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
      QFile::remove(copy);
      if (QFile::copy(target, copy)) console_log(QString("IMPORT: the replaced file is kept as %1").arg(copy));
    }
    if (save_file_logged(target, entry, QString("SAVE %1 !!!!!").arg(name)))
      imported = true;
    else
      failed << name;
  }
  if (imported) {
    bus_.post(note::LOAD);
    bus_.post(note::SAVE_ALL_LISTS);
  }
  if (!failed.isEmpty()) return Outcome::failed("The import could not write every catalogue.", failed.join(", "));
  return Outcome::done();
}

}  // namespace tavri

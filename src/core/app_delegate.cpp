#include "app_delegate.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <utility>

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
}

void AppDelegate::SAVE_ALL() { applicationWillTerminate(); }

void AppDelegate::toggle(ToolWindow* window) {
  if (!window) return;
  if (window->is_visible())
    window->close_window();
  else
    window->bring_to_front();
}

void AppDelegate::save() {
  QVariantMap top;
  for (const auto& [key, member] : kLayout) {
    ToolWindow* w = windows_.*member;
    top.insert(key, w ? w->frame() : QRectF());
  }
  const QByteArray bytes = encode_archive(top);
  const QString support = app_support_folder();
  console_log(QUrl::fromLocalFile(support + "/").toString());
  // The registry's save, which runs first, creates the application folder.
  save_file_logged(application_folder() + "/" + kWindowsFile, bytes, "SAVE WINDOWS !!!!!");
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
  QVariantMap files;
  for (const char* name : {kPlaylistFile, kScheduleFile}) {
    const QString path = documents_folder() + "/" + name;
    if (auto bytes = read_file(path))
      files.insert(name, *bytes);
    else
      console_log(QString("EXPORT: cannot read %1").arg(path));
  }
  console_log("SAVE TO FILE");
  PanelOptions options;
  options.name_field = "Export";
  options.prompt = "Select your export folder:";
  const auto chosen = dialogs_.save_panel(options);
  if (!chosen) return;
  const QString path = with_export_extension(*chosen);
  console_log(QString("EXPORT PATH: %1").arg(path));
  save_file_logged(path, encode_root_archive(files), "SAVE EXPORT !!!!!");
}

void AppDelegate::import_all() {
  PanelOptions options;
  options.choose_files = true;
  options.multiple = false;
  options.extensions = {kExportExtension};
  options.name_field = "Export";
  options.prompt = "Select your import file:";
  const auto chosen = dialogs_.open_panel(options);
  if (chosen && !chosen->isEmpty()) {
    const QString path = with_export_extension(chosen->first());
    console_log(QString("IMPORT PATH: %1").arg(path));
    QString error;
    const auto bytes = read_file(path);
    const auto root = bytes ? decode_root_archive(*bytes, &error) : std::nullopt;
    if (!root || root->metaType().id() != QMetaType::QVariantMap) {
      console_log(QString("IMPORT ERROR: %1 %2").arg(path, bytes ? error : "cannot be read"));
    } else {
      const QVariantMap entries = root->toMap();
      for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (!is_importable_name(it.key()) || it.value().metaType().id() != QMetaType::QByteArray) {
          console_log(QString("IMPORT REFUSED: %1").arg(it.key()));
          continue;
        }
        save_file_logged(documents_folder() + "/" + it.key(), it.value().toByteArray(),
                         QString("SAVE %1 !!!!!").arg(it.key()));
      }
    }
  }
  bus_.post(note::LOAD);
  bus_.post(note::SAVE_ALL_LISTS);
}

}  // namespace tavri

#include "registry_file.h"

#include <QDateTime>
#include <QDir>

#include "core/background_writer.h"
#include "core/console.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "core/text_rule.h"

namespace tavri::registry_file {
namespace {

constexpr char kSpeicher[] = "SPEICHER";
constexpr char kImageKey[] = "SPEICHER_IMAGE";
constexpr char kWindowKey[] = "SPEICHER_MAP_WINDOW";
constexpr char kScaleKey[] = "SPEICHER_MAP_WINDOW_SCALE";
constexpr char kOriginKey[] = "SPEICHER_MAP_WINDOW_POS";
// Ours, beside the classic keys; absent in files of earlier versions.
constexpr char kOperatorKey[] = "TAVRI_OPERATOR_PLAYERS";
constexpr char kListSendsKey[] = "TAVRI_LIST_SENDS";

QString working_copy_folder() { return app_support_folder() + "/" + kTempFolder; }

// When a saved registry was last current: its latest feedback time, or
// an invalid time when it does not decode or holds none.
QDateTime saved_as_of(const QByteArray& bytes) {
  QDateTime latest;
  if (const auto top = decode_archive(bytes))
    for (const QVariant& v : top->value(kSpeicher).toList())
      if (const QDateTime t = v.toMap().value("status_time").toDateTime(); t.isValid() && (!latest.isValid() || t > latest))
        latest = t;
  return latest;
}

}  // namespace

QString path() { return application_folder() + "/" + kRegistryFile; }
QString working_copy_path() { return registry_working_copy_path(); }

void save(const RecordArray& players, const MapState& map, const QSet<QString>& operator_players,
          const QVariant& list_sends) {
  QVariantMap top{{kSpeicher, to_variant_list(players)},
                  {kWindowKey, map.frame},
                  {kScaleKey, QVariant::fromValue(map.scale)},
                  {kOriginKey, map.origin}};
  if (!map.background.isNull()) top.insert(kImageKey, QVariant::fromValue(map.background));
  if (!operator_players.isEmpty()) {
    QStringList ids(operator_players.begin(), operator_players.end());
    ids.sort();
    top.insert(kOperatorKey, ids);
  }
  if (list_sends.isValid()) top.insert(kListSendsKey, list_sends);
  // Encoding ten thousand players and the plan, and both writes, happen on
  // the writer, in the order saves were asked.
  BackgroundWriter::instance().submit(path(), [top] {
    const QByteArray bytes = encode_archive(top);
    QDir().mkpath(application_folder());
    save_file_logged(path(), bytes, "SAVE DEVICES !!!!!");
    QDir().mkpath(working_copy_folder());
    save_file_logged(working_copy_path(), bytes, {});
  });
}

std::optional<SavedRegistry> load(QString* error) {
  // What was saved is what is read back.
  BackgroundWriter::instance().wait_idle(60000);
  const auto working = read_file(working_copy_path());
  const auto backup = read_file(path());
  const bool has_working = working && !working->isEmpty();
  const bool has_backup = backup && !backup->isEmpty();
  // A backup of the application folder restored as the README says comes back.
  const bool use_backup =
      has_backup && (!has_working || (*working != *backup && saved_as_of(*backup) > saved_as_of(*working)));
  if (!use_backup && !has_working) return std::nullopt;
  const QString chosen = use_backup ? path() : working_copy_path();
  const QByteArray& bytes = use_backup ? *backup : *working;
  console_log("LOAD DEVICES!!!!!");
  QString why;
  const auto top = decode_archive(bytes, &why);
  if (!top) {
    if (error) *error = QString("%1 - %2").arg(chosen, why);
    keep_damaged_copy(chosen);
    return std::nullopt;
  }
  SavedRegistry saved;
  const QVariantList list = top->value(kSpeicher).toList();
  saved.players = to_record_array(list);
  if (saved.players.size() != list.size() ||
      (top->contains(kSpeicher) && top->value(kSpeicher).typeId() != QMetaType::QVariantList)) {
    // What was dropped would be gone at the next save.
    if (error) *error = QString("%1 - entries that are not records were dropped").arg(chosen);
    keep_damaged_copy(chosen);
    saved.damaged = true;
  }
  const QStringList dropped = text_rule::drop_breaking_text(
      saved.players, {{"device_id", text_rule::Kind::id}, {"device_name", text_rule::Kind::name}});
  if (!dropped.isEmpty()) {
    for (const QString& line : dropped) console_log(QString("LOAD ERROR: %1 - %2").arg(chosen, line));
    if (error && error->isEmpty()) *error = QString("%1 - %2").arg(chosen, dropped.join("; "));
    if (!saved.damaged) keep_damaged_copy(chosen);
    saved.damaged = true;
  }
  const QVariant image = top->value(kImageKey);
  if (const PngImage* picture = picture_in(image)) saved.map.background = *picture;
  saved.has_frame = top->contains(kWindowKey);
  saved.map.frame = top->value(kWindowKey).toRectF();
  saved.has_scale = top->contains(kScaleKey);
  saved.map.scale = saved.has_scale ? top->value(kScaleKey).toFloat() : 1.0f;
  saved.has_origin = top->contains(kOriginKey);
  saved.map.origin = top->value(kOriginKey).toPointF();
  for (const QVariant& id : top->value(kOperatorKey).toList()) saved.operator_players.insert(id.toString());
  saved.list_sends = top->value(kListSendsKey);
  return saved;
}

}  // namespace tavri::registry_file

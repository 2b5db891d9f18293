#pragma once
#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QString>
#include <optional>

#include "core/record.h"

namespace tavri {

// What the map keeps in the registry's saved state.
struct MapState {
  QRectF frame;
  float scale = 1.0f;
  QPointF origin;
  PngImage background;
};

// The registry's saved state: the players in list order, the map, and the
// ids of the players the operator named, placed or commanded (which a full
// registry never gives up for a stranger).
struct SavedRegistry {
  RecordArray players;
  MapState map;
  bool has_frame = false, has_scale = false, has_origin = false;
  QSet<QString> operator_players;
  QVariant list_sends;  // ListSends::to_variant()
  bool damaged = false;  // entries that were not records were dropped
};

namespace registry_file {

// "tavri_AV_SERVER_DATA.sav" in the application folder, and the working copy.
QString path();
QString working_copy_path();

// Both files, written on the background writer from a snapshot.
void save(const RecordArray& players, const MapState& map, const QSet<QString>& operator_players,
          const QVariant& list_sends = {});

// The working copy, unless it is missing or empty or the application
// folder's copy is newer by its content. Nothing when neither holds
// anything; an error text (and a kept copy) when the one chosen is damaged.
std::optional<SavedRegistry> load(QString* error);

}  // namespace registry_file
}  // namespace tavri

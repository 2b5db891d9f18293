#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace tavri {

// What the movie decoder tells about one file. Every field is empty when
// the decoder does not know it.
struct MediaInfo {
  bool opened = false;
  std::optional<double> duration_seconds;
  QString kind;                  // "MPEG-4 movie", ...; empty when unknown
  QStringList media_types;       // distinct, in stream order: "Video", "Sound", "Text"
  int pixel_width = 0, pixel_height = 0;
  std::optional<qint64> video_bit_rate;
  QStringList codecs;            // display names, in stream order
  bool has_video = false;
  double last_video_fps = 0;     // nominal frame rate of the last video track
};

// Asked of the helper program "tavri_media_probe", found beside the
// application (or named by TAVRI_MEDIA_PROBE). On any failure of the helper
// the answer is empty, as for a file the decoder cannot open.
// With thumbnail, also the thumbnail of its first picture (see below).
MediaInfo probe_media(const QString& path, QByteArray* thumbnail = nullptr, int side = 0);
// True when the last probe on this thread got no answer from the helper
// (it was missing, crashed twice or hung): the file is not known to be
// unreadable and is probed again at the next scan.
bool last_media_probe_failed();

// The human-readable kind of a content file, by its extension.
QString media_kind_for(const QString& path);

// The first decodable picture of a movie or image file, scaled to fit a
// transparent side x side square and centred, as PNG bytes; empty when
// there is none.
QByteArray media_thumbnail(const QString& path, int side);

// Another helper program; an empty path goes back to the one found.
void set_media_probe_helper(const QString& path);

}  // namespace tavri

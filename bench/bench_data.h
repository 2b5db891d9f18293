// Data the benchmarks share: a real-sized catalogue (playlists of items with
// thumbnails, schedules of tasks) and a folder of generated media.
#pragma once
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QUrl>

#include "core/movielist.h"
#include "core/record.h"
#include "schedules/schedule_view.h"

namespace tavri::bench {

// Points HOME and the XDG folders at a fresh folder (before the application
// object exists) and makes its documents and content folders; the content
// folder's path.
inline QString fresh_home(const QTemporaryDir& home) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", (home.path() + "/Documents").toUtf8());
  QDir().mkpath(home.path() + "/Documents");
  QDir().mkpath(home.path() + "/content");
  return home.path() + "/content";
}

// A thumbnail that compresses like a picture: smooth shading and a label.
inline PngImage thumbnail(int i) {
  QImage image(300, 169, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  QLinearGradient g(0, 0, 300, 169);
  g.setColorAt(0, QColor::fromHsv((i * 37) % 360, 200, 220));
  g.setColorAt(1, QColor::fromHsv((i * 37 + 120) % 360, 160, 90));
  p.fillRect(image.rect(), g);
  p.setPen(Qt::white);
  p.drawText(image.rect(), Qt::AlignCenter, QString("Clip %1").arg(i));
  p.end();
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return {png};
}

inline Record item(int i, const PngImage& icon) {
  return Record{{"file_name", QString("Clip %1").arg(i)},
                {"file_url", QUrl::fromLocalFile(QString("/srv/content/Clip %1.mp4").arg(i))},
                {"is_img", false},
                {"file_length", 30.0 + i},
                {"file_fps", "25.00"},
                {"file_size", "120.50 MB"},
                {"file_create", "2026-01-01 10:00"},
                {"file_change", "2026-01-01 10:00"},
                {"file_id", 1000 + i},
                {"file_found", 1},
                {"file_kind", "MPEG-4 movie"},
                {"file_tracks", 2},
                {"file_resolution", "1920 x 1080"},
                {"file_codec", "H.264"},
                {"file_icon", QVariant::fromValue(icon)}};
}

// 100 playlists of 50 items each.
inline RecordArray playlists(int count = 100, int items_each = 50) {
  std::vector<PngImage> icons;
  for (int i = 0; i < items_each; ++i) icons.push_back(thumbnail(i));
  RecordArray out;
  for (int p = 1; p <= count; ++p) {
    RecordArray items;
    for (int i = 0; i < items_each; ++i) items.append(item((p * items_each + i) % 500, icons[i]));
    Record playlist{{"id", p}, {"name", QString("Playlist %1").arg(p, 3, 10, QChar('0'))}};
    store_movielist(playlist, items);
    out.append(playlist);
  }
  return out;
}

// 20 schedules of 30 tasks, each task playing one of the playlists.
inline RecordArray schedules(int count = 20, int tasks_each = 30, int playlist_count = 100) {
  RecordArray out;
  for (int s = 1; s <= count; ++s) {
    QVariantList tasks;
    for (int t = 0; t < tasks_each; ++t) {
      Record task = Schedule_View::new_task(QString("Task %1").arg(t), 1 + (s * tasks_each + t) % playlist_count);
      task["time"] = QString("%1:00").arg(t % 24, 2, 10, QChar('0'));
      tasks.append(task);
    }
    out.append({{"id", s}, {"name", QString("Week %1").arg(s)}, {"tasks", tasks_each}, {"tasklist", tasks}});
  }
  return out;
}

// `movies` copies of a 3-second 1080p H.264 movie (made once with ffmpeg)
// and `stills` 1080p stills, half PNG and half JPEG.
inline bool make_media_folder(const QString& dir, int movies, int stills, int seconds = 3) {
  const QString movie = dir + "/.source.mp4";
  QProcess p;
  p.start("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     "testsrc2=size=1920x1080:rate=25", "-f", "lavfi", "-i", "sine", "-t", QString::number(seconds),
                     "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", movie});
  if (!p.waitForFinished(300000) || p.exitCode() != 0) return false;
  QImage still(1920, 1080, QImage::Format_RGB32);
  for (int y = 0; y < still.height(); ++y)
    for (int x = 0; x < still.width(); ++x) still.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
  still.save(dir + "/.source.jpg", "JPG", 90);
  still.save(dir + "/.source.png", "PNG");
  for (int i = 0; i < movies; ++i) QFile::copy(movie, dir + QString("/movie_%1.mp4").arg(i, 4, 10, QChar('0')));
  for (int i = 0; i < stills; ++i)
    QFile::copy(dir + (i % 2 ? "/.source.jpg" : "/.source.png"),
                dir + QString("/still_%1.%2").arg(i, 4, 10, QChar('0')).arg(i % 2 ? "jpg" : "png"));
  QFile::remove(movie);
  QFile::remove(dir + "/.source.jpg");
  QFile::remove(dir + "/.source.png");
  return true;
}

}  // namespace tavri::bench

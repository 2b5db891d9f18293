// Saves on a full disk keep the old files: run inside a private mount
// namespace on a small tmpfs, which the test makes itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "core/background_writer.h"
#include "core/catalogue_file.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "playlists/published_file.h"
#include "players/udp_feedback.h"
#include "support/rerun_inside.h"
#include "support/scripted_dialogs.h"
#include "support/test_home.h"

using namespace tavri;

namespace {

constexpr char kInsideVariable[] = "TAVRI_SMALL_DISK";

QByteArray read_all(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Fills the file system until a write fails.
void fill_disk(const QString& dir) {
  QFile filler(dir + "/filler");
  ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  const QByteArray block(4096, 'f');
  while (filler.write(block) == block.size()) {
  }
}

class SmallDisk : public test::TestHome {};

}  // namespace

TEST_F(SmallDisk, FullDiskKeepsThePublishedFileTheCatalogueAndTheRegistry) {
  const QByteArray disk = qgetenv(kInsideVariable);
  if (disk.isEmpty()) {
    // Outside: run this test again inside its own mount namespace.
    QTemporaryDir mount_point;
    test::rerun_inside({"-m", "--propagation", "private"}, "mount -t tmpfs -o size=256k tmpfs \"$0\" && exec \"$@\"",
                       kInsideVariable, mount_point.path());
    return;
  }

  const QString root = QString::fromLocal8Bit(disk);
  qputenv("HOME", root.toUtf8());
  qputenv("XDG_DATA_HOME", (root + "/.local/share").toUtf8());
  qputenv("XDG_DOCUMENTS_DIR", (root + "/Documents").toUtf8());
  const QString content = root + "/content";
  QDir().mkpath(content);
  QDir().mkpath(documents_folder());

  // The old state, written while there is room.
  const QByteArray old_published = encode_root_archive(QVariantMap{{"name", "old"}, {"id", 1}});
  ASSERT_TRUE(publish_file(QUrl::fromLocalFile(content + "/"), "PLAYLIST_ID_1.SAV", old_published, "SAVE PLAYLIST TO ROOT !!!!!"));
  const QString catalogue = documents_folder() + "/" + kPlaylistFile;
  const RecordArray old_records{{{"id", 1}, {"name", "old"}}};
  ASSERT_TRUE(save_catalogue(catalogue, old_records, "SAVE PLAYLIST !!!!!"));
  const QByteArray old_catalogue = read_all(catalogue);

  net::IoPool pool{1};
  Bus bus;
  test::ScriptedDialogs dialogs;
  PlayerNetworkConfig config;
  config.feedback_port = 0;
  config.command_host = "127.0.0.1";
  UDP_Feedback registry(bus, dialogs, nullptr, config, &pool);
  registry.ArrayController_DEVICES().append({{"device_id", "A"}, {"device_name", "old"}});
  registry.save();
  BackgroundWriter::instance().wait_idle(10000);
  const QString registry_file = application_folder() + "/" + kRegistryFile;
  const QByteArray old_registry = read_all(registry_file);
  ASSERT_FALSE(old_registry.isEmpty());

  fill_disk(root);
  clear_log();
  // Smaller than a write buffer: a buffered write would fail only at the commit.
  const QByteArray big(2000, 'b');
  EXPECT_FALSE(publish_file(QUrl::fromLocalFile(content + "/"), "PLAYLIST_ID_1.SAV",
                            encode_root_archive(QVariantMap{{"name", "new"}, {"blob", big}}), "SAVE PLAYLIST TO ROOT !!!!!"));
  EXPECT_FALSE(save_catalogue(catalogue, {{{"id", 1}, {"name", "new"}, {"blob", big}}}, "SAVE PLAYLIST !!!!!"));
  registry.ArrayController_DEVICES().set_value(0, "device_name", QString(big));
  registry.save();
  BackgroundWriter::instance().wait_idle(10000);

  EXPECT_EQ(read_all(content + "/PLAYLIST_ID_1.SAV"), old_published);
  EXPECT_EQ(read_all(catalogue), old_catalogue);
  EXPECT_EQ(read_all(registry_file), old_registry);
  EXPECT_FALSE(log().contains("SAVE PLAYLIST TO ROOT !!!!!"));
  EXPECT_FALSE(log().contains("SAVE PLAYLIST !!!!!"));
  EXPECT_FALSE(log().contains("SAVE DEVICES !!!!!"));
  EXPECT_GE(log().count("SAVE ERROR !!!!!"), 3);
  // No temporary files are left behind to fill the disk further.
  EXPECT_EQ(QDir(content).entryList(QDir::Files | QDir::Hidden), QStringList{"PLAYLIST_ID_1.SAV"});
}

#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>

#include "core/catalogue.h"
#include "core/folders.h"
#include "core/keyed_archive.h"
#include "support/test_home.h"

using namespace tavri;

namespace {
class Autosave : public test::TestHome {};
}  // namespace

TEST_F(Autosave, KillAfterTheDebounceLosesNoEdit) {
  QProcess probe;
  probe.setProcessEnvironment(QProcessEnvironment::systemEnvironment());  // the test's HOME
  probe.start(TAVRI_AUTOSAVE_PROBE, QStringList{});
  ASSERT_TRUE(probe.waitForStarted(10000));
  ASSERT_TRUE(probe.waitForReadyRead(10000));
  ASSERT_TRUE(probe.readAll().contains("EDITED"));
  QThread::msleep(Catalogue::kAutosaveMs + 1500);
  probe.kill();  // SIGKILL: no quit path runs
  ASSERT_TRUE(probe.waitForFinished(10000));

  Catalogue playlists(kPlaylistFile, "", "");
  playlists.load();
  ASSERT_EQ(playlists.list().size(), 1);
  EXPECT_EQ(playlists.list().at(0)["name"], "kept after kill");

  QFile registry(app_support_folder() + "/" + kTempFolder + "/" + kRegistryWorkingCopy);
  ASSERT_TRUE(registry.open(QIODevice::ReadOnly));
  const auto top = decode_archive(registry.readAll());
  ASSERT_TRUE(top);
  const QVariantList devices = top->value("SPEICHER").toList();
  ASSERT_EQ(devices.size(), 1);
  EXPECT_EQ(devices[0].toMap()["device_id"], "PLAYER_1");
}

// Writes into a folder never leave it, whatever links an attacker puts in
// the file's place: before, during or after the write.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/file_beneath.h"

using namespace tavri;

namespace {
std::string read(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<missing>");
}
}  // namespace

TEST(FileBeneath, NeverWritesThroughALink) {
  QTemporaryDir dir;
  const QString folder = dir.path() + "/content", outside = dir.path() + "/outside.txt";
  QDir().mkpath(folder);
  QFile out(outside);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write("precious") == 8);
  out.close();
  const std::string f = folder.toStdString();

  // A link to a file outside, and a dangling one: refused, nothing written.
  ASSERT_EQ(::symlink(outside.toUtf8().constData(), (folder + "/evil.png").toUtf8().constData()), 0);
  ASSERT_EQ(::symlink((dir.path() + "/new.txt").toUtf8().constData(), (folder + "/dangling.png").toUtf8().constData()), 0);
  EXPECT_TRUE(FileBeneath::is_link(f, "evil.png"));
  EXPECT_TRUE(write_beneath(f, "evil.png", "attack"));
  EXPECT_TRUE(write_beneath(f, "dangling.png", "attack"));
  EXPECT_EQ(read(outside), "precious");
  EXPECT_FALSE(QFile::exists(dir.path() + "/new.txt"));
  for (const char* bad : {"../x.png", "", ".", "..", "a/b.png"}) EXPECT_TRUE(write_beneath(f, bad, "x")) << bad;

  // A link swapped in while the bytes arrive is replaced, not followed.
  FileBeneath file;
  ASSERT_FALSE(file.open(f, "swap.png", false));
  ASSERT_TRUE(file.write("new bytes", 9));
  ASSERT_EQ(::symlink(outside.toUtf8().constData(), (folder + "/swap.png").toUtf8().constData()), 0);
  EXPECT_TRUE(file.commit()) << "not replacing: the name was taken meanwhile";
  FileBeneath again;
  ASSERT_FALSE(QFile::remove(folder + "/nothing"));
  ASSERT_FALSE(again.open(f, "swap2.png", true));
  ASSERT_TRUE(again.write("new bytes", 9));
  ASSERT_EQ(::symlink(outside.toUtf8().constData(), (folder + "/swap2.png").toUtf8().constData()), 0);
  EXPECT_FALSE(again.commit());
  struct stat st {};
  ASSERT_EQ(::lstat((folder + "/swap2.png").toUtf8().constData(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(read(folder + "/swap2.png"), "new bytes");
  EXPECT_EQ(read(outside), "precious");

  // Nothing half-written is left behind by a cancelled write.
  {
    FileBeneath cancelled;
    ASSERT_FALSE(cancelled.open(f, "gone.png", true));
    cancelled.write("x", 1);
  }
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).filter(".part").size(), 0);
}

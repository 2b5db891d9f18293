// Writes into a folder never leave it, whatever links an attacker puts in
// the file's place: before, during or after the write.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fs/file_beneath.h"
#include "fs/open_beneath.h"

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

// Reads beneath a folder follow links only while they stay inside; without
// openat2 every link is refused (the caller then checks the path itself).
TEST(OpenBeneath, LinksAreFollowedOnlyWhileTheyStayInside) {
  QTemporaryDir dir;
  const std::string top = dir.path().toStdString(), root = top + "/content";
  ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/sub").c_str(), 0755), 0);
  for (const std::string& file : {root + "/sub/in.txt", top + "/secret"}) {
    QFile f(QString::fromStdString(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
  }
  ASSERT_EQ(::symlink("sub/in.txt", (root + "/near").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (root + "/dir").c_str()), 0);
  ASSERT_EQ(::symlink("../secret", (root + "/up").c_str()), 0);
  ASSERT_EQ(::symlink((top + "/secret").c_str(), (root + "/absolute").c_str()), 0);
  ASSERT_EQ(::symlink("..", (root + "/parent").c_str()), 0);
  const int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  struct Case {
    const char* path;
    bool inside, plain;  // opened following links; opened refusing them
  };
  for (bool openat2 : {true, false}) {
    fs::use_openat2(openat2);
    for (const Case& c : {Case{"sub/in.txt", true, true}, Case{"near", openat2, false}, Case{"dir/in.txt", openat2, false},
                          Case{"up", false, false}, Case{"absolute", false, false}, Case{"parent/secret", false, false},
                          Case{"../secret", false, false}, Case{"/etc/passwd", false, false}, Case{"sub/../sub/in.txt", openat2, openat2}}) {
      for (bool follow : {true, false}) {
        const int fd = fs::open_beneath(folder, c.path, O_RDONLY | O_CLOEXEC, 0, follow ? fs::Links::inside : fs::Links::none);
        EXPECT_EQ(fd >= 0, follow ? c.inside : c.plain) << c.path << " openat2 " << openat2 << " follow " << follow;
        if (fd >= 0) ::close(fd);
      }
    }
  }
  fs::use_openat2(true);
  ::close(folder);
}

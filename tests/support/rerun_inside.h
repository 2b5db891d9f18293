#pragma once
#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace tavri::test {

// Runs the current test once more in a child process under `unshare` (a
// private mount or network namespace made for it), with `variable` set to
// `value` so that the child knows it is inside. `script` is a shell line
// that prepares the namespace; it gets `value` as $0 and ends with
// `exec "$@"`. Skips, with the reason, where no such namespace can be made.
inline void rerun_inside(const QStringList& unshare_flags, const QString& script, const char* variable,
                         const QString& value) {
  if (QStandardPaths::findExecutable("unshare").isEmpty()) GTEST_SKIP() << "no unshare command";
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  QProcess inside;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(variable, value);
  inside.setProcessEnvironment(env);
  inside.setProcessChannelMode(QProcess::MergedChannels);
  inside.start("unshare", unshare_flags + QStringList{"sh", "-c", script, value, QCoreApplication::applicationFilePath(),
                                                      QString("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name())});
  ASSERT_TRUE(inside.waitForFinished(60000));
  const QString output = QString::fromLocal8Bit(inside.readAll());
  if (!output.contains("[ RUN      ]"))
    GTEST_SKIP() << "no private namespace could be made here: " << output.toStdString();
  EXPECT_EQ(inside.exitCode(), 0) << output.toStdString();
}

}  // namespace tavri::test

#pragma once
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <mutex>

#include "core/background_writer.h"
#include "core/console.h"
#include "fresh_home.h"

namespace tavri::test {

// Points HOME and the XDG folders at a fresh temporary folder and records
// every console line, for the life of one test.
class TestHome : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    use_home(home_.path());
    set_console_listener([this](const QString& line) {
      std::lock_guard lock(mutex_);
      log_ << line;
    });
  }
  void TearDown() override {
    wait_for_writes();  // nothing of this test lands in the next one
    set_console_listener(nullptr);
  }
  // Saves and publications that went to the background writer are on disk.
  static void wait_for_writes() { ASSERT_TRUE(BackgroundWriter::instance().wait_idle(20000)); }

  QString home() const { return home_.path(); }
  QStringList log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void clear_log() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }

 private:
  QTemporaryDir home_;
  std::mutex mutex_;
  QStringList log_;
};

}  // namespace tavri::test

#include <QApplication>
#include <gtest/gtest.h>

#include "server/service_publisher.h"

// Qt-based tests need an application object; they run on the offscreen platform.
int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // No service announcements from tests: they would leave the machine.
  tavri::http::ServicePublisher::set_enabled(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// Runs the real player network on the fixed ports inside a private network
// namespace (see netns_broadcast_test.sh): waits for a player's feedback,
// reports the record, then commands that player.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "core/bus.h"
#include "core/console.h"
#include "players/udp_feedback.h"
#include "support/scripted_dialogs.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int receives = 0;
  tavri::set_console_listener([&](const QString& line) {
    if (line.startsWith("RECEIVE FROM")) ++receives;
  });
  tavri::Bus bus;
  tavri::test::ScriptedDialogs dialogs;
  tavri::UDP_Feedback players(bus, dialogs);  // 5001, 255.255.255.255, 5002
  std::printf("READY\n");
  std::fflush(stdout);

  QTimer poll;
  int waited = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto& list = players.ArrayController_DEVICES();
    if (list.empty()) {
      if (++waited > 200) {
        std::printf("NO FEEDBACK\n");
        app.exit(1);
      }
      return;
    }
    poll.stop();
    // Let the repeated datagram arrive before counting.
    QTimer::singleShot(700, [&] {
      const auto r = list.at(0);
      std::printf("RECORD %s %s receives=%d\n", qPrintable(r["device_id"].toString()),
                  qPrintable(r["device_ip"].toString()), receives);
      list.select_rows({0});
      players.device_play();
      QTimer::singleShot(500, [&] {
        for (const QString& alert : dialogs.alert_messages()) std::printf("ALERT %s\n", qPrintable(alert));
        app.exit(0);
      });
    });
  });
  poll.start(50);
  return app.exec();
}

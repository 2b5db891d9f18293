// Makes one playlist edit and one registry change, says so, then runs until
// it is killed: the autosave test kills it with SIGKILL.
#include <QApplication>
#include <cstdio>

#include "core/bus.h"
#include "players/udp_feedback.h"
#include "playlists/play_list.h"
#include "support/scripted_dialogs.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  tavri::Bus bus;
  tavri::test::ScriptedDialogs dialogs;
  tavri::PlayList playlists(bus, dialogs);
  tavri::PlayerNetworkConfig config;
  config.feedback_port = 0;
  config.command_host = "127.0.0.1";
  tavri::UDP_Feedback registry(bus, dialogs, nullptr, config);
  playlists.load();
  registry.load();
  dialogs.prompt_answers.push_back(QString("kept after kill"));
  playlists.add_new_playlist();
  registry.ArrayController_DEVICES().append({{"device_id", "PLAYER_1"}, {"device_name", "kept"}});
  std::printf("EDITED\n");
  std::fflush(stdout);
  return app.exec();
}

// The saved state through the API: backup, and the catalogues' export and import.
#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "core/background_writer.h"
#include "core/folders.h"
#include "core/state_archive.h"

namespace tavri {

using namespace routes;

// The saved state as the writer leaves it once every save asked for now is
// done, and the history copied by the database itself while it is written.
ApiRoutes::Answer ApiRoutes::backup() {
  return Later([this](api::Respond respond) {
    c_.app.save_all_queued();
    BackgroundWriter::instance().after_pending(this, [this, respond = std::move(respond)]() mutable {
      QList<state_archive::Entry> entries;
      for (const QString& name : state_archive::entry_names())
        if (name != state_archive::history_entry_name())
          if (const auto bytes = read_file(state_archive::path_of(name))) entries.append({name, *bytes});
      c_.history.backup([entries, respond = std::move(respond)](std::optional<QByteArray> history) mutable {
        if (!history) return respond(error(500, "The history could not be copied (see the console)."));
        if (!history->isEmpty()) entries.append({state_archive::history_entry_name(), *history});
        respond({200, "application/x-tar",
                 state_archive::write(entries, QDateTime::currentSecsSinceEpoch()).toStdString()});
      });
    });
  });
}

// The catalogues as the window's export writes them, once every save asked
// for now is on disk.
ApiRoutes::Answer ApiRoutes::export_catalogues() {
  return Later([this](api::Respond respond) {
    c_.app.save_all_queued();
    BackgroundWriter::instance().after_pending(this, [this, respond = std::move(respond)] {
      respond({200, "application/octet-stream", c_.app.export_archive().toStdString()});
    });
  });
}

// As the window's import, but all or nothing: an archive that holds
// anything but the two catalogues changes nothing. Every edit is saved
// first, so that no save still queued writes over what is imported.
void ApiRoutes::import_catalogues(QByteArray archive, api::Respond respond) {
  c_.app.save_all_queued();
  BackgroundWriter::instance().after_pending(this, [this, archive, respond = std::move(respond)] {
    const Outcome o = c_.app.import_archive(archive, "the API", true);
    respond(o.ok() ? json(200, QJsonObject{{"imported", true},
                                           {"playlists", c_.playlists.ArrayController_PLAYLIST().size()},
                                           {"schedules", c_.schedule.ArrayController_SCHEDULELIST().size()}})
                   : refusal(o));
  });
}

}  // namespace tavri

// The content library: its items, thumbnails, uploads, streams and deletions.
#include <QFile>
#include <QJsonArray>
#include <QSet>
#include <QUrlQuery>

#include "api/api_routes.h"
#include "api/route_helpers.h"
#include "app/controllers.h"
#include "content/content_item.h"
#include "core/catalogue.h"
#include "core/movielist.h"

namespace tavri {

using namespace routes;

// GET or PUT {"path": "/srv/signage"}: the folder the players are served.
ApiRoutes::Answer ApiRoutes::folder(const api::Request& request) {
  FileList& library = c_.file_list;
  api::Response bad;
  if (request.method == "GET") return json(200, QJsonObject{{"path", library.folder_path()}});
  if (request.method != "PUT") return error(405, "GET or PUT");
  const auto body = body_object(request, bad);
  if (!body) return bad;
  if (!body->value("path").isString()) return error(400, "\"path\" must be a string", "path");
  const Outcome o = library.choose_folder(body->value("path").toString());
  return o.ok() ? json(200, QJsonObject{{"path", library.folder_path()}}) : refusal(o);
}

ApiRoutes::Answer ApiRoutes::content(const api::Request& request, const QStringList& parts) {
  FileList& library = c_.file_list;
  const RecordList& files = library.ArrayController_FILELIST();
  // Items are named by their file's name: what playlists and players use.
  auto file_of = [](const Record& r) { return r.value(key::FILE_URL).toUrl().fileName(); };
  if (parts.size() == 1) {
    if (request.method != "GET") return error(405, "GET");
    // Which playlists use each file, by id: one pass over the playlists.
    QHash<QString, QJsonArray> links;
    const RecordList& lists = c_.playlists.ArrayController_PLAYLIST();
    for (int i = 0; i < lists.size(); ++i) {
      QSet<QString> used;
      for (const Record& item : decode_movielist(lists.at(i), false)) used.insert(file_of(item));
      for (const QString& file : used) links[file].append(lists.at(i).value("id").toLongLong());
    }
    QJsonArray out;
    for (int i = 0; i < files.size(); ++i) {
      QJsonObject item = item_json(files.at(i));
      item.remove(key::FILE_URL);  // where it lies on the server is not the client's business
      const QString file = file_of(files.at(i));
      item.insert("file", file);
      item.insert("playlists", links.value(file));
      // A stream's address is the whole of its small file.
      if (file.endsWith(".stream")) {
        QFile stream(files.at(i).value(key::FILE_URL).toUrl().toLocalFile());
        if (stream.open(QIODevice::ReadOnly)) item.insert("address", QString::fromLatin1(stream.read(2048)).trimmed());
      }
      out.append(item);
    }
    return json(200, out);
  }
  api::Response bad;
  if (parts.size() == 2 && parts[1] == "streams") {
    if (request.method != "POST") return error(405, "POST");
    const auto body = body_object(request, bad);
    if (!body) return bad;
    for (const char* field : {"name", "address"})
      if (!body->value(field).isString()) return error(400, QString("\"%1\" must be a string").arg(field), field);
    const QString name = body->value("name").toString();
    const Outcome o = library.add_stream(name, body->value("address").toString());
    return o.ok() ? json(202, QJsonObject{{"file", name + ".stream"}}) : refusal(o);
  }
  if (parts.size() == 2 && request.method == "DELETE") {
    const QString unlink = QUrlQuery(text(request.query)).queryItemValue("unlink");
    if (!unlink.isEmpty() && unlink != "true" && unlink != "false")
      return error(400, "\"unlink\" is true or false", "unlink");
    // The window's question, answered by the caller: a linked file is not
    // deleted without saying what becomes of its items.
    const int index = library.index_of_file(parts[1]);
    if (unlink.isEmpty() && index >= 0) {
      const QUrl url = files.at(index).value(key::FILE_URL).toUrl();
      if (library.find_file_in_playlists(url))
        return error(409, QString("The file is linked in playlists: %1. Say unlink=true to take its items out, or "
                                  "unlink=false to leave them.")
                              .arg(library.getlinksforfile(url).join(", ")),
                     "unlink");
    }
    const Outcome o = library.delete_files({parts[1]}, unlink == "true");
    return o.ok() ? json(200, QJsonObject{{"deleted", parts[1]}, {"unlinked", unlink == "true"}}) : refusal(o);
  }
  if (parts.size() != 3 || parts[2] != "thumbnail") return error(404, "no such route");
  if (request.method != "GET") return error(405, "GET");
  const int index = library.index_of_file(parts[1]);
  if (index < 0) return error(404, QString("No content item is the file \"%1\".").arg(parts[1]), "file");
  const QVariant icon = files.at(index).value(key::FILE_ICON);
  const PngImage* image = picture_in(icon);
  if (!image || image->isNull()) return error(404, "this item has no thumbnail", "file");
  return api::Response{200, "image/png", image->png.toStdString()};
}

}  // namespace tavri

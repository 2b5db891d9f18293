#include "api/roles.h"

namespace tavri::api {

std::string_view role_name(Role role) {
  switch (role) {
    case Role::none: return "none";
    case Role::viewer: return "viewer";
    case Role::operator_: return "operator";
    case Role::admin: return "admin";
  }
  return "none";
}

std::optional<Role> role_named(std::string_view name) {
  for (Role r : {Role::viewer, Role::operator_, Role::admin})
    if (role_name(r) == name) return r;
  return std::nullopt;
}

const std::vector<RouteRole>& route_roles() {
  using enum Role;
  static const std::vector<RouteRole> table = {
      {"GET", "/healthz", none},
      {"GET", "/readyz", none},
      {"POST", "/api/login", none},
      {"GET", "/api/session", none},
      {"POST", "/api/logout", viewer},
      {"PUT", "/api/me/password", viewer},
      {"GET", "/metrics", viewer},
      {"GET", "/api/openapi.json", viewer},
      {"GET", "/api/events", viewer},
      {"GET", "/api/players", viewer},
      {"GET", "/api/players/{id}", viewer},
      {"PATCH", "/api/players/{id}", operator_},
      {"DELETE", "/api/players/{id}", admin},
      {"POST", "/api/players/{id}/accept-address", operator_},
      {"GET", "/api/commands", viewer},
      {"POST", "/api/commands", operator_},
      {"POST", "/api/send", operator_},
      {"POST", "/api/publish", operator_},
      {"GET", "/api/sites", viewer},
      {"GET", "/api/sites/{name}/players", viewer},
      {"POST", "/api/sites/requests", operator_},
      {"GET", "/api/announcement", viewer},
      {"GET", "/api/alerts", viewer},
      {"GET", "/api/log", operator_},
      {"POST", "/api/announcement", operator_},
      {"DELETE", "/api/announcement", operator_},
      {"GET", "/api/groups", viewer},
      {"POST", "/api/groups", operator_},
      {"DELETE", "/api/groups/{name}", operator_},
      {"POST", "/api/groups/{name}/add", operator_},
      {"POST", "/api/groups/{name}/remove", operator_},
      {"GET", "/api/playlists", viewer},
      {"POST", "/api/playlists", operator_},
      {"GET", "/api/playlists/{id}", viewer},
      {"PATCH", "/api/playlists/{id}", operator_},
      {"DELETE", "/api/playlists/{id}", operator_},
      {"POST", "/api/playlists/{id}/copy", operator_},
      {"PUT", "/api/playlists/{id}/items", operator_},
      {"GET", "/api/schedules", viewer},
      {"POST", "/api/schedules", operator_},
      {"GET", "/api/schedules/{id}", viewer},
      {"PATCH", "/api/schedules/{id}", operator_},
      {"DELETE", "/api/schedules/{id}", operator_},
      {"POST", "/api/schedules/{id}/copy", operator_},
      {"PUT", "/api/schedules/{id}/tasks", operator_},
      {"GET", "/api/content", viewer},
      {"POST", "/api/content/streams", operator_},
      {"PUT", "/api/content/{file}", operator_},
      {"DELETE", "/api/content/{file}", operator_},
      {"GET", "/api/content/{file}/thumbnail", viewer},
      {"GET", "/api/folder", viewer},
      {"PUT", "/api/folder", admin},
      {"POST", "/api/rescan", operator_},
      {"POST", "/api/save-all", operator_},
      {"GET", "/api/history/proof-of-play", viewer},
      {"GET", "/api/history/players/{id}", viewer},
      {"GET", "/api/export", operator_},
      {"GET", "/api/backup", admin},
      {"PUT", "/api/import", admin},
      {"PUT", "/api/restore", admin},
      {"PUT", "/api/password", admin},
      {"GET", "/api/users", admin},
      {"POST", "/api/users", admin},
      {"PATCH", "/api/users/{name}", admin},
      {"DELETE", "/api/users/{name}", admin},
      {"GET", "/api/tokens", admin},
      {"POST", "/api/tokens", admin},
      {"DELETE", "/api/tokens/{name}", admin},
      {"GET", "/api/audit", admin},
      {"GET", "/api/notifications", admin},
      {"PUT", "/api/notifications/webhooks/{name}", admin},
      {"DELETE", "/api/notifications/webhooks/{name}", admin},
      {"PUT", "/api/notifications/mail", admin},
      {"DELETE", "/api/notifications/mail", admin},
      {"POST", "/api/notifications/test", admin},
  };
  return table;
}

namespace {

bool matches(std::string_view pattern, std::string_view path) {
  while (!pattern.empty() && !path.empty()) {
    const auto p_end = pattern.find('/', 1), q_end = path.find('/', 1);
    const std::string_view p = pattern.substr(0, p_end), q = path.substr(0, q_end);
    const bool any = p.size() > 3 && p[1] == '{' && p.back() == '}';
    if (any ? q.size() < 2 : p != q) return false;
    pattern = p_end == std::string_view::npos ? std::string_view() : pattern.substr(p_end);
    path = q_end == std::string_view::npos ? std::string_view() : path.substr(q_end);
  }
  return pattern.empty() && path.empty();
}

}  // namespace

std::optional<Role> required_role(std::string_view method, std::string_view path) {
  // HEAD reads as GET does.
  if (method == "HEAD") method = "GET";
  for (const RouteRole& r : route_roles())
    if (r.method == method && matches(r.pattern, path)) return r.role;
  // A page of the console: open, like its files.
  if (method == "GET" && !path.starts_with("/api/") && path != "/metrics") return Role::none;
  return std::nullopt;
}

}  // namespace tavri::api

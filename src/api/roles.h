#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Who may call which route: one table, read by the listener before any
// route runs, by the OpenAPI document and by a test that holds the two to
// each other.
namespace tavri::api {

// Ordered: each role may do what the ones before it may.
enum class Role {
  none,      // open routes: health checks, the console's files, signing in
  viewer,    // sees everything, changes nothing
  operator_, // sends, commands, edits lists, schedules, groups and content
  admin,     // also removes players, restores, imports, sets the folder, manages accounts
};

std::string_view role_name(Role role);  // "viewer", "operator", "admin" ("none" for open routes)
std::optional<Role> role_named(std::string_view name);

struct RouteRole {
  std::string_view method;   // "GET", "POST", ...
  std::string_view pattern;  // "/api/players/{id}": {x} takes one path segment
  Role role;
};

// Every route of the listener, in the order they are matched.
const std::vector<RouteRole>& route_roles();

// The role a request needs; nothing for a route that is not in the table,
// which only the token's holder (an admin) may then reach, to be told
// there is no such route.
std::optional<Role> required_role(std::string_view method, std::string_view path);

}  // namespace tavri::api

#include "api/account_routes.h"

#include <cctype>
#include <ctime>
#include <nlohmann/json.hpp>

#include "api/sign_in_queue.h"

namespace tavri::api::accounts_routes {

namespace {

using nlohmann::json;

Response answer_json(int status, const json& body) { return {status, "application/json", body.dump()}; }
Response refused(int status, const std::string& message, const std::string& field = {}) {
  return {status, "application/json", error_body(message, field)};
}

std::string iso_time(std::int64_t seconds) {
  if (seconds <= 0) return {};
  char text[32];
  const std::time_t t = seconds;
  std::tm utc{};
  gmtime_r(&t, &utc);
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

json time_json(std::int64_t seconds) { return seconds > 0 ? json(iso_time(seconds)) : json(nullptr); }

// The body as an object, or the refusal already answered.
std::optional<json> body_of(const Request& request, const Respond& respond) {
  auto body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    respond(refused(400, "the body must be a JSON object"));
    return std::nullopt;
  }
  return body;
}

std::optional<std::string> text_field(const json& body, const char* field) {
  if (!body.contains(field) || !body[field].is_string()) return std::nullopt;
  return body[field].get<std::string>();
}

// A change that hashes a password waits its turn on the hashing threads,
// one at a time for each person asking.
void hashed(const Request& request, std::function<Response()> work, const Respond& respond) {
  const auto queued = SignInQueue::shared().submit("account " + request.caller.name, [work = std::move(work), respond] {
    return std::function<void()>([respond, answer = work()] { respond(answer); });
  });
  if (queued == SignInQueue::Queued::yes) return;
  Response busy = refused(503, "busy hashing passwords: try again");
  busy.headers.emplace_back("Retry-After", "1");
  respond(std::move(busy));
}

int status_of(const std::string& why) {
  if (why.starts_with("no account") || why.starts_with("no token")) return 404;
  if (why.starts_with("there is already") || why.starts_with("the last admin")) return 409;
  if (why.find("cannot be written") != std::string::npos) return 500;
  return 400;
}

void users(const std::shared_ptr<WebLogin>& web, const Request& request, const std::string& name, const Respond& respond) {
  Accounts& accounts = web->accounts();
  if (name.empty() && request.method == "GET") {
    json list = json::array();
    for (const auto& u : accounts.users())
      list.push_back({{"name", u.name}, {"role", role_name(u.role)}, {"created", time_json(u.created)}});
    return respond(answer_json(200, list));
  }
  if (name.empty() && request.method != "POST") return respond(refused(405, "GET or POST"));
  if (!name.empty() && request.method == "DELETE") {
    if (const auto why = accounts.remove_user(name)) return respond(refused(status_of(*why), *why, "name"));
    return respond(answer_json(200, {{"removed", name}}));
  }
  if (!name.empty() && request.method != "PATCH") return respond(refused(405, "PATCH or DELETE"));
  const auto body = body_of(request, respond);
  if (!body) return;
  const auto user = name.empty() ? text_field(*body, "name") : std::optional(name);
  if (!user) return respond(refused(400, "\"name\" must be a string", "name"));
  std::optional<Role> role;
  if (body->contains("role")) {
    role = (*body)["role"].is_string() ? role_named((*body)["role"].get<std::string>()) : std::nullopt;
    if (!role) return respond(refused(400, "\"role\" must be viewer, operator or admin", "role"));
  }
  const auto password = text_field(*body, "password");
  if (body->contains("password") && !password) return respond(refused(400, "\"password\" must be a string", "password"));
  if (name.empty()) {
    if (!role || !password) return respond(refused(400, "a new account needs a \"role\" and a \"password\"", !role ? "role" : "password"));
    if (const auto why = Accounts::name_problem(*user)) return respond(refused(400, *why, "name"));
    if (const auto why = Accounts::password_problem(*password)) return respond(refused(400, *why, "password"));
    return hashed(request, [web, user = *user, role = *role, password = *password] {
      if (const auto why = web->accounts().add_user(user, role, password)) return refused(status_of(*why), *why, "name");
      return answer_json(201, {{"name", user}, {"role", role_name(role)}});
    }, respond);
  }
  if (!role && !password) return respond(refused(400, "give a \"role\", a \"password\" or both"));
  if (!accounts.role_of(*user)) return respond(refused(404, "no account is named \"" + *user + "\"", "name"));
  if (password)
    if (const auto why = Accounts::password_problem(*password)) return respond(refused(400, *why, "password"));
  if (role)
    if (const auto why = accounts.set_role(*user, *role)) return respond(refused(status_of(*why), *why, "role"));
  if (!password) return respond(answer_json(200, {{"name", *user}, {"role", role_name(*role)}}));
  hashed(request, [web, user = *user, password = *password] {
    if (const auto why = web->accounts().set_password(user, password)) return refused(status_of(*why), *why, "password");
    return answer_json(200, {{"name", user}, {"password_set", true}});
  }, respond);
}

void tokens(const std::shared_ptr<WebLogin>& web, const Request& request, const std::string& name, const Respond& respond) {
  Accounts& accounts = web->accounts();
  if (name.empty() && request.method == "GET") {
    json list = json::array();
    for (const auto& t : accounts.tokens())
      list.push_back({{"name", t.name}, {"role", role_name(t.role)}, {"created", time_json(t.created)},
                      {"last_used", time_json(t.last_used)}});
    return respond(answer_json(200, list));
  }
  if (!name.empty()) {
    if (request.method != "DELETE") return respond(refused(405, "DELETE"));
    if (const auto why = accounts.revoke_token(name)) return respond(refused(status_of(*why), *why, "name"));
    return respond(answer_json(200, {{"revoked", name}}));
  }
  if (request.method != "POST") return respond(refused(405, "GET or POST"));
  const auto body = body_of(request, respond);
  if (!body) return;
  const auto token_name = text_field(*body, "name");
  if (!token_name) return respond(refused(400, "\"name\" must be a string", "name"));
  const auto role = text_field(*body, "role") ? role_named(*text_field(*body, "role")) : std::nullopt;
  if (!role) return respond(refused(400, "\"role\" must be viewer, operator or admin", "role"));
  std::string why;
  const auto token = accounts.create_token(*token_name, *role, why);
  if (!token) return respond(refused(status_of(why), why, "name"));
  // The only time the token is shown: the server keeps its hash.
  respond(answer_json(201, {{"name", *token_name}, {"role", role_name(*role)}, {"token", *token}}));
}

// One's own password, with the current one: a session left open on a
// shared screen cannot be turned into someone else's account.
void own_password(const std::shared_ptr<WebLogin>& web, const Request& request, const Respond& respond) {
  if (request.method != "PUT") return respond(refused(405, "PUT"));
  if (request.caller.kind != Caller::Kind::session)
    return respond(refused(403, "only a person signed in to the console has a password of their own"));
  const auto body = body_of(request, respond);
  if (!body) return;
  const auto current = text_field(*body, "current"), password = text_field(*body, "password");
  if (!current) return respond(refused(400, "\"current\" must be your password now", "current"));
  if (!password) return respond(refused(400, "\"password\" must be a string", "password"));
  if (const auto why = Accounts::password_problem(*password)) return respond(refused(400, *why, "password"));
  hashed(request, [web, user = request.caller.name, current = *current, password = *password] {
    if (!web->accounts().check_password(user, current)) return refused(403, "the current password is wrong", "current");
    if (const auto why = web->accounts().set_password(user, password)) return refused(status_of(*why), *why, "password");
    return answer_json(200, {{"password_set", true}});
  }, respond);
}

// The name after a prefix, percent-decoded ("ops%40lobby"); "/" when more follows.
std::string segment(const std::string& path, std::size_t prefix) {
  const std::string rest = path.substr(prefix);
  if (rest.find('/') != std::string::npos) return "/";
  std::string name;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() + 0 && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
      name += static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      name += rest[i];
    }
  }
  return name;
}

}  // namespace

bool answer(const std::shared_ptr<WebLogin>& web, const Request& request, const Respond& respond) {
  const std::string& path = request.path;
  if (path == "/api/me/password") return own_password(web, request, respond), true;
  for (const auto& [prefix, route] : {std::pair<std::string, decltype(&users)>{"/api/users", &users}, {"/api/tokens", &tokens}}) {
    if (path == prefix) return route(web, request, {}, respond), true;
    if (path.starts_with(prefix + "/")) {
      const std::string name = segment(path, prefix.size() + 1);
      if (name == "/" || name.empty()) return respond(refused(404, "no such route")), true;
      route(web, request, name, respond);
      return true;
    }
  }
  return false;
}

}  // namespace tavri::api::accounts_routes

#include "api/web_routes.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cctype>
#include <nlohmann/json.hpp>

#include "api/account_routes.h"
#include "api/api_token.h"
#include "api/sign_in_queue.h"
#include "api/web_assets.h"

namespace tavri::api::web {

namespace {

bool changes_something(const std::string& method) { return method != "GET" && method != "HEAD"; }

bool is_console_file(const Request& request) {
  return request.method == "GET" && !request.path.starts_with("/api/") && find_asset(request.path) != nullptr;
}

Response json_answer(int status, std::string body) { return {status, "application/json", std::move(body)}; }

std::string not_a_password() { return error_body("the body must be {\"password\": \"...\"}", "password"); }

// The password a body gives: {"password": "..."}; nothing when it does not.
std::optional<std::string> password_of(const std::string& body) {
  const auto doc = nlohmann::json::parse(body, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("password") || !doc["password"].is_string())
    return std::nullopt;
  return doc["password"].get<std::string>();
}

// Whom the guessing brake counts: one machine, however many addresses it
// takes (all of loopback, an IPv4 /24, an IPv6 /64).
std::string brake_source(const std::string& client) {
  boost::system::error_code ec;
  auto address = boost::asio::ip::make_address(client, ec);
  if (ec) return client;
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
  if (address.is_loopback()) return "loopback";
  if (address.is_v4()) {
    auto bytes = address.to_v4().to_bytes();
    bytes[3] = 0;
    return boost::asio::ip::address_v4(bytes).to_string() + "/24";
  }
  auto bytes = address.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return boost::asio::ip::address_v6(bytes).to_string() + "/64";
}

bool is_json(std::string_view content_type) {
  const auto type = content_type.substr(0, content_type.find(';'));
  return type.size() == 16 && std::equal(type.begin(), type.end(), "application/json", [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

void sign_in(const std::shared_ptr<WebLogin>& web, Request request, bool tls, const Respond& respond) {
  // Only the console's own page signs in: a form or a no-cors request from
  // another site cannot send JSON, and a page that can says its origin.
  if (!is_json(request.content_type))
    return respond(json_answer(415, error_body("the body must be JSON (Content-Type: application/json)")));
  if (!request.origin.empty() && request.origin != "http://" + request.host && request.origin != "https://" + request.host)
    return respond(json_answer(403, error_body("signing in is only for the console's own page", "Origin")));
  const auto password = password_of(request.body);
  if (!password) return respond(json_answer(400, not_a_password()));
  // Older consoles and scripts send only the password: the admin's.
  std::string user = "admin";
  if (const auto doc = nlohmann::json::parse(request.body, nullptr, false); doc.contains("name")) {
    if (!doc["name"].is_string() || Accounts::name_problem(doc["name"].get<std::string>()))
      return respond(json_answer(400, error_body("\"name\" must be an account's name", "name")));
    user = doc["name"].get<std::string>();
  }
  // A browser that signed in here before has a brake of its own.
  const std::string device = web->known_device(request.cookie);
  request.client = device.empty() ? brake_source(request.client) : "device " + device;
  if (const int wait = web->pause_left(request.client); wait > 0) {
    Response busy = json_answer(429, error_body("too many wrong passwords: try again in " + std::to_string(wait) + " s",
                                                "password"));
    busy.headers.emplace_back("Retry-After", std::to_string(wait));
    return respond(std::move(busy));
  }
  if (!web->has_password())
    return respond(json_answer(
        409, error_body("no account is made: make one with \"tavri-avctl user add NAME --role admin\" on the server",
                        "password")));
  // The hash takes tens of milliseconds: not on the listener's thread.
  const auto queued = SignInQueue::shared().submit(request.client, [web, client = request.client, device, user,
                                                                     password = *password, tls, respond] {
    const auto session = web->sign_in(client, user, password);
    Response answer = json_answer(401, error_body("the name or the password is wrong", "password"));
    if (session) {
      answer = json_answer(200, nlohmann::json{{"csrf", session->csrf}, {"name", session->user},
                                               {"role", role_name(session->role)}}
                                    .dump());
      answer.headers.emplace_back("Set-Cookie", WebLogin::cookie(session->id, tls));
      if (device.empty()) answer.headers.emplace_back("Set-Cookie", WebLogin::device_cookie(web->remember_device(), tls));
    }
    // Answered once the source is free: its next sign-in is not turned away as still being checked.
    return std::function<void()>([respond, answer] { respond(answer); });
  });
  if (queued == SignInQueue::Queued::yes) return;
  Response busy = queued == SignInQueue::Queued::source_busy
                      ? json_answer(429, error_body("a sign-in from here is being checked: try again", "password"))
                      : json_answer(503, error_body("busy signing others in: try again", "password"));
  busy.headers.emplace_back("Retry-After", "1");
  respond(std::move(busy));
}

}  // namespace

bool known_host(std::string_view host, const std::vector<std::string>& names) {
  // "[::1]:5080", "127.0.0.1:5080", "name:5080", "name"
  std::string_view name = host;
  if (name.starts_with('[')) {
    const auto close = name.find(']');
    if (close == std::string_view::npos) return false;
    const auto rest = name.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return false;
    boost::system::error_code ec;
    boost::asio::ip::make_address_v6(std::string(name.substr(1, close - 1)), ec);
    return !ec;
  }
  if (const auto colon = name.rfind(':'); colon != std::string_view::npos) name = name.substr(0, colon);
  if (name.empty()) return false;
  boost::system::error_code ec;
  boost::asio::ip::make_address_v4(std::string(name), ec);
  if (!ec) return true;
  auto same = [&](std::string_view known) {
    return known.size() == name.size() &&
           std::equal(known.begin(), known.end(), name.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
  };
  return same("localhost") || std::any_of(names.begin(), names.end(), same);
}

Access access(WebLogin* web, const Request& request, std::string_view authorization, std::string_view token,
              Caller& caller) {
  caller = {};
  if (request.path == "/healthz" || request.path == "/readyz") return Access::open;
  constexpr std::string_view kBearer = "Bearer ";
  if (authorization.starts_with(kBearer)) {
    const std::string_view given = authorization.substr(kBearer.size());
    if (same_token(given, token)) {
      caller = {Caller::Kind::service_token, "service token", Role::admin, {}};
      return Access::token;
    }
    if (web)
      if (const auto holder = web->accounts().token_holder(given, static_cast<std::int64_t>(::time(nullptr)))) {
        caller = {Caller::Kind::token, holder->name, holder->role, holder->id};
        return Access::token;
      }
  }
  if (!web) return Access::refused;
  if (is_console_file(request) || (request.path == "/api/login" && request.method == "POST") ||
      (request.path == "/api/session" && request.method == "GET"))
    return Access::open;
  const auto session = web->session(request.cookie);
  if (!session) return Access::refused;
  if (changes_something(request.method) && !same_token(request.csrf, session->csrf)) return Access::forged;
  caller = {Caller::Kind::session, session->user, session->role, session->id};
  return Access::session;
}

std::optional<std::string> forbidden(const Request& request, const Caller& caller) {
  // A route not in the table is the service token's to find missing.
  const Role needed = required_role(request.method, request.path).value_or(Role::admin);
  if (needed == Role::none || caller.role >= needed) return std::nullopt;
  return "this needs the " + std::string(role_name(needed)) + " role; " + caller.name + " is " +
         (caller.role == Role::admin ? "an " : "a ") + std::string(role_name(caller.role));
}

bool answer(const std::shared_ptr<WebLogin>& web, const Request& request, bool tls,
            const Respond& respond) {
  if (!web) return false;
  // Every route here answers; `reply` says so to the caller.
  auto reply = [&](Response response) {
    respond(std::move(response));
    return true;
  };
  const std::string& path = request.path;
  if (path == "/api/login") {
    if (request.method != "POST") return reply(json_answer(405, error_body("only POST")));
    sign_in(web, request, tls, respond);
    return true;
  }
  if (path == "/api/session") {
    const auto session = web->session(request.cookie);
    const auto state = session ? nlohmann::json{{"signed_in", true}, {"csrf", session->csrf}, {"name", session->user},
                                                {"role", role_name(session->role)}}
                               : nlohmann::json{{"signed_in", false}, {"password_set", web->has_password()}};
    return reply(json_answer(200, state.dump()));
  }
  if (path == "/api/logout") {
    if (request.method != "POST") return reply(json_answer(405, error_body("only POST")));
    if (const auto session = web->session(request.cookie)) web->sign_out(session->id);
    Response out = json_answer(200, "{\"signed_out\":true}");
    out.headers.emplace_back("Set-Cookie", WebLogin::expired_cookie(tls));
    return reply(std::move(out));
  }
  if (path == "/api/password") {
    if (request.method != "PUT") return reply(json_answer(405, error_body("only PUT")));
    const auto password = password_of(request.body);
    if (!password) return reply(json_answer(400, not_a_password()));
    // Hashing is slow, but rare and only for an admin.
    if (const auto refused = web->set_password(*password)) return reply(json_answer(400, error_body(*refused, "password")));
    return reply(json_answer(200, "{\"password_set\":true}"));
  }
  if (accounts_routes::answer(web, request, respond)) return true;
  if (path.starts_with("/api/") || path == "/healthz" || path == "/readyz" || path == "/metrics") return false;
  const Asset* asset = find_asset(path);
  if (!asset || request.method != "GET") return reply(json_answer(404, error_body("no such page")));
  Response file{200, std::string(asset->content_type), std::string(asset->body)};
  // The files change only with the binary; a reload asks whether they did.
  file.headers.emplace_back("Cache-Control", "no-cache");
  return reply(std::move(file));
}

}  // namespace tavri::api::web

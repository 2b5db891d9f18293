#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api_server.h"
#include "api/web_login.h"

// Who may do what on the listener, and the web console's own routes: its
// files, signing in and out, and the operator's password.
namespace tavri::api::web {

enum class Access {
  open,     // needs no one: the health checks, the console's files, signing in
  token,    // the bearer token: scripts and tavri-avctl
  session,  // a signed-in browser, with the CSRF token where it changes something
  refused,  // 401
  forged,   // 403: a browser's change without its CSRF token
};

// `web` may be null: then only the token opens anything. Who it is goes
// into `caller`.
Access access(WebLogin* web, const Request& request, std::string_view authorization, std::string_view token,
              Caller& caller);

// Why `caller` may not make `request`; nothing when it may.
std::optional<std::string> forbidden(const Request& request, const Caller& caller);

// Whether a Host header names this service: an IP address (what a person
// types), "localhost", or one of `names`; with or without a port.
bool known_host(std::string_view host, const std::vector<std::string>& names);

// Answers the console's routes; false when the request is the API's.
// `tls`: the cookie is marked Secure.
bool answer(const std::shared_ptr<WebLogin>& web, const Request& request, bool tls,
            const Respond& respond);

// The headers every answer carries: no inline script, no framing, no sniffing.
inline constexpr std::string_view kContentSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
    "object-src 'none'; base-uri 'none'; frame-ancestors 'none'; form-action 'self'";

}  // namespace tavri::api::web

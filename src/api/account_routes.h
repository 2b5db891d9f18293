#pragma once
#include <memory>

#include "api/api_server.h"
#include "api/web_login.h"

// The routes that manage people and tokens: /api/users, /api/tokens and a
// person's own password (/api/me/password). Answered on the listener's
// side; what hashes a password runs on the sign-in queue's threads.
namespace tavri::api::accounts_routes {

// False when the request is not one of these routes.
bool answer(const std::shared_ptr<WebLogin>& web, const Request& request, const Respond& respond);

}  // namespace tavri::api::accounts_routes

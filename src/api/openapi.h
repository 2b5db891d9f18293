#pragma once
#include <string>

namespace tavri {

// The API's OpenAPI 3 document, served at /api/openapi.json; a test holds
// it to the routes.
std::string openapi_document();

}  // namespace tavri

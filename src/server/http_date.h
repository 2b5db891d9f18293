#pragma once
#include <ctime>
#include <string>

namespace tavri::http {

// "EEE, dd MMM y HH:mm:ss 'GMT'" in GMT with English names.
std::string http_date(std::time_t when);
const std::string& http_date_now();

}  // namespace tavri::http

#pragma once
#include <cstdint>
#include <functional>
#include <string>

// A blocking client of the server's JSON API, for the command line.
namespace tavri::avctl {

struct Reply {
  int status = 0;  // 0: no answer (`error` says why)
  std::string body;
  std::string error;
};

struct Endpoint {
  std::string host, port;
  bool tls = false;
  std::string ca_file;  // with TLS: the certificate to trust; empty: the system's
};

class ApiClient {
 public:
  ApiClient(Endpoint endpoint, std::string token) : endpoint_(std::move(endpoint)), token_(std::move(token)) {}
  ApiClient(std::string host, std::string port, std::string token)
      : ApiClient(Endpoint{std::move(host), std::move(port), false, {}}, std::move(token)) {}

  // Another way to the API than HTTP (a site through the broker): it takes
  // the calls; uploads and the event stream are refused.
  using Transport = std::function<Reply(const std::string& method, const std::string& target, const std::string& body)>;
  void set_transport(Transport transport) { transport_ = std::move(transport); }

  Reply call(const std::string& method, const std::string& target, const std::string& body = {}) const;
  // Changes are sent against this version (If-Match) until it is cleared.
  void set_if_match(std::string etag) { if_match_ = std::move(etag); }
  // PUTs a file as the body, block by block, telling `progress` the bytes
  // sent so far and the whole; a refusal comes before the body is sent.
  Reply upload(const std::string& target, const std::string& path,
               const std::function<void(std::uint64_t sent, std::uint64_t total)>& progress) const;
  // Follows the event stream: each event's name and data until the server
  // closes it or `on_event` returns false. The failure, or empty.
  std::string follow(const std::string& target,
                     const std::function<bool(const std::string& event, const std::string& data)>& on_event) const;

 private:
  Endpoint endpoint_;
  std::string token_;
  std::string if_match_;
  Transport transport_;
};

}  // namespace tavri::avctl

#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/roles.h"
#include "api/web_login.h"

// The JSON API's HTTP listener: requests, who sends them (the bearer token,
// or a web console session with its CSRF token), the limits and the event
// stream. What a request does is the handler's business; this layer knows
// no route but the open ones, the console's own (web_routes) and the event
// stream.
namespace tavri::api {

// Who sent a request, as the listener found out.
struct Caller {
  enum class Kind { nobody, service_token, token, session, hub };
  Kind kind = Kind::nobody;
  std::string name;  // the account or the token's name; "service token"; "hub"
  Role role = Role::none;
  std::string session_id;  // a console session's, or a named token's own id
};

struct Request {
  std::string method;  // "GET"
  std::string path;    // "/api/players", without the query
  std::string query;   // "from=2026-01-01&to=2026-02-01"
  std::string body;
  // What the web console's sign-in needs: the peer's address, its Cookie
  // and X-CSRF-Token headers.
  std::string client, cookie, csrf;
  // Who the client thinks it talks to, which page sent it, and as what.
  std::string host, origin, content_type;
  std::string if_match;  // the ETag a change was made against
  Caller caller;
};

struct Response {
  Response() = default;
  Response(int status_, std::string type, std::string body_)
      : status(status_), content_type(std::move(type)), body(std::move(body_)) {}
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // more than the type
};

// Called on the listener's thread. `respond` may be called from any thread,
// once; a request whose respond is dropped is closed.
using Respond = std::function<void(Response)>;
using Handler = std::function<void(Request, Respond)>;

// A request body taken as it arrives instead of held: an upload.
struct Upload {
  // On the listener's thread, block by block; false stops the upload.
  std::function<bool(const char* data, std::size_t size)> write;
  // Once: the whole body arrived (answer with `respond`), or it did not
  // (the client left, a write failed, the deadline passed).
  std::function<void(bool complete, Respond respond)> finish;
};
// Called on the listener's thread with an authorized upload's head (its
// body empty) and its length; `ready` takes the upload or, with none, the
// refusal that answers it. `ready` may be called from any thread, once.
using Ready = std::function<void(std::optional<Upload>, Response refusal)>;
using UploadHandler = std::function<void(Request head, std::uint64_t length, Ready ready)>;

// Told of every request that would change something (whatever the method
// but GET and HEAD) once it is answered, refusals included, and of every
// sign-in; the upload's length stands in for its body. On any thread.
using Audit = std::function<void(const Request& request, const Response& response)>;

struct ServerConfig {
  std::string address = "127.0.0.1";
  std::uint16_t port = 5080;
  std::string token;  // what "Authorization: Bearer" must carry
  // The web console's sign-in; without it the console is not served and
  // only the token opens the API.
  std::shared_ptr<WebLogin> web;
  Audit audit;
  // PEM files; with both, every connection speaks TLS.
  std::string tls_certificate, tls_key;
  std::size_t body_limit = 1 << 20;
  // PUT requests to paths starting so stream their bodies to the upload
  // handler, up to upload_limit bytes.
  std::vector<std::string> upload_paths = {"/api/content/", "/api/restore", "/api/import"};
  std::uint64_t upload_limit = std::uint64_t(64) << 30;
  std::size_t header_limit = 16 * 1024;
  // To read a request and to write its answer; an idle keep-alive
  // connection is closed after it too.
  std::chrono::milliseconds deadline{30000};
  // Requests' connections; past it the least needed one is closed (one that
  // never showed a credential, then an idle one) to make room.
  std::size_t max_connections = 64;
  // Event streams, apart from those; past it the oldest closes.
  std::size_t max_event_streams = 32;
  // Bytes of events waiting for a slow event-stream client; past this they
  // are replaced by one "resync" event. A whole fleet going dark at once
  // (10,000 "offline" events, under 1 MiB) fits.
  std::size_t max_event_backlog_bytes = 1 << 20;
  // Names besides "localhost" and IP addresses that clients may reach
  // the service by (the Host header); others are refused with 421.
  std::vector<std::string> host_names;
  std::chrono::milliseconds keep_alive_comment{15000};
};

struct Counters {
  std::atomic<std::uint64_t> requests{0};
  std::atomic<std::uint64_t> unauthorized{0};
  std::atomic<std::uint64_t> refused_connections{0};
  std::atomic<std::uint64_t> evicted_connections{0};
  std::atomic<std::uint64_t> resyncs{0};
  std::atomic<int> open_connections{0};
  std::atomic<int> event_streams{0};
};

// The JSON error body every refusal carries: {"error": ..., "field": ...}.
std::string error_body(std::string_view message, std::string_view field = {});
// `text` as a JSON string literal, quotes included.
std::string json_string(std::string_view text);

// Why a certificate and key cannot serve TLS (unreadable, not PEM, or a
// key that is not the certificate's); nothing when they can.
std::optional<std::string> tls_problem(const std::string& certificate, const std::string& key);

class ApiServer {
 public:
  ApiServer(ServerConfig config, Handler handler, UploadHandler uploads = {});
  ~ApiServer();
  ApiServer(const ApiServer&) = delete;
  ApiServer& operator=(const ApiServer&) = delete;

  // Binds and starts the listener's thread; false, with the reason, when
  // the address cannot be bound.
  bool start(std::string& error);
  void stop();
  std::uint16_t port() const;
  // One event to every open event stream ("event: NAME", "data: JSON").
  void publish(std::string_view event, std::string_view json);
  const Counters& counters() const;

  struct State;  // shared with the connections

 private:
  std::shared_ptr<State> state_;
};

}  // namespace tavri::api

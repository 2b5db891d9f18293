// The web console's sign-in: the password's hash, the brake on guessing,
// and a browser session's cookie and CSRF token on the listener.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <fstream>
#include <sstream>
#include <regex>

#include "api/api_server.h"
#include "api/sign_in_queue.h"
#include "api/web_login.h"

using namespace tavri::api;

namespace {

const std::string kToken(64, 'a');
const std::string kPassword = "correct horse";

std::string accounts_file(const QTemporaryDir& dir) { return (dir.path() + "/accounts.json").toStdString(); }
std::shared_ptr<Accounts> accounts_in(const QTemporaryDir& dir) { return std::make_shared<Accounts>(accounts_file(dir)); }

}  // namespace

TEST(WebLogin, KeepsAnArgon2idHashAndBrakesGuessing) {
  QTemporaryDir dir;
  WebLogin login(accounts_in(dir));
  EXPECT_FALSE(login.has_password());
  EXPECT_FALSE(login.sign_in("10.0.0.9", "admin", ""));  // no account: nobody gets in
  EXPECT_TRUE(login.set_password("short").has_value());
  ASSERT_FALSE(login.set_password(kPassword).has_value());
  struct stat st{};
  ASSERT_EQ(::stat(accounts_file(dir).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::stringstream stored;
  stored << std::ifstream(accounts_file(dir)).rdbuf();
  EXPECT_NE(stored.str().find("\"$argon2id$"), std::string::npos);
  EXPECT_EQ(stored.str().find(kPassword), std::string::npos);
  EXPECT_FALSE(login.sign_in("10.0.0.9", "nobody", kPassword));

  const auto t0 = WebLogin::Clock::now();
  for (int i = 0; i < WebLogin::kFailuresBeforePause; ++i) {
    EXPECT_EQ(login.pause_left("10.0.0.1", t0), 0);
    EXPECT_FALSE(login.sign_in("10.0.0.1", "admin", "guess " + std::to_string(i), t0));
  }
  EXPECT_EQ(login.pause_left("10.0.0.1", t0), 1);  // slowed, not shut out
  EXPECT_EQ(login.pause_left("10.0.0.2", t0), 0);  // another client is not held back
  EXPECT_FALSE(login.sign_in("10.0.0.1", "admin", "one more", t0));
  EXPECT_EQ(login.pause_left("10.0.0.1", t0), 2);
  const auto later = t0 + std::chrono::seconds(2);
  EXPECT_EQ(login.pause_left("10.0.0.1", later), 0);
  const auto session = login.sign_in("10.0.0.1", "admin", kPassword, later);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->id.size(), 64u);
  EXPECT_EQ(session->role, Role::admin);
  EXPECT_NE(session->id, session->csrf);

  // The cookie among others; a session unused for the idle limit ends.
  const std::string header = "theme=dark; tavri_session=" + session->id + "; lang=en";
  EXPECT_TRUE(login.session(header, later));
  EXPECT_FALSE(login.session("tavri_session=" + std::string(64, '0'), later));
  EXPECT_FALSE(login.session(header, later + WebLogin::kIdleLimit + std::chrono::seconds(1)));
  EXPECT_FALSE(login.session(header, later));

  // A new password ends every session.
  const auto again = login.sign_in("10.0.0.1", "admin", kPassword);
  ASSERT_TRUE(again);
  ASSERT_FALSE(login.set_password("another password").has_value());
  EXPECT_FALSE(login.session("tavri_session=" + again->id));
}

namespace {

// One request on its own connection; the whole answer.
std::string http(std::uint16_t port, const std::string& method, const std::string& target,
                 const std::string& headers = {}, const std::string& body = {},
                 const std::string& host = "127.0.0.1:5080") {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), port});
  const std::string request = method + " " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n" + headers +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  asio::write(socket, asio::buffer(request));
  std::string got;
  boost::system::error_code ec;
  char buffer[65536];
  while (!ec) got.append(buffer, socket.read_some(asio::buffer(buffer), ec));
  return got;
}

int status(const std::string& answer) { return answer.size() > 12 ? std::stoi(answer.substr(9, 3)) : 0; }

std::string header(const std::string& answer, const std::string& name) {
  std::smatch m;
  return std::regex_search(answer, m, std::regex("\r\n" + name + ": ([^\r]*)", std::regex::icase)) ? m[1].str() : "";
}

}  // namespace

// Through the listener, as a browser signs in and acts.
TEST(WebLogin, ABrowserSessionNeedsItsCsrfTokenForChanges) {
  QTemporaryDir dir;
  ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.web = std::make_shared<WebLogin>(accounts_in(dir));
  std::atomic<int> handled{0};
  ApiServer server(config, [&](Request, Respond respond) {
    ++handled;
    respond({200, "application/json", "{}"});
  });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const auto port = server.port();

  // The page and its files need no sign-in; they run no inline script.
  const std::string page = http(port, "GET", "/");
  ASSERT_EQ(status(page), 200);
  EXPECT_NE(header(page, "Content-Security-Policy").find("script-src 'self'"), std::string::npos);
  EXPECT_EQ(header(page, "Content-Security-Policy").find("unsafe-inline"), std::string::npos);
  EXPECT_FALSE(std::regex_search(page, std::regex("<script(?![^>]*\\ssrc=)|\\son[a-z]+=", std::regex::icase)));
  for (const char* file : {"/main.js", "/page-players.js", "/console.css", "/icon.svg"}) EXPECT_EQ(status(http(port, "GET", file)), 200);
  EXPECT_EQ(status(http(port, "GET", "/../../etc/passwd")), 401);
  EXPECT_EQ(status(http(port, "GET", "/api/players")), 401);

  const std::string json = "Content-Type: application/json\r\n";
  EXPECT_EQ(status(http(port, "POST", "/api/login", json, "{\"password\":\"" + kPassword + "\"}")), 409);  // none set
  EXPECT_EQ(status(http(port, "PUT", "/api/password", json, "{\"password\":\"" + kPassword + "\"}")), 401);
  EXPECT_EQ(status(http(port, "PUT", "/api/password", "Authorization: Bearer " + kToken + "\r\n" + json,
                        "{\"password\":\"" + kPassword + "\"}")),
            200);
  EXPECT_EQ(status(http(port, "POST", "/api/login", json, "{\"password\": 7}")), 400);
  EXPECT_EQ(status(http(port, "POST", "/api/login", json, "{\"password\":\"wrong password\"}")), 401);
  const std::string signed_in = http(port, "POST", "/api/login", json, "{\"password\":\"" + kPassword + "\"}");
  ASSERT_EQ(status(signed_in), 200);
  const std::string cookie = header(signed_in, "Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  EXPECT_EQ(cookie.find("Secure"), std::string::npos);  // plain HTTP on loopback
  const std::string session = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
  std::smatch m;
  ASSERT_TRUE(std::regex_search(signed_in, m, std::regex("\"csrf\":\"([0-9a-f]{64})\"")));
  const std::string csrf = "X-CSRF-Token: " + m[1].str() + "\r\n";

  EXPECT_EQ(status(http(port, "GET", "/api/players", session)), 200);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(status(http(port, "POST", "/api/playlists", session + json, "{\"name\":\"x\"}")), 403);
  EXPECT_EQ(status(http(port, "POST", "/api/playlists", session + json + "X-CSRF-Token: " + std::string(64, 'f') + "\r\n",
                        "{\"name\":\"x\"}")),
            403);
  EXPECT_EQ(status(http(port, "PUT", "/api/content/x.png", session, "12345")), 403);  // uploads too
  EXPECT_EQ(handled, 1);  // no refused change reached the routes
  EXPECT_EQ(status(http(port, "POST", "/api/playlists", session + csrf + json, "{\"name\":\"x\"}")), 200);
  EXPECT_EQ(handled, 2);

  // Guesses from the same address (a page in the operator's browser, all
  // of an SSH tunnel) slow that address, not the browser that signed in
  // here before: it carries a brake of its own.
  std::smatch device;
  ASSERT_TRUE(std::regex_search(signed_in, device, std::regex("tavri_device=([0-9a-f]{64})")));
  const std::string wrong = "{\"password\":\"not it at all\"}";
  int braked = 0;
  for (int i = 0; i < WebLogin::kFailuresBeforePause + 2; ++i) braked += status(http(port, "POST", "/api/login", json, wrong)) == 429;
  EXPECT_GT(braked, 0);
  EXPECT_EQ(status(http(port, "POST", "/api/login", json + "Cookie: tavri_device=" + device[1].str() + "\r\n", wrong)), 401);

  // A page of another site: a name pointed at this address, a form post,
  // a cross-origin fetch. None gets an answer that helps it.
  EXPECT_EQ(status(http(port, "GET", "/api/players", session, {}, "evil.example:5080")), 421);
  EXPECT_EQ(status(http(port, "POST", "/api/login", json, "{}", "evil.example")), 421);
  EXPECT_EQ(status(http(port, "GET", "/api/players", session, {}, "[::1]:5080")), 200);
  EXPECT_EQ(status(http(port, "GET", "/api/players", session, {}, "LocalHost")), 200);
  EXPECT_EQ(status(http(port, "POST", "/api/login", "Content-Type: text/plain\r\n", "{\"password\":\"x\"}")), 415);
  EXPECT_EQ(status(http(port, "POST", "/api/login", json + "Origin: http://evil.example\r\n", "{\"password\":\"x\"}")),
            403);

  // An event stream of the session ends when the session does.
  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket stream(io);
  stream.connect({asio::ip::make_address("127.0.0.1"), port});
  asio::write(stream, asio::buffer("GET /api/events HTTP/1.1\r\nHost: localhost\r\n" + session + "\r\n"));
  while (server.counters().event_streams == 0) std::this_thread::yield();
  EXPECT_EQ(status(http(port, "POST", "/api/logout", session + csrf)), 200);
  EXPECT_EQ(status(http(port, "GET", "/api/players", session)), 401);
  std::string got;
  boost::system::error_code ec;
  char buffer[4096];
  while (!ec) got.append(buffer, stream.read_some(asio::buffer(buffer), ec));
  EXPECT_EQ(ec, asio::error::eof) << got;
  EXPECT_NE(got.find("text/event-stream"), std::string::npos);
  server.stop();
}

// A flood of sign-ins from many sources delays the operator's by its turn,
// never refuses it; a source cannot queue a second guess beside its first.
TEST(SignInQueue, EverySourceGetsItsTurnInOrder) {
  // One hashing thread, so the order checked is the queue's own, not the
  // scheduler's choice between two threads.
  static auto* shared = new SignInQueue(1, 64);  // its thread may outlive the test
  SignInQueue& queue = *shared;
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  std::vector<std::string> order;
  auto check = [&](std::string source) {
    return [&, source] {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return open; });
      order.push_back(source);
      changed.notify_all();
      return std::function<void()>();
    };
  };
  for (int i = 0; i < 40; ++i) ASSERT_EQ(queue.submit("flood" + std::to_string(i), check("flood")), SignInQueue::Queued::yes);
  EXPECT_EQ(queue.submit("flood3", check("again")), SignInQueue::Queued::source_busy);
  EXPECT_EQ(queue.submit("operator", check("operator")), SignInQueue::Queued::yes);
  for (int i = 40; i < 63; ++i) queue.submit("flood" + std::to_string(i), check("flood"));
  EXPECT_EQ(queue.submit("one too many", check("x")), SignInQueue::Queued::full);
  {
    std::unique_lock lock(mutex);
    open = true;
    changed.notify_all();
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return order.size() == 64; }));
  }
  const auto at = std::find(order.begin(), order.end(), "operator") - order.begin();
  EXPECT_EQ(at, 40) << "after the sources that came before it, not the ones after";
  // Its turn over, a source may try again.
  static std::atomic<bool> ran{false};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (queue.submit("operator", [] { ran = true; return std::function<void()>(); }) != SignInQueue::Queued::yes)
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  while (!ran) ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  // Told its outcome, a source is free: a client that asks again at once is not turned away.
  static std::atomic<int> again{-1};
  ASSERT_EQ(queue.submit("quick", [&queue] {
    return std::function<void()>([&queue] { again = int(queue.submit("quick", [] { return std::function<void()>(); })); });
  }), SignInQueue::Queued::yes);
  while (again < 0) ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  EXPECT_EQ(again, int(SignInQueue::Queued::yes));
}

namespace {

std::string json_field(const std::string& answer, const std::string& field) {
  std::smatch m;
  return std::regex_search(answer, m, std::regex("\"" + field + "\":\"([^\"]*)\"")) ? m[1].str() : "";
}

}  // namespace

// People with roles, named tokens, and what each may do, through the listener.
TEST(Accounts, RolesDecideWhatEachCallerMayDoAndRevokingEndsAtOnce) {
  QTemporaryDir dir;
  // An older version's single password becomes the admin's.
  {
    WebLogin old(accounts_in(dir));
    ASSERT_FALSE(old.set_password(kPassword).has_value());
  }
  std::string legacy_hash;
  {
    std::stringstream text;
    text << std::ifstream(accounts_file(dir)).rdbuf();
    const std::string stored = text.str();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(stored, m, std::regex("\"(\\$argon2id\\$[^\"]+)\"")));
    legacy_hash = m[1].str();
    std::remove(accounts_file(dir).c_str());
    std::ofstream(dir.path().toStdString() + "/web_password") << legacy_hash << "\n";
  }
  auto accounts = std::make_shared<Accounts>(accounts_file(dir), dir.path().toStdString() + "/web_password");
  EXPECT_EQ(accounts->check_password("admin", kPassword), Role::admin);
  EXPECT_TRUE(accounts->remove_user("admin").has_value());  // the last admin stays
  EXPECT_TRUE(accounts->set_role("admin", Role::viewer).has_value());
  EXPECT_TRUE(accounts->add_user("bad name", Role::viewer, kPassword).has_value());

  ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.web = std::make_shared<WebLogin>(accounts);
  std::mutex audit_mutex;
  std::vector<std::string> audited;
  config.audit = [&](const Request& r, const Response& response) {
    std::lock_guard lock(audit_mutex);
    audited.push_back(r.caller.name + " " + r.method + " " + r.path + " " + std::to_string(response.status));
  };
  std::atomic<int> handled{0};
  ApiServer server(config, [&](Request, Respond respond) {
    ++handled;
    respond({200, "application/json", "{}"});
  });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const auto port = server.port();
  const std::string json = "Content-Type: application/json\r\n";
  const std::string admin = "Authorization: Bearer " + kToken + "\r\n";

  // A viewer sees, and is refused every change before it reaches a route.
  ASSERT_EQ(status(http(port, "POST", "/api/users", admin + json,
                        "{\"name\":\"trainee\",\"role\":\"viewer\",\"password\":\"" + kPassword + "\"}")),
            201);
  EXPECT_EQ(status(http(port, "POST", "/api/users", admin + json,
                        "{\"name\":\"trainee\",\"role\":\"viewer\",\"password\":\"" + kPassword + "\"}")),
            409);
  const std::string signed_in =
      http(port, "POST", "/api/login", json, "{\"name\":\"trainee\",\"password\":\"" + kPassword + "\"}");
  ASSERT_EQ(status(signed_in), 200);
  EXPECT_EQ(json_field(signed_in, "role"), "viewer");
  const std::string cookie = header(signed_in, "Set-Cookie");
  const std::string viewer = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\nX-CSRF-Token: " +
                             json_field(signed_in, "csrf") + "\r\n";
  EXPECT_EQ(status(http(port, "GET", "/api/players", viewer)), 200);
  EXPECT_EQ(status(http(port, "POST", "/api/send", viewer + json, "{}")), 403);
  EXPECT_EQ(status(http(port, "DELETE", "/api/players/x", viewer)), 403);
  EXPECT_EQ(status(http(port, "PUT", "/api/restore", viewer, "12345")), 403);  // uploads too
  EXPECT_EQ(status(http(port, "GET", "/api/users", viewer)), 403);
  EXPECT_EQ(status(http(port, "GET", "/api/no-such-route", viewer)), 403);  // unknown: admins only
  EXPECT_EQ(handled, 1);

  // An operator's token: sends, but removes no player; revoked, it ends at once.
  const std::string made = http(port, "POST", "/api/tokens", admin + json, "{\"name\":\"booking\",\"role\":\"operator\"}");
  ASSERT_EQ(status(made), 201);
  const std::string token = "Authorization: Bearer " + json_field(made, "token") + "\r\n";
  EXPECT_EQ(status(http(port, "POST", "/api/send", token + json, "{}")), 200);
  EXPECT_EQ(status(http(port, "DELETE", "/api/players/x", token)), 403);
  EXPECT_EQ(status(http(port, "GET", "/api/users", token)), 403);
  const std::string listed = http(port, "GET", "/api/tokens", admin);
  EXPECT_NE(listed.find("\"last_used\":\"20"), std::string::npos) << listed;
  EXPECT_EQ(listed.find(json_field(made, "token")), std::string::npos);  // only its hash is kept

  namespace asio = boost::asio;
  asio::io_context io;
  asio::ip::tcp::socket stream(io);
  stream.connect({asio::ip::make_address("127.0.0.1"), port});
  asio::write(stream, asio::buffer("GET /api/events HTTP/1.1\r\nHost: localhost\r\n" + token + "\r\n"));
  while (server.counters().event_streams == 0) std::this_thread::yield();
  EXPECT_EQ(status(http(port, "DELETE", "/api/tokens/booking", admin)), 200);
  EXPECT_EQ(status(http(port, "GET", "/api/players", token)), 401);
  std::string got;
  boost::system::error_code ec;
  char buffer[4096];
  while (!ec) got.append(buffer, stream.read_some(asio::buffer(buffer), ec));
  EXPECT_EQ(ec, asio::error::eof);

  // Removing a person ends their session.
  EXPECT_EQ(status(http(port, "DELETE", "/api/users/trainee", admin)), 200);
  EXPECT_EQ(status(http(port, "GET", "/api/players", viewer)), 401);
  server.stop();

  // Every change was told to the audit, refusals and sign-ins included.
  std::lock_guard lock(audit_mutex);
  const auto has = [&](const std::string& line) { return std::find(audited.begin(), audited.end(), line) != audited.end(); };
  EXPECT_TRUE(has("trainee POST /api/send 403"));
  EXPECT_TRUE(has("trainee PUT /api/restore 403"));
  EXPECT_TRUE(has("booking POST /api/send 200"));
  EXPECT_TRUE(has(" POST /api/login 200"));
  EXPECT_TRUE(has("service token DELETE /api/tokens/booking 200"));
}

#include "notify/notifier.h"

#include "fs/private_file.h"
#include "net/random_hex.h"

#include <curl/curl.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tavri::notify {

namespace {

using nlohmann::json;

std::optional<std::string> name_problem(std::string_view name) {
  if (name.empty() || name.size() > 64) return std::string("a name has 1 to 64 characters");
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
      return std::string("a name has only letters, digits and . _ -");
  return std::nullopt;
}

bool plain_text(std::string_view text, std::size_t most) {
  if (text.size() > most) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::optional<std::string> url_problem(std::string_view url) {
  if (!(url.starts_with("http://") || url.starts_with("https://")) || url.size() < 10)
    return std::string("the address must start with http:// or https://");
  if (!plain_text(url, 2048) || url.find(' ') != std::string_view::npos)
    return std::string("the address has at most 2048 characters and no spaces or control characters");
  return std::nullopt;
}

bool loopback_server(std::string_view server) {
  return server.starts_with("127.") || server.starts_with("localhost:") || server == "localhost" ||
         server.starts_with("[::1]");
}

std::int64_t now_seconds() { return static_cast<std::int64_t>(::time(nullptr)); }

// What a server answered is kept small.
std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

struct Upload {
  std::string_view data;
};
std::size_t feed(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const std::size_t n = std::min(size * count, upload->data.size());
  std::memcpy(buffer, upload->data.data(), n);
  upload->data.remove_prefix(n);
  return n;
}

struct Easy {
  CURL* curl = curl_easy_init();
  curl_slist* list = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  Easy() {
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  }
  ~Easy() {
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
  }
  Delivery outcome(CURLcode code) {
    Delivery d{now_seconds(), code == CURLE_OK, {}};
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
      d.detail = std::string(error[0] ? error : curl_easy_strerror(code));
      if (status > 0) d.detail = std::to_string(status) + " " + d.detail;
    } else {
      d.detail = std::to_string(status);
    }
    return d;
  }
};

}  // namespace

Notifier::Notifier(std::string file, Timing timing) : file_(std::move(file)), timing_(std::move(timing)) {
  static const bool ready = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK && sodium_init() >= 0; }();
  (void)ready;
  load();
  thread_ = std::thread([this] { work(); });
}

Notifier::~Notifier() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Notifier::load() {
  const std::string text = read_private_file(file_, 1u << 20);
  const auto doc = json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return;
  for (const auto& h : doc.value("webhooks", json::array()))
    if (h.is_object() && !name_problem(h.value("name", "")) && !url_problem(h.value("url", "")))
      hooks_.push_back({h.value("name", ""), h.value("url", ""), h.value("secret", "")});
  if (const auto m = doc.value("mail", json()); m.is_object()) {
    Mail mail{m.value("server", ""), m.value("security", "starttls"), m.value("user", ""), m.value("password", ""),
              m.value("from", ""), m.value("ca_file", ""), {}};
    for (const auto& to : m.value("to", json::array()))
      if (to.is_string()) mail.to.push_back(to.get<std::string>());
    if (!mail.server.empty()) mail_ = mail;
  }
}

std::optional<std::string> Notifier::save() {
  json hooks = json::array();
  for (const auto& h : hooks_) hooks.push_back({{"name", h.name}, {"url", h.url}, {"secret", h.secret}});
  json doc{{"webhooks", hooks}};
  if (mail_)
    doc["mail"] = {{"server", mail_->server}, {"security", mail_->security}, {"user", mail_->user},
                   {"password", mail_->password}, {"from", mail_->from}, {"to", mail_->to}, {"ca_file", mail_->ca_file}};
  return write_private_file(file_, doc.dump(1) + "\n");
}

std::optional<std::string> Notifier::set_webhook(Webhook hook, std::string* secret) {
  if (auto problem = name_problem(hook.name)) return problem;
  if (auto problem = url_problem(hook.url)) return problem;
  if (hook.secret.empty()) hook.secret = net::random_hex(24);
  if (hook.secret.size() < 16 || !plain_text(hook.secret, 256))
    return std::string("the secret has 16 to 256 characters and no control characters");
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(hooks_.begin(), hooks_.end(), [&](const Webhook& h) { return h.name == hook.name; });
  if (it == hooks_.end() && hooks_.size() >= kMaxWebhooks) return "there are " + std::to_string(kMaxWebhooks) + " webhooks already";
  const auto before = hooks_;
  if (it == hooks_.end()) hooks_.push_back(hook);
  else *it = hook;
  if (auto failed = save()) {
    hooks_ = before;
    return failed;
  }
  if (secret) *secret = hook.secret;
  return std::nullopt;
}

std::optional<std::string> Notifier::remove_webhook(const std::string& name) {
  std::lock_guard lock(mutex_);
  const auto before = hooks_;
  if (std::erase_if(hooks_, [&](const Webhook& h) { return h.name == name; }) == 0)
    return "no webhook is named \"" + name + "\"";
  if (auto failed = save()) {
    hooks_ = before;
    return failed;
  }
  return std::nullopt;
}

std::optional<std::string> Notifier::set_mail(Mail mail) {
  if (!plain_text(mail.server, 255) || mail.server.empty() || mail.server.find(' ') != std::string::npos ||
      mail.server.find('/') != std::string::npos)
    return std::string("the server is HOST:PORT");
  if (mail.security != "starttls" && mail.security != "tls" && mail.security != "none")
    return std::string("the security is starttls, tls or none");
  // A password is never sent in the clear across the network.
  if (mail.security == "none" && !mail.user.empty() && !loopback_server(mail.server))
    return std::string("a login needs starttls or tls off this machine");
  if (!is_mail_address(mail.from)) return "\"" + mail.from + "\" is not a mail address";
  if (mail.to.empty() || mail.to.size() > 20) return std::string("give 1 to 20 addresses to send to");
  for (const auto& to : mail.to)
    if (!is_mail_address(to)) return "\"" + to + "\" is not a mail address";
  if (!plain_text(mail.user, 256) || !plain_text(mail.password, 256) || !plain_text(mail.ca_file, 4096))
    return std::string("the login, password and CA file have no control characters");
  std::lock_guard lock(mutex_);
  // A form that shows no password keeps the one set for the same login.
  if (mail.password.empty() && mail_ && mail_->user == mail.user && mail_->server == mail.server)
    mail.password = mail_->password;
  const auto before = mail_;
  mail_ = mail;
  if (auto failed = save()) {
    mail_ = before;
    return failed;
  }
  return std::nullopt;
}

std::optional<std::string> Notifier::remove_mail() {
  std::lock_guard lock(mutex_);
  if (!mail_) return std::string("no mail is set up");
  const auto before = mail_;
  mail_.reset();
  if (auto failed = save()) {
    mail_ = before;
    return failed;
  }
  return std::nullopt;
}

std::string Notifier::describe() {
  std::lock_guard lock(mutex_);
  auto last = [&](const std::string& target) {
    for (const auto& [t, d] : last_)
      if (t == target) {
        char when[32];
        const std::time_t tt = d.time;
        std::tm utc{};
        gmtime_r(&tt, &utc);
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
        return json{{"time", when}, {"ok", d.ok}, {"detail", d.detail}};
      }
    return json(nullptr);
  };
  json hooks = json::array();
  for (const auto& h : hooks_) hooks.push_back({{"name", h.name}, {"url", h.url}, {"last_delivery", last("webhook " + h.name)}});
  json doc{{"webhooks", hooks}, {"mail", nullptr}, {"queued", jobs_.size()}};
  if (mail_)
    doc["mail"] = {{"server", mail_->server}, {"security", mail_->security}, {"user", mail_->user},
                   {"password_set", !mail_->password.empty()}, {"from", mail_->from}, {"to", mail_->to},
                   {"last_delivery", last("mail")}};
  return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool Notifier::has_targets() {
  std::lock_guard lock(mutex_);
  return mail_.has_value() || !hooks_.empty();
}

void Notifier::queue(Job job) {
  // Bounded: a flood of events drops the oldest waiting, not the newest.
  if (jobs_.size() >= kMaxQueued) jobs_.pop_front();
  jobs_.push_back(std::move(job));
  wake_.notify_all();
}

void Notifier::send(const Message& message) {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  for (const auto& h : hooks_) queue({"webhook " + h.name, message, 0, now, {}});
  if (mail_) queue({"mail", message, 0, now, {}});
}

bool Notifier::send_to(const std::string& target, const Message& message, std::function<void(const Delivery&)> done) {
  std::lock_guard lock(mutex_);
  const bool known = target == "mail" ? mail_.has_value()
                                      : std::any_of(hooks_.begin(), hooks_.end(), [&](const Webhook& h) { return h.name == target; });
  if (!known) return false;
  // A test is tried once: its answer is what the operator waits for.
  Job job{target == "mail" ? "mail" : "webhook " + target, message, timing_.retries.size(), std::chrono::steady_clock::now(),
          std::move(done)};
  queue(std::move(job));
  return true;
}

void Notifier::on_delivered(std::function<void(const std::string&, const Delivery&)> callback) {
  std::lock_guard lock(mutex_);
  delivered_ = std::move(callback);
}

bool Notifier::idle_within(std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, deadline, [this] { return jobs_.empty() && !sending_; });
}

void Notifier::work() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (jobs_.empty()) {
      idle_.notify_all();
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      continue;
    }
    const auto next = std::min_element(jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) { return a.due < b.due; });
    if (next->due > std::chrono::steady_clock::now()) {
      wake_.wait_until(lock, next->due);
      continue;
    }
    Job job = std::move(*next);
    jobs_.erase(next);
    sending_ = true;
    lock.unlock();
    const Delivery d = deliver(job);
    lock.lock();
    sending_ = false;
    const std::string target = job.target;
    if (!d.ok) ++failed_;
    std::erase_if(last_, [&](const auto& l) { return l.first == target; });
    last_.emplace_back(target, d);
    if (job.done) {
      auto done = std::move(job.done);
      lock.unlock();
      done(d);
      lock.lock();
    }
    if (!d.ok && job.attempt < timing_.retries.size()) {
      job.due = std::chrono::steady_clock::now() + timing_.retries[job.attempt++];
      queue(std::move(job));
    }
    if (delivered_) {
      auto callback = delivered_;
      lock.unlock();
      callback(target, d);
      lock.lock();
    }
  }
}

Delivery Notifier::deliver(const Job& job) {
  std::unique_lock lock(mutex_);
  Easy easy;
  curl_easy_setopt(easy.curl, CURLOPT_TIMEOUT, static_cast<long>(timing_.timeout.count()));
  curl_easy_setopt(easy.curl, CURLOPT_WRITEFUNCTION, discard);
  if (job.target.starts_with("webhook ")) {
    const std::string name = job.target.substr(8);
    const auto hook = std::find_if(hooks_.begin(), hooks_.end(), [&](const Webhook& h) { return h.name == name; });
    if (hook == hooks_.end()) return {now_seconds(), false, "the webhook was removed"};
    const Webhook h = *hook;
    lock.unlock();
    const std::string body = webhook_body(job.message);
    easy.list = curl_slist_append(easy.list, "Content-Type: application/json");
    easy.list = curl_slist_append(easy.list, ("X-Tavri-Event: " + job.message.kind).c_str());
    easy.list = curl_slist_append(easy.list, ("X-Tavri-Signature: " + signature(h.secret, body)).c_str());
    curl_easy_setopt(easy.curl, CURLOPT_URL, h.url.c_str());
    curl_easy_setopt(easy.curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.curl, CURLOPT_HTTPHEADER, easy.list);
    curl_easy_setopt(easy.curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(easy.curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(easy.curl, CURLOPT_USERAGENT, "tavri-av-server");
    curl_easy_setopt(easy.curl, CURLOPT_FAILONERROR, 1L);
    return easy.outcome(curl_easy_perform(easy.curl));
  }
  if (!mail_) return {now_seconds(), false, "mail was turned off"};
  const Mail m = *mail_;
  const std::uint64_t serial = ++serial_;
  lock.unlock();
  const std::string url = (m.security == "tls" ? "smtps://" : "smtp://") + m.server;
  const std::string id = std::to_string(job.message.time) + "." + std::to_string(serial) + "." + net::random_hex(6) +
                         "@" + (m.from.substr(m.from.find('@') + 1));
  Upload upload;
  const std::string text = mail(job.message, m.from, m.to, id);
  upload.data = text;
  curl_easy_setopt(easy.curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy.curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(easy.curl, CURLOPT_USE_SSL, m.security == "none" ? static_cast<long>(CURLUSESSL_NONE) : static_cast<long>(CURLUSESSL_ALL));
  if (!m.ca_file.empty()) curl_easy_setopt(easy.curl, CURLOPT_CAINFO, m.ca_file.c_str());
  if (!m.user.empty()) {
    curl_easy_setopt(easy.curl, CURLOPT_USERNAME, m.user.c_str());
    curl_easy_setopt(easy.curl, CURLOPT_PASSWORD, m.password.c_str());
  }
  const std::string from = "<" + m.from + ">";
  curl_easy_setopt(easy.curl, CURLOPT_MAIL_FROM, from.c_str());
  for (const auto& to : m.to) easy.list = curl_slist_append(easy.list, ("<" + to + ">").c_str());
  curl_easy_setopt(easy.curl, CURLOPT_MAIL_RCPT, easy.list);
  curl_easy_setopt(easy.curl, CURLOPT_READFUNCTION, feed);
  curl_easy_setopt(easy.curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(easy.curl, CURLOPT_UPLOAD, 1L);
  return easy.outcome(curl_easy_perform(easy.curl));
}

}  // namespace tavri::notify

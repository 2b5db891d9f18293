#include "service_publisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <atomic>
#include <mutex>

#include "http_log.h"

namespace tavri::http {
namespace {

// The process's publication thread: an Avahi threaded poll, never ended.
AvahiThreadedPoll* publication_thread() {
  static AvahiThreadedPoll* poll = [] {
    AvahiThreadedPoll* p = avahi_threaded_poll_new();
    if (p && avahi_threaded_poll_start(p) < 0) {
      avahi_threaded_poll_free(p);
      p = nullptr;
    }
    return p;
  }();
  return poll;
}

std::string without_trailing_dot(std::string s) {
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

class PollLock {
 public:
  explicit PollLock(AvahiThreadedPoll* poll) : poll_(poll) {
    // Never taken on the publication thread itself: callers are server queues.
    avahi_threaded_poll_lock(poll_);
  }
  ~PollLock() { avahi_threaded_poll_unlock(poll_); }

 private:
  AvahiThreadedPoll* poll_;
};

std::atomic<bool> publication_enabled{true};

}  // namespace

void ServicePublisher::set_enabled(bool enabled) { publication_enabled = enabled; }

struct ServicePublisher::State {
  std::string domain, type, name;
  std::uint16_t port = 0;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  mutable std::mutex mutex;
  std::optional<std::string> published;

  void not_published(const std::string& why) {
    log()->warn("DNS-SD service not published: domain({}) type({}) name({}) - {}", domain, type, name, why);
  }

  static void group_callback(AvahiEntryGroup*, AvahiEntryGroupState group_state, void* data) {
    auto* self = static_cast<State*>(data);
    if (group_state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
      {
        std::lock_guard lock(self->mutex);
        self->published = self->name;
      }
      log()->info("DNS-SD service published: domain({}) type({}) name({})", self->domain, self->type, self->name);
    } else if (group_state == AVAHI_ENTRY_GROUP_COLLISION || group_state == AVAHI_ENTRY_GROUP_FAILURE) {
      self->not_published(avahi_strerror(avahi_client_errno(self->client)));
    }
  }

  static void client_callback(AvahiClient*, AvahiClientState, void*) {}

  void publish() {
    if (!publication_enabled) return;
    AvahiThreadedPoll* poll = publication_thread();
    if (!poll) {
      not_published("the publication thread could not start");
      return;
    }
    PollLock lock(poll);
    int error = 0;
    client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_IGNORE_USER_CONFIG, client_callback,
                              this, &error);
    if (!client) {
      not_published(avahi_strerror(error));
      return;
    }
    // An empty name leaves the choice to the platform: the machine's name.
    if (name.empty()) name = avahi_client_get_host_name(client);
    group = avahi_entry_group_new(client, group_callback, this);
    int rc = group ? avahi_entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                   name.c_str(), without_trailing_dot(type).c_str(),
                                                   without_trailing_dot(domain).c_str(), nullptr, port, nullptr)
                   : avahi_client_errno(client);
    if (rc >= 0) rc = avahi_entry_group_commit(group);
    if (rc < 0) not_published(avahi_strerror(rc));
  }

  void stop() {
    AvahiThreadedPoll* poll = publication_thread();
    if (!poll || !client) return;
    PollLock lock(poll);
    if (group) avahi_entry_group_free(group);
    avahi_client_free(client);
    group = nullptr;
    client = nullptr;
    std::lock_guard guard(mutex);
    published.reset();
  }
};

ServicePublisher::ServicePublisher(std::string domain, std::string type, std::string name, std::uint16_t port)
    : state_(std::make_shared<State>()) {
  state_->domain = std::move(domain);
  state_->type = std::move(type);
  state_->name = std::move(name);
  state_->port = port;
}

ServicePublisher::~ServicePublisher() { stop(); }

void ServicePublisher::publish() { state_->publish(); }
void ServicePublisher::stop() { state_->stop(); }

std::optional<std::string> ServicePublisher::published_name() const {
  std::lock_guard lock(state_->mutex);
  return state_->published;
}

}  // namespace tavri::http

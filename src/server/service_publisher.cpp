#include "service_publisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/alternative.h>
#include <avahi-common/timeval.h>
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

// The client waits for the daemon when there is none yet and follows it
// through restarts; a name another machine holds gives way to the next
// free one, as DNS-SD expects.
struct ServicePublisher::State {
  std::string domain, type, name;
  std::uint16_t port = 0;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  AvahiTimeout* reconnect = nullptr;
  bool waiting_reported = false;
  mutable std::mutex mutex;
  std::optional<std::string> published;

  void not_published(const std::string& why) {
    log()->warn("DNS-SD service not published: domain({}) type({}) name({}) - {}", domain, type, name, why);
  }
  void set_published(std::optional<std::string> value) {
    std::lock_guard lock(mutex);
    published = std::move(value);
  }

  static void group_callback(AvahiEntryGroup* g, AvahiEntryGroupState group_state, void* data) {
    auto* self = static_cast<State*>(data);
    self->group = g;
    if (group_state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
      self->set_published(self->name);
      log()->info("DNS-SD service published: domain({}) type({}) name({})", self->domain, self->type, self->name);
    } else if (group_state == AVAHI_ENTRY_GROUP_COLLISION) {
      char* next = avahi_alternative_service_name(self->name.c_str());
      log()->warn("DNS-SD service name {} is taken on the network, trying {}", self->name, next);
      self->name = next;
      avahi_free(next);
      self->add_service();
    } else if (group_state == AVAHI_ENTRY_GROUP_FAILURE) {
      self->not_published(avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))));
    }
  }

  static void client_callback(AvahiClient* c, AvahiClientState client_state, void* data) {
    auto* self = static_cast<State*>(data);
    self->client = c;
    switch (client_state) {
      case AVAHI_CLIENT_S_RUNNING:
        self->waiting_reported = false;
        self->add_service();
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The host name changes: the service is registered again once running.
        if (self->group) avahi_entry_group_reset(self->group);
        self->set_published(std::nullopt);
        break;
      case AVAHI_CLIENT_CONNECTING:
        if (!self->waiting_reported) self->not_published("no Avahi daemon yet; published when it starts");
        self->waiting_reported = true;
        break;
      case AVAHI_CLIENT_FAILURE:
        self->set_published(std::nullopt);
        if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
          // The daemon went away: a new client waits for it to come back
          // (not from inside the old client's own callback).
          log()->warn("DNS-SD: the Avahi daemon went away; publishing again when it is back");
          self->schedule_reconnect(0);
        } else {
          self->not_published(avahi_strerror(avahi_client_errno(c)));
        }
        break;
    }
  }

  void add_service() {
    if (!client) return;
    // An empty name leaves the choice to the platform: the machine's name.
    if (name.empty()) name = avahi_client_get_host_name(client);
    if (!group) group = avahi_entry_group_new(client, group_callback, this);
    if (!group) return not_published(avahi_strerror(avahi_client_errno(client)));
    avahi_entry_group_reset(group);
    int rc = avahi_entry_group_add_service(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                           name.c_str(), without_trailing_dot(type).c_str(),
                                           without_trailing_dot(domain).c_str(), nullptr, port, nullptr);
    if (rc == AVAHI_ERR_COLLISION) return group_callback(group, AVAHI_ENTRY_GROUP_COLLISION, this);
    if (rc >= 0) rc = avahi_entry_group_commit(group);
    if (rc < 0) not_published(avahi_strerror(rc));
  }

  void free_client() {
    if (group) avahi_entry_group_free(group);
    if (client) avahi_client_free(client);
    group = nullptr;
    client = nullptr;
  }

  // On the publication thread, with its lock held.
  bool open_client() {
    int error = 0;
    AvahiClient* c = avahi_client_new(avahi_threaded_poll_get(publication_thread()),
                                      AvahiClientFlags(AVAHI_CLIENT_IGNORE_USER_CONFIG | AVAHI_CLIENT_NO_FAIL),
                                      client_callback, this, &error);
    if (!c) {
      // Not even the message bus is there: look again now and then, and
      // say so once.
      if (!waiting_reported) not_published(std::string(avahi_strerror(error)) + "; trying again every 10 s");
      waiting_reported = true;
      schedule_reconnect(kRetrySeconds);
      return false;
    }
    client = c;
    return true;
  }

  static constexpr unsigned kRetrySeconds = 10;

  void schedule_reconnect(unsigned seconds) {
    const AvahiPoll* api = avahi_threaded_poll_get(publication_thread());
    if (reconnect) api->timeout_free(reconnect);
    timeval soon{};
    avahi_elapse_time(&soon, seconds * 1000, 0);
    reconnect = api->timeout_new(
        api, &soon,
        [](AvahiTimeout*, void* data) {
          auto* self = static_cast<State*>(data);
          self->free_client();
          if (publication_enabled) self->open_client();
        },
        this);
  }

  void publish() {
    if (!publication_enabled) return;
    AvahiThreadedPoll* poll = publication_thread();
    if (!poll) {
      not_published("the publication thread could not start");
      return;
    }
    // The client's connect to the message bus is synchronous: it runs on
    // the publication thread, never holding up the caller (a server queue
    // started from the window).
    PollLock lock(poll);
    schedule_reconnect(0);
  }

  void stop() {
    AvahiThreadedPoll* poll = publication_thread();
    if (!poll) return;
    PollLock lock(poll);
    if (reconnect) avahi_threaded_poll_get(poll)->timeout_free(reconnect);
    reconnect = nullptr;
    free_client();
    set_published(std::nullopt);
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

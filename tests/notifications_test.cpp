// Notifications: the mail and webhook texts on the wire, and delivery with
// retries to a receiver on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "notify/message.h"
#include "notify/notifier.h"

using namespace tavri::notify;

TEST(NotifyMessage, NoTextCanAddAHeaderAndEveryLineFitsSmtp) {
  Message m{"offline", "Lobby\r\nBcc: everyone@example.org", std::string(2000, 'x') + "\n" + "second line\n.\n", "{}", 1796787000};
  const std::string text = mail(m, "tavri@example.org\r\nX-Evil: 1", {"ops@example.org"}, "1.2@example.org");
  EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
  EXPECT_EQ(text.find("\r\nX-Evil:"), std::string::npos);
  EXPECT_NE(text.find("Subject: Lobby  Bcc: everyone@example.org\r\n"), std::string::npos);
  EXPECT_NE(text.find("Date: Wed, 09 Dec 2026 "), std::string::npos);
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    EXPECT_LE(end - at, 998u);
    EXPECT_EQ(text.substr(at, end - at).find('\n'), std::string::npos) << "a bare line feed";
  }
  // A subject that is not ASCII is encoded; one with a name in it too.
  const std::string encoded = mail({"test", "Écran du hall éteint", "", "", 0}, "a@b.c", {"d@e.f"}, "x@b.c");
  EXPECT_NE(encoded.find("Subject: =?UTF-8?B?w4ljcmFuIGR1IGhhbGwgw6l0ZWludA==?=\r\n"), std::string::npos) << encoded;

  EXPECT_TRUE(is_mail_address("ops@example.org"));
  for (const char* bad : {"ops", "@example.org", "a@b@c", "a b@c.d", "<a@b.c>", "a@b.c\r\n"}) EXPECT_FALSE(is_mail_address(bad)) << bad;
  // HMAC-SHA256, the standard's second test case.
  EXPECT_EQ(signature("Jefe", "what do ya want for nothing?"),
            "sha256=5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
}

namespace {

// A receiver on loopback that answers 500 to the first `failures` requests
// and 200 after, counting them.
class Receiver {
 public:
  explicit Receiver(int failures) : failures_(failures) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (;;) {
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0) return;
        std::string request;
        char buffer[4096];
        // Head and the (small) body: until the JSON's closing brace.
        while (request.find("\r\n\r\n") == std::string::npos || request.back() != '}') {
          const ssize_t n = ::read(client, buffer, sizeof buffer);
          if (n <= 0) break;
          request.append(buffer, std::size_t(n));
        }
        last_ = request;
        const bool fail = requests_++ < failures_;
        const std::string answer = fail ? "HTTP/1.1 500 No\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                                        : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        [[maybe_unused]] auto written = ::write(client, answer.data(), answer.size());
        ::close(client);
      }
    });
  }
  ~Receiver() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  int port() const { return port_; }
  int requests() const { return requests_; }
  std::string last() const { return last_; }

 private:
  int fd_ = -1, port_ = 0, failures_;
  std::atomic<int> requests_{0};
  std::string last_;
  std::thread thread_;
};

}  // namespace

TEST(Notifier, RetriesWithBackoffKeepsSecretsAndRefusesBadTargets) {
  QTemporaryDir dir;
  const std::string file = (dir.path() + "/notifications.json").toStdString();
  Receiver receiver(2);
  Notifier::Timing quick;
  quick.retries = {std::chrono::milliseconds(50), std::chrono::milliseconds(50), std::chrono::milliseconds(50)};
  quick.timeout = std::chrono::seconds(5);
  Notifier notifier(file, quick);
  EXPECT_TRUE(notifier.set_webhook({"bad", "ftp://example.org/x", ""}).has_value());
  EXPECT_TRUE(notifier.set_webhook({"bad name!", "http://example.org/", ""}).has_value());
  EXPECT_TRUE(notifier.set_mail({"mail.example.org:25", "none", "user", "pw", "a@b.c", "", {"d@e.f"}}).has_value())
      << "a login in the clear across the network";
  EXPECT_FALSE(notifier.has_targets());
  std::string secret;
  ASSERT_FALSE(notifier.set_webhook({"ops", "http://127.0.0.1:" + std::to_string(receiver.port()) + "/hook", ""}, &secret));
  EXPECT_EQ(secret.size(), 48u);
  struct stat st{};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(notifier.describe().find(secret), std::string::npos);

  std::atomic<int> delivered{0};
  notifier.on_delivered([&](const std::string&, const Delivery& d) { delivered += d.ok; });
  notifier.send({"offline", "A player is offline", "\"Lobby\" has sent nothing since 09:12.", "{\"count\":1}", 1796787000});
  ASSERT_TRUE(notifier.idle_within(std::chrono::seconds(20)));
  EXPECT_EQ(receiver.requests(), 3) << "two refusals, then delivered";
  EXPECT_EQ(delivered, 1);
  const std::string request = receiver.last();
  const std::string body = request.substr(request.find("\r\n\r\n") + 4);
  EXPECT_NE(request.find("X-Tavri-Signature: " + signature(secret, body)), std::string::npos) << request;
  EXPECT_NE(body.find("\"event\":\"offline\""), std::string::npos);
  EXPECT_NE(notifier.describe().find("\"ok\":true"), std::string::npos);

  // The settings outlive a restart.
  Notifier again(file, quick);
  EXPECT_TRUE(again.has_targets());
}

#pragma once
// The content server on a temporary folder, for the HTTP tests.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <spdlog/sinks/ringbuffer_sink.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "fs/open_beneath.h"
#include "net/io_pool.h"
#include "server/http_log.h"
#include "server/http_server.h"

namespace tavri::test {

using namespace tavri::http;

inline std::string pattern(std::size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xff);
  return s;
}

inline void write_file(const QString& path, const std::string& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

inline std::string get(const std::string& path, const std::string& extra = "") {
  return "GET " + path + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

// Keeps the HTTP component's log lines for inspection.
struct LogCapture {
  LogCapture() : sink(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256)) { log_outputs()->add_sink(sink); }
  ~LogCapture() { log_outputs()->remove_sink(sink); }
  bool contains(const std::string& text) {
    for (const auto& line : sink->last_formatted())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink;
};

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::use_openat2(!qEnvironmentVariableIsSet("TAVRI_NO_OPENAT2"));
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path() + "/content";
    QDir().mkpath(root_ + "/sub");
    write_file(dir_.path() + "/secret", "secret");
    write_file(root_ + "/PLAYLIST_ID_7.SAV", pattern(1000));
    write_file(root_ + "/My Movie.mp4", pattern(3000, 7));
    write_file(root_ + "/empty", "");
    write_file(root_ + "/sub/index.htm", "<p>index</p>");
    write_file(root_ + "/slice", pattern(524288, 1));
    write_file(root_ + "/slice1", pattern(524289, 2));
    ::mkfifo(QFile::encodeName(root_ + "/pipe.mov").constData(), 0600);  // not a file: never served
    // Links: one leads out of the folder, one stays inside it.
    QFile::link(dir_.path(), root_ + "/outside_link");
    QFile::link(dir_.path() + "/secret", root_ + "/secret_link.mp4");
    QFile::link(root_ + "/My Movie.mp4", root_ + "/inside_link.mp4");
    server_ = HttpServer::create(pool_, &workers_);
    server_->set_document_root(root_.toStdString() + "/");
    server_->set_request_timeout(request_timeout());
    server_->set_head_timeout(head_timeout());
    net::StreamError error;
    ASSERT_TRUE(server_->start(&error)) << error.text();
    port_ = server_->listening_port();
  }
  void TearDown() override {
    server_->stop();
    server_.reset();
    pool_.stop();
    workers_.stop();
  }
  virtual double request_timeout() { return 30.0; }
  virtual double head_timeout() { return 60.0; }

  // Waits until the server's connection list has n entries.
  bool connections_become(std::size_t n) {
    for (int i = 0; i < 200; ++i) {
      if (server_->number_of_connections() == n) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // The listener's pool goes first: an accept still pending holds a socket
  // of a worker's context.
  net::IoGroup workers_{2};
  net::IoPool pool_{1};
  QTemporaryDir dir_;
  QString root_;
  std::shared_ptr<HttpServer> server_;
  std::uint16_t port_ = 0;
};


// Time-outs short enough to watch.
class ShortTimeoutTest : public HttpServerTest {
  double request_timeout() override { return 0.3; }
  double head_timeout() override { return 0.6; }
};

}  // namespace tavri::test

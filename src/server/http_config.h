#pragma once
#include <boost/asio/io_context.hpp>
#include <boost/asio/strand.hpp>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "fs/open_beneath.h"

namespace tavri::http {

class HttpServer;
class SmallFileCache;

// What the server's connections count, read by the metrics.
struct HttpCounters {
  std::atomic<std::uint64_t> requests{0};    // heads read
  std::atomic<std::uint64_t> body_bytes{0};  // of files, sent or handed to the kernel
};

// What a connection receives at accept time; never changed afterwards.
struct HttpConfig {
  std::weak_ptr<HttpServer> server;
  std::string document_root;  // standardised, ending in "/"
  std::shared_ptr<const fs::Descriptor> folder;  // the document root held open; null when it cannot be
  std::optional<boost::asio::strand<boost::asio::io_context::executor_type>> queue;
  double request_timeout = 30.0;  // seconds per head line and per framing write
  double head_timeout = 30.0;     // seconds for a whole request head from its first line, however it trickles in
  double stall_timeout = 300.0;   // seconds a client may take no bytes at all before it is dropped
  std::shared_ptr<SmallFileCache> small_files;  // shared by the server's connections; may be null
  std::shared_ptr<HttpCounters> counters;       // may be null
};

}  // namespace tavri::http

// Serves one folder with the content server until SIGTERM or SIGINT, for
// the HTTP benchmark: http_serve FOLDER PORT [WORKER_THREADS]
// (0 workers: connections share the listener's one thread)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "net/io_pool.h"
#include "server/http_server.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER PORT [WORKER_THREADS]\n", argv[0]);
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

  const unsigned workers = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : std::thread::hardware_concurrency();
  tavri::net::IoPool pool(1);
  tavri::net::IoGroup group(workers);
  auto server = tavri::http::HttpServer::create(pool, workers > 0 ? &group : nullptr);
  server->set_document_root(argv[1]);
  server->set_port(static_cast<std::uint16_t>(std::atoi(argv[2])));
  tavri::net::StreamError error;
  if (!server->start(&error)) {
    std::fprintf(stderr, "cannot start: %s\n", error.text().c_str());
    return 1;
  }
  std::printf("serving %s on port %u\n", argv[1], server->listening_port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  server->stop();
  pool.stop();
  group.stop();
  return 0;
}

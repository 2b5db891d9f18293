// Serves one folder with the content server until SIGTERM or SIGINT, for
// the HTTP benchmark: http_serve FOLDER PORT [THREADS] [shared|per-connection]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/io_pool.h"
#include "server/http_server.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER PORT [THREADS] [shared|per-connection]\n", argv[0]);
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts

  tavri::net::IoPool pool(argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1);
  auto server = tavri::http::HttpServer::create(pool);
  server->set_document_root(argv[1]);
  server->set_queue_per_connection(argc > 4 && std::string(argv[4]) == "per-connection");
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
  return 0;
}

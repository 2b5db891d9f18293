#pragma once
#include <spdlog/logger.h>
#include <spdlog/sinks/dist_sink.h>

#include <memory>

namespace tavri::http {

// Where the HTTP component's lines go: empty unless a caller adds a sink,
// so they reach no output by default. Sinks are added and removed here,
// safely while server threads log.
inline std::shared_ptr<spdlog::sinks::dist_sink_mt> log_outputs() {
  static auto outputs = std::make_shared<spdlog::sinks::dist_sink_mt>();
  return outputs;
}

// The HTTP component's leveled logger.
inline std::shared_ptr<spdlog::logger> log() {
  static auto logger = [] {
    auto l = std::make_shared<spdlog::logger>("http", log_outputs());
    l->set_level(spdlog::level::info);
    return l;
  }();
  return logger;
}

}  // namespace tavri::http

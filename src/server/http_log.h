#pragma once
#include <spdlog/logger.h>

#include <memory>

namespace tavri::http {

// The HTTP component's leveled logger. It has no sink unless a caller adds
// one, so its diagnostic lines reach no output by default.
inline std::shared_ptr<spdlog::logger> log() {
  static auto logger = [] {
    auto l = std::make_shared<spdlog::logger>("http");
    l->set_level(spdlog::level::info);
    return l;
  }();
  return logger;
}

}  // namespace tavri::http

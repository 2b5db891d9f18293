#pragma once
#include <QString>

namespace tavri {

// What an operation did. One that fails changed nothing; it names the
// argument at fault and says why in the words an alert shows.
struct Outcome {
  enum Kind { kDone, kBadArgument, kUnknownId, kConflict, kNoRoom, kFailed };
  Kind kind = kDone;
  QString field;    // the argument at fault: "players", "name"
  QString message;  // the alert's text
  QString detail;   // its informative text

  bool ok() const { return kind == kDone; }
  static Outcome done() { return {}; }
  static Outcome bad(const QString& field, const QString& message, const QString& detail = {}) {
    return {kBadArgument, field, message, detail};
  }
  static Outcome unknown(const QString& field, const QString& message) { return {kUnknownId, field, message, {}}; }
  static Outcome conflict(const QString& field, const QString& message, const QString& detail = {}) {
    return {kConflict, field, message, detail};
  }
  static Outcome no_room(const QString& field, const QString& message, const QString& detail = {}) {
    return {kNoRoom, field, message, detail};
  }
  static Outcome failed(const QString& message, const QString& detail = {}) { return {kFailed, {}, message, detail}; }
};

}  // namespace tavri

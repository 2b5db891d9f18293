#pragma once
#include <QStringList>

// tavri-avctl's command line: its exit statuses, its commands and its usage.
namespace tavri::avctl {

// Exit statuses scripts can tell apart.
enum Exit { kOk = 0, kRefused = 1, kUsage = 2, kUnreachable = 3, kUnauthorized = 4, kServerError = 5, kDiskFull = 6 };

// Every command this client knows; anything else is a typing error, not a
// command for the players.
extern const QStringList kCommands;

// Prints the usage (on stderr, after `why`, when given) and gives kUsage.
int usage(const char* why = nullptr);

}  // namespace tavri::avctl

#pragma once
#include <optional>

#include "avctl/avctl_ctl.h"

namespace tavri::avctl {

// Runs `command` when it shows something an operator reads: a playlist's
// items with their lengths, a player's history, the catalogues searched;
// the server's recent log; its exit status, or nothing for any other command.
std::optional<int> view_command(Ctl& ctl, const QString& command, const QStringList& args, bool json);

// Seconds as "1:05" or "1:02:05"; "-" when not known.
QString duration_text(const QJsonValue& seconds);

}  // namespace tavri::avctl

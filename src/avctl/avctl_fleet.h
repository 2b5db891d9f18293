#pragma once
#include <optional>

#include "avctl/avctl_ctl.h"

namespace tavri::avctl {

// Runs `command` when it is one of groups, group, tasks or announce: its
// exit status; nothing for any other command.
std::optional<int> fleet_command(Ctl& ctl, const QString& command, QStringList args, const QStringList& to, bool json);

}  // namespace tavri::avctl

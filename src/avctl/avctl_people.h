#pragma once
#include <optional>

#include "avctl/avctl_ctl.h"

namespace tavri::avctl {

// Runs `command` when it is one of user, token, audit or notify: its exit
// status; nothing for any other command.
std::optional<int> people_command(Ctl& ctl, const QString& command, QStringList args, bool json);

}  // namespace tavri::avctl

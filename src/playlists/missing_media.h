#pragma once
#include <QString>
#include <QStringList>

#include "core/dialogs.h"

namespace tavri {

// A list whose media are not all in the content folder sends its players
// to DEVICE ERROR: the operator is asked first, naming the files, with
// "Cancel" as the default. True when the list may go.
inline bool confirm_send_despite_missing(Dialogs& dialogs, const QString& list_name, const QStringList& missing) {
  if (missing.isEmpty()) return true;
  QStringList shown = missing.mid(0, 10);
  if (missing.size() > 10) shown << QString("and %1 more").arg(missing.size() - 10);
  return dialogs.alert(QString("%1 of the files of \"%2\" are missing.").arg(missing.size()).arg(list_name),
                       "Players that load it would show DEVICE ERROR:\n" + shown.join("\n"), {"Cancel", "Send anyway"},
                       0) == 1;
}

}  // namespace tavri

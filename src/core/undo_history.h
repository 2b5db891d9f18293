#pragma once
#include <QString>
#include <QUndoStack>
#include <functional>

namespace tavri {

// The session's deletions, newest on top: Ctrl+Z puts the last one back.
// One history for every pane; nothing of it is saved. A deletion is done
// when it is remembered, so there is no redo: a new deletion replaces
// whatever was put back.
QUndoStack& undo_history();
void remember_deletion(const QString& text, std::function<void()> put_back);

}  // namespace tavri

#pragma once
#include <QString>
#include <functional>

class QWidget;

// The desk's share of the audit: each action of a pane or the menus, and
// each edit in a table, with what it was applied to (the rows selected in
// the pane) and how it ended (what the dialogs said and were answered).
namespace tavri::desk_audit {

using Recorder = std::function<void(const QString& operation, const QString& arguments, const QString& result)>;
// Nothing is recorded until the window's owner sets where it goes.
void set_recorder(Recorder recorder);

// Runs `fn`, the action `operation` of `pane`, and records it.
void run(QWidget* pane, const QString& operation, const std::function<void()>& fn);
// The same with the arguments given, not read off the pane.
void run_with(const QString& operation, const QString& arguments, const std::function<void()>& fn);
// Called by the dialogs: what was asked or said while an action runs, and the answer.
void note_dialog(const QString& message, const QString& answer);

}  // namespace tavri::desk_audit

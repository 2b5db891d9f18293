#include "ui/desk_audit.h"

#include <QAbstractItemView>
#include <QDockWidget>
#include <QItemSelectionModel>
#include <QStringList>
#include <QWidget>

namespace tavri::desk_audit {

namespace {

Recorder& recorder() {
  static Recorder r;
  return r;
}

// What the running action's dialogs said; actions may run inside others
// (a menu action that opens a pane's), each keeps its own.
QList<QStringList>& said() {
  static QList<QStringList> stack;
  return stack;
}

constexpr int kMostRows = 20;

// "players: Lobby 1, Lobby 2; playlists: Morning": the rows chosen in each
// table of the pane, named by their first column.
QString selection_of(QWidget* pane) {
  QStringList parts;
  if (!pane) return {};
  for (QAbstractItemView* view : pane->findChildren<QAbstractItemView*>()) {
    if (!view->selectionModel() || !view->model() || !view->isVisible()) continue;
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.isEmpty()) continue;
    QStringList names;
    for (const QModelIndex& row : rows.mid(0, kMostRows)) {
      QString name;
      for (int c = 0; c < view->model()->columnCount() && name.isEmpty(); ++c)
        name = view->model()->index(row.row(), c).data(Qt::DisplayRole).toString().trimmed();
      names << name;
    }
    if (rows.size() > kMostRows) names << QString("and %1 more").arg(rows.size() - kMostRows);
    parts << QString("%1: %2").arg(view->objectName().isEmpty() ? "rows" : view->objectName(), names.join(", "));
  }
  return parts.join("; ");
}

}  // namespace

void set_recorder(Recorder r) { recorder() = std::move(r); }

void note_dialog(const QString& message, const QString& answer) {
  if (said().isEmpty()) return;
  said().last() << (answer.isEmpty() ? message : QString("%1 → %2").arg(message, answer));
}

void run_with(const QString& operation, const QString& arguments, const std::function<void()>& fn) {
  if (!recorder()) return fn();
  said().append(QStringList());
  fn();
  const QStringList dialogs = said().takeLast();
  recorder()(operation, arguments, dialogs.isEmpty() ? "done" : dialogs.join(" / "));
}

void run(QWidget* pane, const QString& operation, const std::function<void()>& fn) {
  if (!recorder()) return fn();
  QString where;
  for (QWidget* w = pane; w && where.isEmpty(); w = w->parentWidget())
    if (auto* dock = qobject_cast<QDockWidget*>(w)) where = dock->windowTitle();
  run_with(where.isEmpty() ? operation : QString("%1: %2").arg(where, operation), selection_of(pane), fn);
}

}  // namespace tavri::desk_audit

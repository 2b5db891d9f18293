#pragma once
#include <QBoxLayout>
#include <QWidget>
#include <QString>
#include <functional>

#include "core/outcome.h"
#include "ui/record_table.h"


namespace tavri {

// What the button of that action does, in a sentence; empty if unknown.
QString action_tooltip(const QString& action_name);

// One of a pane's actions: {object name, title, action, image}.
struct Action {
  QString name, title;
  std::function<void()> run;
  QString image = {};
};
// The pane's actions as a tool bar row, and a "more" button with all of
// them: each a QAction named after it (its button too), with its tooltip
// and, for removing and renaming, Delete and F2. They are also the context
// menu of every table already in the pane.
QWidget* action_bar(QWidget* pane, const QList<Action>& actions);

// What rows dragged out of the content and playlist item tables carry.
inline constexpr char kContentRowsMime[] = "application/x-tavri-content-rows";
inline constexpr char kItemRowsMime[] = "application/x-tavri-playlist-item-rows";
// A search field that filters the table as the operator types.
QWidget* filter_field(QWidget* parent, RecordTable* table, const QString& object_name);

// A catalogue's name column, edited in place through `rename` (the same
// operation F2's dialog calls); a refusal shows by the table.
Column name_column(const QString& title, const RecordList& catalogue,
                   std::function<Outcome(qint64 id, const QString& name)> rename, RecordTable* const& table);

// The selected row's cell in `column`, open for typing (one row selected).
void edit_selected(RecordTable* table, int column);

// A titled column: the title, a filter (Ctrl+F), a table (created by
// make_table inside the pane) and its tool bar below.
QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions);

}  // namespace tavri

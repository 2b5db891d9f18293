#include "window_parts.h"

#include <QApplication>

#include "ui/desk_audit.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAction>
#include <QLineEdit>
#include <QShortcut>
#include <QHBoxLayout>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include "record_table.h"
#include "widgets/tavri_defaults.h"

#include <QHash>

#include "ui/named_images.h"
#include "widgets/tavri_text.h"

namespace tavri {

QString action_tooltip(const QString& name) {
  // What each button does, as its tooltip says it; the same name is the
  // same action in every pane.
  static const QHash<QString, QString> tips = {
      {"ADD_FILE_TO_LIST", "Add the selected content to the end of this playlist"},
      {"DELETE_MOVIE", "Remove the selected items from this playlist (undo delete brings them back)"},
      {"MOVE_UP", "Move the selected item up"},
      {"MOVE_DOWN", "Move the selected item down"},
      {"PLAYLIST_CREATOR", "Make one new playlist of the selected content"},
      {"PLAYLIST_CREATOR_SEP", "Make a new playlist for each selected file"},
      {"REPLACE_FILE", "Put the selected content in place of the selected item"},
      {"UNDO_DELETE", "Bring back the items deleted last"},
      {"changeImg_length", "Set how long the selected still is shown"},
      {"send_to_device", "Send the selected playlist to the selected players"},
      {"add_new_playlist", "Make a new, empty playlist"},
      {"copy_playlist", "Copy the selected playlist with its items"},
      {"changeName", "Rename the selected entry"},
      {"remove_playlist", "Remove the selected playlist (asks first)"},
      {"press_select", "Choose the content folder that players download from"},
      {"rescan_Folder", "Read the content folder again"},
      {"add_File", "Copy files into the content folder"},
      {"add_stream", "Add the address of a web stream"},
      {"replace_file", "Replace the selected file; playlists keep it"},
      {"delete_File", "Delete the selected file from the content folder (asks first)"},
      {"get_links", "Show which playlists use the selected file"},
      {"device_play", "Play on the selected players"},
      {"device_pause", "Pause the selected players"},
      {"device_back", "Go back one track on the selected players"},
      {"device_next", "Go to the next track on the selected players"},
      {"device_menue_on", "Show the menu on the selected players"},
      {"device_menue_off", "Hide the menu on the selected players"},
      {"device_mute_on", "Mute the selected players"},
      {"device_mute_off", "Turn the sound of the selected players on"},
      {"device_clear_list", "Clear the playlist of the selected players (asks first)"},
      {"device_clear_content", "Delete the content stored on the selected players (asks first)"},
      {"reset_device", "Restart the selected players (asks first)"},
      {"sendM3U8", "Send a web stream to the selected players"},
      {"set_as_new_background_pic", "Send the selected still as background to the selected players"},
      {"refresh_lists", "Ask the selected players to download their lists again"},
      {"discover_devices", "Ask every player on the network to answer"},
      {"remove_device_single", "Remove the selected player from the list (asks first)"},
      {"remove_devices", "Remove every player from the list (asks first)"},
      {"sort_table", "Sort the players by name"},
      {"open_map", "Show the players on the floor plan"},
      {"add_new_schedule", "Make a new, empty schedule"},
      {"copy_schedule", "Copy the selected schedule with its tasks"},
      {"rename_schedule", "Rename the selected schedule"},
      {"delete_schedule", "Delete the selected schedule (asks first)"},
      {"create_schedule_from_content", "Make a schedule with one task per selected content"},
      {"send_schedule", "Send the selected schedule to the selected players"},
      {"add_line", "Add a task to the selected schedule"},
      {"copy_line", "Copy the selected task"},
      {"rename_line", "Rename the selected task"},
      {"change_date", "Set the date of the selected task"},
      {"change_time", "Set the time of the selected task"},
      {"delete_line", "Delete the selected task (asks first)"},
      {"load_map", "Choose a floor plan picture"},
      {"map_scale_up", "Zoom in"},
      {"map_scale_down", "Zoom out"},
      {"map_scale_100", "Show the map at its own size"},
  };
  return tips.value(name);
}

namespace {
// Keys an operator expects, the same in every pane: Delete removes and F2
// renames what is selected, as its button does (a playlist's items go
// without a question; Edit > Undo brings them back).
QKeySequence shortcut_for(const QString& name) {
  static const QHash<QString, QKeySequence> keys = {
      {"DELETE_MOVIE", QKeySequence::Delete},   {"remove_playlist", QKeySequence::Delete},
      {"delete_File", QKeySequence::Delete},    {"remove_device_single", QKeySequence::Delete},
      {"delete_schedule", QKeySequence::Delete}, {"delete_line", QKeySequence::Delete},
      {"changeName", Qt::Key_F2},               {"rename_schedule", Qt::Key_F2},
      {"rename_line", Qt::Key_F2},
  };
  return keys.value(name);
}
}  // namespace

// A cell editor left open is taken and closed before an action runs: the
// buttons do not take the focus, so it would stay open through a SEND.
static void close_cell_editor() {
  QWidget* focus = QApplication::focusWidget();
  QWidget* viewport = focus ? focus->parentWidget() : nullptr;
  // What has the focus inside a table's viewport is a cell editor.
  if (auto* view = viewport ? qobject_cast<QAbstractItemView*>(viewport->parentWidget()) : nullptr;
      view && view->viewport() == viewport)
    view->setFocus();
}

QWidget* action_bar(QWidget* pane, const QList<Action>& actions) {
  auto* bar = new QToolBar(pane);
  bar->setObjectName(pane->objectName() + "_actions");
  // Icon and text while they fit; every action is also behind the MORE
  // button and in the tables' context menus.
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->setIconSize(QSize(18, 18));
  bar->setFont(tavri_defaults::font(tavri_defaults::fontname_normal(), tavri_defaults::float_button_height));
  const QString buttons = " " + tavri_defaults::button_style("QToolButton", "padding: 3px 6px;");
  bar->setStyleSheet("QToolBar { background: transparent; border: none; spacing: 3px; }" + buttons);
  QList<QAction*> made;
  for (const Action& a : actions) {
    const QIcon icon = a.image.isEmpty() ? QIcon() : QIcon(QPixmap::fromImage(named_image(a.image)));
    auto* action = new QAction(icon, a.title.toUpper(), pane);
    action->setObjectName(a.name);
    const QString tip = action_tooltip(a.name);
    action->setToolTip(tip.isEmpty() ? a.title : tip);
    if (const QKeySequence key = shortcut_for(a.name); !key.isEmpty()) {
      action->setShortcut(key);
      action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      action->setToolTip(action->toolTip() + " (" + key.toString(QKeySequence::NativeText) + ")");
    }
    QObject::connect(action, &QAction::triggered, pane, [run = a.run, pane, title = a.title.toUpper()] {
      close_cell_editor();
      desk_audit::run(pane, title, run);
    });
    bar->addAction(action);
    if (QWidget* button = bar->widgetForAction(action)) button->setObjectName(a.name);
    made.append(action);
  }
  // What does not fit is hidden by the bar (its own overflow button is
  // too small to find); a "more" button beside it lists every action.
  if (auto* overflow = bar->findChild<QToolButton*>("qt_toolbar_ext_button")) overflow->setMaximumSize(0, 0);
  auto* more = new QToolButton(pane);
  more->setObjectName(pane->objectName() + "_more");
  more->setText(QString::fromUtf8("MORE \u00bb"));
  more->setToolTip("Every action of this pane (also on the table's right-click menu)");
  more->setPopupMode(QToolButton::InstantPopup);
  more->setFont(bar->font());
  more->setStyleSheet(buttons + QString(" QToolButton::menu-indicator { image: none; } QMenu { background: %1; color: %2; }"
                                        " QMenu::item:selected { background: %2; color: %3; }")
                                    .arg(tavri_defaults::color_tavri_gray().name(), tavri_defaults::color_tavri_green().name(),
                                         tavri_defaults::color_tavri_text_on_select().name()));
  auto* menu = new QMenu(more);
  menu->addActions(made);
  more->setMenu(menu);
  for (QAbstractItemView* view : pane->findChildren<QAbstractItemView*>()) {
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    view->addActions(made);
  }
  auto* row = new QWidget(pane);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(3);
  layout->addWidget(bar, 1);
  layout->addWidget(more);
  return row;
}

QWidget* filter_field(QWidget* parent, RecordTable* table, const QString& object_name) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(object_name);
  field->setPlaceholderText("Filter (name, kind, state ...)");
  field->setClearButtonEnabled(true);
  field->setToolTip("Shows only the rows that contain this text");
  field->setStyleSheet(QString("QLineEdit { background: %1; color: %2; border: 1px solid %3; padding: 2px 4px; }")
                           .arg(tavri_defaults::color_tavri_dark_gray().name(), tavri_defaults::color_tavri_text().name(),
                                tavri_defaults::color_tavri_gray().name()));
  QObject::connect(field, &QLineEdit::textChanged, table, &RecordTable::set_filter);
  // Ctrl+F finds in the pane the operator works in.
  auto* find = new QShortcut(QKeySequence::Find, parent, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  QObject::connect(find, &QShortcut::activated, field, [field] {
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
  });
  return field;
}

Column name_column(const QString& title, const RecordList& catalogue,
                   std::function<Outcome(qint64 id, const QString& name)> rename, RecordTable* const& table) {
  Column name{"name", title, 160};
  name.edit = [&catalogue, &table, rename = std::move(rename)](int i, const QVariant& v) {
    const Outcome o = rename(catalogue.at(i).value("id").toLongLong(), v.toString());
    if (!o.ok()) QToolTip::showText(table->mapToGlobal(QPoint(0, 0)), o.message, table);
  };
  return name;
}

void edit_selected(RecordTable* table, int column) {
  const QModelIndexList rows = table->selectionModel()->selectedRows(column);
  if (rows.size() != 1) return;
  table->setCurrentIndex(rows.first());
  table->edit(rows.first());
}

QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new tavri_title_text(title, pane));
  QWidget* table = make_table(pane);
  if (auto* records = qobject_cast<RecordTable*>(table))
    layout->addWidget(filter_field(pane, records, table->objectName() + "_filter"));
  layout->addWidget(table, 1);
  layout->addWidget(action_bar(pane, actions));
  return pane;
}

}  // namespace tavri

#include "window_parts.h"

#include <algorithm>

#include <QResizeEvent>
#include <QLineEdit>
#include <QScrollArea>

#include "record_table.h"
#include "widgets/tavri_defaults.h"

#include <QGridLayout>
#include <QHash>

#include "core/named_images.h"
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

tavri_button* action_button(QWidget* parent, const QString& object_name, const QString& title,
                            std::function<void()> action, const QString& image) {
  auto* button = new tavri_button(title, parent, image.isEmpty() ? QImage() : named_image(image));
  button->setObjectName(object_name);
  button->setToolTip(action_tooltip(object_name));
  button->setMinimumHeight(30);
  QObject::connect(button, &QPushButton::clicked, button, [action = std::move(action)] { action(); });
  return button;
}

namespace {
// Shows the panel whole when there is room, and scrolls its rows when not.
class ButtonScroller : public QScrollArea {
 public:
  ButtonScroller(QWidget* parent, ButtonPanel* panel) : QScrollArea(parent), panel_(panel) {
    setWidget(panel);
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setStyleSheet("QScrollArea { background: transparent; } QScrollArea > QWidget > QWidget { background: transparent; }");
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }
  QSize sizeHint() const override { return panel_->sizeHint(); }
  // Two rows at least; the rest scrolls.
  QSize minimumSizeHint() const override {
    return {panel_->minimumSizeHint().width(), std::min(panel_->sizeHint().height(), 2 * panel_->row_height())};
  }
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override { return panel_->heightForWidth(width); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    const int width = viewport()->width();
    panel_->resize(width, panel_->heightForWidth(width));
  }

 private:
  ButtonPanel* panel_;
};
}  // namespace

QWidget* button_panel(QWidget* parent, const QList<Action>& actions, int columns) {
  auto* panel = new ButtonPanel(nullptr, columns);
  for (const Action& a : actions) panel->add(action_button(panel, a.name, a.title, a.run, a.image));
  return new ButtonScroller(parent, panel);
}

ButtonPanel::ButtonPanel(QWidget* parent, int max_columns) : QWidget(parent), max_columns_(std::max(1, max_columns)) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void ButtonPanel::add(QWidget* button) {
  button->setParent(this);
  buttons_.append(button);
  updateGeometry();
  place();
}

int ButtonPanel::cell_width() const {
  int widest = 0;
  for (const QWidget* b : buttons_) widest = std::max(widest, b->sizeHint().width());
  return widest;
}

int ButtonPanel::cell_height() const {
  int tallest = 0;
  for (const QWidget* b : buttons_) tallest = std::max({tallest, b->sizeHint().height(), b->minimumHeight()});
  return tallest;
}

int ButtonPanel::columns_for(int width) const {
  const int cell = std::max(1, cell_width());
  return std::clamp((width + kSpacing) / (cell + kSpacing), 1, max_columns_);
}

int ButtonPanel::heightForWidth(int width) const {
  if (buttons_.isEmpty()) return 0;
  const int columns = columns_for(width);
  const int rows = (static_cast<int>(buttons_.size()) + columns - 1) / columns;
  return rows * cell_height() + (rows - 1) * kSpacing;
}

QSize ButtonPanel::sizeHint() const {
  const int columns = std::min<int>(max_columns_, std::max<qsizetype>(1, buttons_.size()));
  const int width = columns * cell_width() + (columns - 1) * kSpacing;
  return {width, heightForWidth(width)};
}

// Three buttons a row at the narrowest.
QSize ButtonPanel::minimumSizeHint() const {
  const int columns = std::min<int>(3, std::max<qsizetype>(1, buttons_.size()));
  const int width = std::min(columns, max_columns_) * (cell_width() + kSpacing) - kSpacing;
  return {width, heightForWidth(width)};
}

void ButtonPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  place();
}

void ButtonPanel::place() {
  if (buttons_.isEmpty()) return;
  const int columns = columns_for(width());
  const int w = std::max(cell_width(), (width() - (columns - 1) * kSpacing) / columns);
  const int h = cell_height();
  for (int i = 0; i < buttons_.size(); ++i)
    buttons_[i]->setGeometry((i % columns) * (w + kSpacing), (i / columns) * (h + kSpacing), w, h);
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
  return field;
}

QWidget* table_pane(QWidget* parent, const QString& title, const std::function<QWidget*(QWidget*)>& make_table,
                    const QList<Action>& actions, int columns) {
  auto* pane = new QWidget(parent);
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new tavri_title_text(title, pane));
  QWidget* table = make_table(pane);
  if (auto* records = qobject_cast<RecordTable*>(table))
    layout->addWidget(filter_field(pane, records, table->objectName() + "_filter"));
  layout->addWidget(table, 1);
  layout->addWidget(button_panel(pane, actions, columns));
  return pane;
}

}  // namespace tavri

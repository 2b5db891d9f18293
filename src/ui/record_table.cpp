#include "record_table.h"

#include "ui/desk_audit.h"

#include <QMimeData>
#include <QUrl>
#include "named_images.h"
#include "window_parts.h"

#include <QColor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSettings>
#include <algorithm>
#include <utility>

#include "widgets/tavri_table_view.h"

#include "content/content_item.h"

namespace tavri {

Column thumbnail_column() {
  Column icon{"file_icon", "", 50};
  icon.display = [](const Record&) { return QVariant(); };
  icon.decoration = [](const Record& r) { return picture_of(r.value("file_icon")); };
  return icon;
}

Column length_column() {
  Column length{"file_length", "Length", 80};
  length.display = [](const Record& r) { return length_in_timecode(r.value("file_length")); };
  return length;
}

RecordTableModel::RecordTableModel(RecordList& list, std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), list_(list), columns_(std::move(columns)) {
  connect(&list_, &RecordList::changed, this, [this] {
    if (const int index = list_.changed_row(); index >= 0) {
      const int row = list_.row_of_list_index(index);
      emit dataChanged(this->index(row, 0), this->index(row, columnCount() - 1));
      return;
    }
    if (list_.changed_row() == RecordList::kManyRows) {
      if (rowCount() > 0) emit dataChanged(this->index(0, 0), this->index(rowCount() - 1, columnCount() - 1));
      return;
    }
    beginResetModel();
    endResetModel();
  });
}

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : list_.size(); }
int RecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.size()) return {};
  const Column& c = column(index.column());
  const Record& r = list_.row(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (c.checkbox) return {};
      return c.display ? c.display(r) : r.value(c.key);
    case Qt::DecorationRole:
      if (!c.decoration) return {};
      if (auto v = c.decoration(r); v.metaType().id() == QMetaType::QImage)
        return icon_for(v.value<QImage>());
      else
        return v;
    case Qt::ForegroundRole:
      return c.foreground ? c.foreground(r) : QVariant();
    case Qt::CheckStateRole:
      if (!c.checkbox) return {};
      return (c.checked ? c.checked(r) : flag_is_set(r.value(c.key))) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
      if (c.tooltip) return c.tooltip(r);
      return c.display ? c.display(r) : r.value(c.key);
    default:
      return {};
  }
}

QImage RecordTableModel::icon_for(const QImage& picture) const {
  if (picture.isNull()) return picture;
  if (const auto it = icons_.constFind(picture.cacheKey()); it != icons_.constEnd()) return *it;
  // Content thumbnails come and go with rescans: the cache starts again
  // rather than grow.
  if (icons_.size() >= 4096) icons_.clear();
  return *icons_.insert(picture.cacheKey(), picture.scaled(40, 22, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::ToolTipRole && !column(section).header_tooltip.isEmpty()) return column(section).header_tooltip;
  if (role != Qt::DisplayRole) return {};
  return column(section).title.toUpper();
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
  // Below the last row: only a drop may land there.
  if (!index.isValid()) return drop_check_ ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  const Column& c = column(index.column());
  if (c.edit) f |= c.checkbox ? Qt::ItemIsUserCheckable : Qt::ItemIsEditable;
  if (draggable_ && index.isValid()) f |= Qt::ItemIsDragEnabled;
  if (drop_check_) f |= Qt::ItemIsDropEnabled;
  return f;
}

QStringList RecordTableModel::mimeTypes() const {
  return {kContentRowsMime, kItemRowsMime, "text/uri-list"};
}

bool RecordTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const Column& c = column(index.column());
  if (!c.edit || index.row() >= list_.size()) return false;
  const int list_index = list_.list_index_of_row(index.row());
  const bool box = c.checkbox && role == Qt::CheckStateRole;
  if (!box && (c.checkbox || role != Qt::EditRole)) return false;
  const QVariant given = box ? QVariant(value.toInt() == Qt::Checked ? 1 : 0) : value;
  // Which row: its first column's text, as the operator sees it.
  const QString row = this->index(index.row(), 0).data(Qt::DisplayRole).toString();
  desk_audit::run_with(QString("EDIT %1: %2").arg(parent() ? parent()->objectName() : QString(), c.title),
                       QString("%1 %2 = %3").arg(column(0).title, row, given.toString()),
                       [&] { c.edit(list_index, given); });
  return true;
}

RecordTable::RecordTable(const QString& object_name, RecordList& list, std::vector<Column> columns, QWidget* parent)
    : tavri_table_view(parent), list_(list) {
  setObjectName(object_name);
  // A short pane keeps three rows of its table; its buttons scroll first.
  setMinimumHeight(horizontalHeader()->height() + 3 * verticalHeader()->defaultSectionSize() + 14);
  std::vector<int> widths;
  for (const Column& c : columns) widths.push_back(c.width);
  model_ = new RecordTableModel(list, std::move(columns), this);
  setModel(model_);
  // Never narrower than its title: a cut title names nothing.
  const auto* header = static_cast<tavri_header_view*>(horizontalHeader());
  for (int i = 0; i < static_cast<int>(widths.size()); ++i) {
    const QString title = model_->column(i).title;
    setColumnWidth(i, std::max(widths[static_cast<std::size_t>(i)], title.isEmpty() ? 0 : header->title_width(title)));
  }
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked);
  // The header flips its own indicator before it tells of the click: the
  // order is the list's, and a second click on the sorted column reverses it.
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
    const Column& c = model_->column(section);
    if (!c.sortable) {
      sync_sort_indicator();
      return;
    }
    list_.set_sort_key(c.key, true, !(list_.sort_key() == c.key && list_.sort_ascending()), true);
    sync_sort_indicator();
  });
  connect(&list_, &RecordList::selection_changed, this, [this] {
    if (syncing_) return;  // chosen here: the view is where the operator left it
    list_to_view();
    // Chosen elsewhere (on the map): its row is brought into sight.
    if (const QList<int> rows = list_.selected_rows(); !rows.isEmpty()) scrollTo(model_->index(rows.first(), 1));
  });
  connect(&list_, &RecordList::changed, this, [this] {
    if (const int index = list_.changed_row(); index >= 0) {
      apply_filter_to(list_.row_of_list_index(index));
      return;  // one row's values: the selection is as it was
    }
    if (list_.changed_row() == RecordList::kManyRows) {
      if (!filter_.isEmpty()) apply_filter();  // values only: the order and the selection hold
      return;
    }
    apply_filter();
    list_to_view();
  });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &RecordTable::view_to_list);
  list_to_view();
}

void RecordTable::sync_sort_indicator() {
  QHeaderView* header = horizontalHeader();
  int section = -1;
  for (int i = 0; i < model_->columnCount(); ++i)
    if (model_->column(i).sortable && model_->column(i).key == list_.sort_key()) section = i;
  header->setSortIndicatorShown(section >= 0);
  header->setSortIndicator(section, list_.sort_ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  header->viewport()->update();
}

// The operator's choice of columns, kept under `settings_key` for the next start.
void RecordTable::set_optional_columns(const QString& settings_key, const QStringList& hidden_at_first) {
  QSettings settings;
  const QString key = "columns/" + settings_key;
  const QStringList hidden = settings.contains(key) ? settings.value(key).toStringList() : hidden_at_first;
  for (int i = 0; i < model_->columnCount(); ++i) setColumnHidden(i, hidden.contains(model_->column(i).title));
  horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(horizontalHeader(), &QHeaderView::customContextMenuRequested, this, [this, key](const QPoint& at) {
    QMenu menu(this);
    bool first = true;
    for (int i = 0; i < model_->columnCount(); ++i) {
      const QString title = model_->column(i).title;
      if (title.isEmpty()) continue;
      if (std::exchange(first, false)) continue;
      QAction* action = menu.addAction(title);
      action->setCheckable(true);
      action->setChecked(!isColumnHidden(i));
      connect(action, &QAction::toggled, this, [this, i, key](bool shown) {
        setColumnHidden(i, !shown);
        QStringList now_hidden;
        for (int j = 0; j < model_->columnCount(); ++j)
          if (isColumnHidden(j)) now_hidden << model_->column(j).title;
        QSettings().setValue(key, now_hidden);
      });
    }
    menu.exec(horizontalHeader()->mapToGlobal(at));
  });
}

void RecordTable::set_drag_rows(const QString& mime) {
  drag_mime_ = mime;
  model_->set_draggable(true);
  setDragEnabled(true);
  setDragDropMode(drop_ ? QAbstractItemView::DragDrop : QAbstractItemView::DragOnly);
}

void RecordTable::set_drop(DropCheck accepts, Drop drop) {
  drop_accepts_ = std::move(accepts);
  drop_ = std::move(drop);
  model_->set_drop_check([this](const QMimeData& data) { return takes(data); });
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(true);
  setDragDropMode(drag_mime_.isEmpty() ? QAbstractItemView::DropOnly : QAbstractItemView::DragDrop);
}

QList<int> RecordTable::dragged_rows(const QMimeData& data, const QString& mime) {
  QList<int> indices;
  for (const QByteArray& part : data.data(mime).split(','))
    if (bool ok = false; !part.isEmpty()) {
      const int i = part.toInt(&ok);
      if (ok) indices << i;
    }
  return indices;
}

void RecordTable::startDrag(Qt::DropActions) {
  if (drag_mime_.isEmpty() || !list_.has_selection()) return;
  QStringList indices;
  for (int index : list_.selected_list_indices()) indices << QString::number(index);
  auto* data = new QMimeData;
  data->setData(drag_mime_, indices.join(',').toLatin1());
  auto* drag = new QDrag(this);
  drag->setMimeData(data);
  drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool RecordTable::takes(const QMimeData& data) const { return drop_ && drop_accepts_ && drop_accepts_(data); }

// An enter event is a move event too; the view's own takes it into its
// dragging state, in which it draws the drop line.
void RecordTable::dragEnterEvent(QDragEnterEvent* event) {
  if (!takes(*event->mimeData())) return event->ignore();
  QTableView::dragEnterEvent(event);
  dragMoveEvent(event);
}

void RecordTable::dragMoveEvent(QDragMoveEvent* event) {
  if (!takes(*event->mimeData())) return event->ignore();
  QTableView::dragMoveEvent(event);  // the line that shows where it lands
  event->acceptProposedAction();
}

void RecordTable::dropEvent(QDropEvent* event) {
  const QModelIndex under = indexAt(event->position().toPoint());
  if (drop_data(*event->mimeData(), under.isValid() ? under.row() : model_->rowCount()))
    event->acceptProposedAction();
  else
    event->ignore();
  setState(NoState);  // the drop indicator goes
  viewport()->update();
}

bool RecordTable::drop_data(const QMimeData& data, int row) {
  if (!takes(data)) return false;
  const int at = std::clamp(row, 0, model_->rowCount());
  // What was dropped: file names, or the dragged rows' text.
  QStringList what;
  for (const QUrl& url : data.urls()) what << url.fileName();
  if (what.isEmpty()) what << data.text().left(200);
  desk_audit::run_with(QString("DROP on %1").arg(objectName()), QString("%1 at row %2").arg(what.join(", ")).arg(at + 1),
                       [&] { drop_(data, at); });
  return true;
}

void RecordTable::set_filter(const QString& text) {
  filter_ = text.trimmed();
  apply_filter();
}

bool RecordTable::matches(int row) const {
  if (filter_.isEmpty()) return true;
  for (int c = 0; c < model_->columnCount(); ++c)
    if (model_->index(row, c).data(Qt::DisplayRole).toString().contains(filter_, Qt::CaseInsensitive)) return true;
  return false;
}

void RecordTable::apply_filter_to(int row) {
  if (row < 0 || row >= model_->rowCount()) return;
  const bool hide = !matches(row);
  if (isRowHidden(row) != hide) setRowHidden(row, hide);
}

void RecordTable::apply_filter() {
  QList<int> kept;
  bool dropped = false;
  for (int row = 0; row < model_->rowCount(); ++row) apply_filter_to(row);
  for (int row : list_.selected_rows()) {
    if (isRowHidden(row)) dropped = true;
    else kept << row;
  }
  if (dropped) list_.select_rows(kept);
}

void RecordTable::list_to_view() {
  if (syncing_) return;
  syncing_ = true;
  QItemSelection selection;
  for (int row : list_.selected_rows())
    selection.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  syncing_ = false;
}

void RecordTable::view_to_list() {
  if (syncing_) return;
  syncing_ = true;
  // Select-all and shift-click take hidden rows too: only what is in view
  // is chosen, so no command reaches a player the filter hides.
  QList<int> rows;
  bool hidden = false;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    if (isRowHidden(index.row())) hidden = true;
    else rows << index.row();
  }
  std::sort(rows.begin(), rows.end());
  list_.select_rows(rows);
  syncing_ = false;
  if (hidden) list_to_view();
}

}  // namespace tavri

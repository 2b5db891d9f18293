#include "ui/audit_window.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/dialogs.h"
#include "core/folders.h"
#include "history/history_store.h"

namespace tavri {

namespace {

constexpr int kMostRows = 2000;

history::AuditFilter filter_of(const QString& who, const QString& operation, int since_hours) {
  history::AuditFilter f;
  f.from_ms = QDateTime::currentMSecsSinceEpoch() - qint64(since_hours) * 3600 * 1000;
  f.who = who.trimmed();
  f.operation = operation.trimmed();
  f.limit = kMostRows;
  return f;
}

}  // namespace

AuditWindow::AuditWindow(history::HistoryStore& store, Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), store_(store), dialogs_(dialogs) {
  setObjectName("audit");
  setWindowTitle("Audit - tavri AV server");
  resize(1100, 560);
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  who_ = new QLineEdit(this);
  who_->setObjectName("audit_who");
  who_->setPlaceholderText("anyone");
  operation_ = new QLineEdit(this);
  operation_->setObjectName("audit_operation");
  operation_->setPlaceholderText("any operation");
  since_ = new QComboBox(this);
  since_->setObjectName("audit_since");
  for (const auto& [text, hours] : {std::pair{"the last hour", 1}, {"the last day", 24}, {"the last week", 168},
                                    {"the last 90 days", 2160}})
    since_->addItem(text, hours);
  since_->setCurrentIndex(1);
  auto* show = new QPushButton("SHOW", this);
  auto* csv = new QPushButton("EXPORT CSV", this);
  csv->setObjectName("audit_csv");
  bar->addWidget(new QLabel("Who", this));
  bar->addWidget(who_, 1);
  bar->addWidget(new QLabel("Operation", this));
  bar->addWidget(operation_, 1);
  bar->addWidget(new QLabel("Since", this));
  bar->addWidget(since_);
  bar->addWidget(show);
  bar->addWidget(csv);
  layout->addLayout(bar);
  table_ = new QTableWidget(0, 6, this);
  table_->setObjectName("audit_table");
  table_->setHorizontalHeaderLabels({"TIME", "WHO", "FROM", "OPERATION", "RESULT", "ARGUMENTS"});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  layout->addWidget(table_, 1);
  connect(show, &QPushButton::clicked, this, &AuditWindow::reload);
  connect(who_, &QLineEdit::returnPressed, this, &AuditWindow::reload);
  connect(operation_, &QLineEdit::returnPressed, this, &AuditWindow::reload);
  connect(since_, &QComboBox::currentIndexChanged, this, &AuditWindow::reload);
  connect(csv, &QPushButton::clicked, this, &AuditWindow::export_csv);
}

void AuditWindow::reload() {
  // What was done a moment ago is in the file before it is read.
  store_.flush();
  const auto entries = store_.audit(filter_of(who_->text(), operation_->text(), since_->currentData().toInt()));
  table_->setRowCount(int(entries.size()));
  for (int row = 0; row < int(entries.size()); ++row) {
    const auto& e = entries[std::size_t(row)];
    const QStringList cells{QDateTime::fromMSecsSinceEpoch(e.time_ms).toString("yyyy-MM-dd HH:mm:ss"), e.who, e.address,
                            e.operation, e.result, e.arguments};
    for (int column = 0; column < cells.size(); ++column) {
      auto* item = new QTableWidgetItem(cells[column].left(500));
      item->setToolTip(cells[column].left(4000));
      if (column == 4 && (e.result.startsWith("refused") || e.result.endsWith("Cancel")))
        item->setForeground(QColor(0xa3, 0x00, 0x1b));
      table_->setItem(row, column, item);
    }
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setStretchLastSection(true);
}

void AuditWindow::export_csv() {
  PanelOptions options;
  options.prompt = "Export the audit as CSV:";
  options.name_field = QString("audit_%1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
  options.extensions = {"csv"};
  const auto path = dialogs_.save_panel(options);
  if (!path) return;
  const auto entries = store_.audit(filter_of(who_->text(), operation_->text(), since_->currentData().toInt()));
  if (const auto failure = write_file_atomically(*path, history::audit_log::csv(entries)))
    dialogs_.alert("The audit could not be exported.", *failure, {"OK"});
}

}  // namespace tavri

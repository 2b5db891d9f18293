#pragma once
#include <QDialog>

class QComboBox;
class QLineEdit;
class QTableWidget;

namespace tavri {

class Dialogs;
namespace history {
class HistoryStore;
}

// The audit at the desk: who changed what, from where, and how it ended,
// filtered by person, operation and time, and exported as CSV.
class AuditWindow : public QDialog {
  Q_OBJECT
 public:
  AuditWindow(history::HistoryStore& store, Dialogs& dialogs, QWidget* parent = nullptr);
  void reload();
  QTableWidget* table() const { return table_; }
  QLineEdit* who() const { return who_; }

 private:
  void export_csv();
  history::HistoryStore& store_;
  Dialogs& dialogs_;
  QLineEdit *who_, *operation_;
  QComboBox* since_;
  QTableWidget* table_;
};

}  // namespace tavri

#pragma once
#include <QWidget>

#include "core/dialogs.h"

namespace tavri {

// The dialog seam realised with modal Qt dialogs.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }

  using Dialogs::alert;
  int alert(const QString& message, const QString& informative, const QStringList& buttons,
            int default_button) override;
  std::optional<QString> prompt(const QString& message, const QString& start_text, int field_width) override;
  std::optional<QStringList> open_panel(const PanelOptions& options) override;
  std::optional<QString> save_panel(const PanelOptions& options) override;
  std::optional<QDateTime> pick_date(const QString& message, const QDateTime& start) override;
  std::optional<QDateTime> pick_time(const QString& message, const QDateTime& start) override;

 private:
  std::optional<QDateTime> pick(const QString& message, const QDateTime& start, bool date);
  QWidget* parent_;
};

}  // namespace tavri

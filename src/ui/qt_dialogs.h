#pragma once
#include <QWidget>

#include "core/dialogs.h"

namespace tavri {

// The dialog seam realised with modal Qt dialogs.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }
  // During start-up nobody may be there to answer: an alert then takes its
  // default answer at once and is logged; those that only inform are shown
  // once start-up is over and the main loop runs.
  void defer_alerts(bool defer);

  using Dialogs::alert;
  int alert(const QString& message, const QString& informative, const QStringList& buttons,
            int default_button) override;
  std::optional<QString> prompt(const QString& message, const QString& start_text, int field_width) override;
  std::optional<int> choose(const QString& message, const QString& informative, const QStringList& choices,
                            int start) override;
  std::optional<QStringList> open_panel(const PanelOptions& options) override;
  std::optional<QString> save_panel(const PanelOptions& options) override;
  std::optional<QDateTime> pick_date(const QString& message, const QDateTime& start) override;
  std::optional<QDateTime> pick_time(const QString& message, const QDateTime& start) override;

 private:
  std::optional<QDateTime> pick(const QString& message, const QDateTime& start, bool date);
  void show_deferred();
  QWidget* parent_;
  bool deferring_ = false;
  struct Deferred {
    QString message, informative;
    QStringList buttons;
  };
  QList<Deferred> deferred_;
};

}  // namespace tavri

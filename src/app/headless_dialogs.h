#pragma once
#include <functional>

#include "core/dialogs.h"

namespace tavri {

// Nobody answers on a box without a screen: every alert takes its default
// button (for a destructive choice, the safe one), every question is
// cancelled, and each is logged and handed on as an event.
class HeadlessDialogs : public Dialogs {
 public:
  using Listener = std::function<void(const QString& message, const QString& informative, const QString& answer)>;
  void set_listener(Listener listener) { listener_ = std::move(listener); }

  int alert(const QString& message, const QString& informative, const QStringList& buttons, int default_button) override;
  std::optional<QString> prompt(const QString& message, const QString& start_text, int field_width) override;
  std::optional<int> choose(const QString& message, const QString& informative, const QStringList& choices,
                            int start) override;
  std::optional<QStringList> open_panel(const PanelOptions& options) override;
  std::optional<QString> save_panel(const PanelOptions& options) override;
  std::optional<QDateTime> pick_date(const QString& message, const QDateTime& start) override;
  std::optional<QDateTime> pick_time(const QString& message, const QDateTime& start) override;

 private:
  void tell(const QString& message, const QString& informative, const QString& answer);
  Listener listener_;
};

}  // namespace tavri

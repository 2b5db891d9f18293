#include "app/headless_dialogs.h"

#include "core/console.h"

namespace tavri {

void HeadlessDialogs::tell(const QString& message, const QString& informative, const QString& answer) {
  console_log(QString("ALERT: %1%2 (answered: %3)")
                  .arg(message, informative.isEmpty() ? QString() : " - " + informative, answer));
  if (listener_) listener_(message, informative, answer);
}

int HeadlessDialogs::alert(const QString& message, const QString& informative, const QStringList& buttons,
                           int default_button) {
  const int answer = default_button >= 0 && default_button < buttons.size() ? default_button : 0;
  tell(message, informative, buttons.value(answer, "OK"));
  return answer;
}

std::optional<QString> HeadlessDialogs::prompt(const QString& message, const QString&, int) {
  tell(message, {}, "Cancel");
  return std::nullopt;
}

std::optional<int> HeadlessDialogs::choose(const QString& message, const QString& informative, const QStringList&, int) {
  tell(message, informative, "Cancel");
  return std::nullopt;
}

std::optional<QStringList> HeadlessDialogs::open_panel(const PanelOptions& options) {
  tell(options.prompt, {}, "Cancel");
  return std::nullopt;
}

std::optional<QString> HeadlessDialogs::save_panel(const PanelOptions& options) {
  tell(options.prompt, {}, "Cancel");
  return std::nullopt;
}

std::optional<QDateTime> HeadlessDialogs::pick_date(const QString& message, const QDateTime&) {
  tell(message, {}, "Cancel");
  return std::nullopt;
}

std::optional<QDateTime> HeadlessDialogs::pick_time(const QString& message, const QDateTime&) {
  tell(message, {}, "Cancel");
  return std::nullopt;
}

}  // namespace tavri

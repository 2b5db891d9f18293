#pragma once
#include <QStringList>
#include <deque>
#include <variant>

#include "core/dialogs.h"

namespace tavri::test {

// A Dialogs fake: records every dialog shown and answers from a script.
// With nothing scripted, alerts answer 0 and every other dialog cancels.
class ScriptedDialogs : public Dialogs {
 public:
  struct Shown {
    QString kind;      // "alert", "prompt", "choose", "open", "save", "date", "time"
    QString message;   // message or panel prompt
    QString detail;    // informative text, starting text or name field
    QStringList items; // buttons or extensions
    int width = 0;
    int default_button = 0;  // alerts
  };

  std::deque<int> alert_answers;
  std::deque<std::optional<QString>> prompt_answers;
  std::deque<std::optional<QStringList>> open_answers;
  std::deque<std::optional<QString>> save_answers;
  std::deque<std::optional<QDateTime>> date_answers;
  std::deque<std::optional<int>> choose_answers;
  std::vector<Shown> shown;

  using Dialogs::alert;
  int alert(const QString& message, const QString& informative, const QStringList& buttons,
            int default_button) override {
    shown.push_back({"alert", message, informative, buttons, 0, default_button});
    return take(alert_answers, 0);
  }
  std::optional<QString> prompt(const QString& message, const QString& start, int width) override {
    shown.push_back({"prompt", message, start, {}, width});
    return take(prompt_answers, std::optional<QString>());
  }
  std::optional<int> choose(const QString& message, const QString& informative, const QStringList& choices,
                            int) override {
    shown.push_back({"choose", message, informative, choices});
    return take(choose_answers, std::optional<int>());
  }
  std::optional<QStringList> open_panel(const PanelOptions& o) override {
    shown.push_back({"open", o.prompt, o.name_field, o.extensions});
    return take(open_answers, std::optional<QStringList>());
  }
  std::optional<QString> save_panel(const PanelOptions& o) override {
    shown.push_back({"save", o.prompt, o.name_field, o.extensions});
    return take(save_answers, std::optional<QString>());
  }
  std::optional<QDateTime> pick_date(const QString& m, const QDateTime&) override {
    shown.push_back({"date", m, {}, {}});
    return take(date_answers, std::optional<QDateTime>());
  }
  std::optional<QDateTime> pick_time(const QString& m, const QDateTime&) override {
    shown.push_back({"time", m, {}, {}});
    return take(date_answers, std::optional<QDateTime>());
  }

  QStringList alert_messages() const {
    QStringList out;
    for (const auto& s : shown)
      if (s.kind == "alert") out << s.message;
    return out;
  }

 private:
  template <typename T>
  static T take(std::deque<T>& q, T fallback) {
    if (q.empty()) return fallback;
    fallback = std::move(q.front());
    q.pop_front();
    return fallback;
  }
};

}  // namespace tavri::test

#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace tavri {

struct PanelOptions {
  QString prompt;               // "Select your export folder:"
  QString name_field;           // starting file name
  QStringList extensions;       // allowed extensions, empty = any
  bool choose_files = true;
  bool choose_directories = false;
  bool multiple = false;
  QString directory;            // where the panel starts; empty: the home folder

  // Files only, one or several.
  static PanelOptions files(const QString& prompt, bool multiple) {
    PanelOptions o;
    o.prompt = prompt;
    o.multiple = multiple;
    return o;
  }
  // One folder, no files.
  static PanelOptions folder(const QString& prompt) {
    PanelOptions o;
    o.prompt = prompt;
    o.choose_files = false;
    o.choose_directories = true;
    return o;
  }
};

// Everything a controller shows or asks. The front end implements it with
// modal Qt dialogs; tests use a scripted fake.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Modal alert; returns the index of the pressed button. The default
  // button (Return) is the first unless given: for a destructive choice it
  // is the safe one.
  int alert(const QString& message, const QString& informative, const QStringList& buttons) {
    return alert(message, informative, buttons, 0);
  }
  virtual int alert(const QString& message, const QString& informative, const QStringList& buttons,
                    int default_button) = 0;
  // One-line text prompt with "OK" and "Cancel"; nothing on "Cancel".
  virtual std::optional<QString> prompt(const QString& message, const QString& start_text,
                                        int field_width) = 0;
  // One of `choices` (its index), with "OK" and "Cancel"; nothing on "Cancel".
  virtual std::optional<int> choose(const QString& message, const QString& informative, const QStringList& choices,
                                    int start) = 0;
  virtual std::optional<QStringList> open_panel(const PanelOptions& options) = 0;
  virtual std::optional<QString> save_panel(const PanelOptions& options) = 0;
  // Date or time picker in an alert with "OK" and "Cancel".
  virtual std::optional<QDateTime> pick_date(const QString& message, const QDateTime& start) = 0;
  virtual std::optional<QDateTime> pick_time(const QString& message, const QDateTime& start) = 0;
};

}  // namespace tavri

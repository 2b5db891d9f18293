#include "qt_dialogs.h"

#include "ui/desk_audit.h"

#include <QDir>

#include <QCalendarWidget>
#include <QDateTimeEdit>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "core/console.h"

namespace tavri {

void QtDialogs::defer_alerts(bool defer) {
  deferring_ = defer;
  if (!defer && !deferred_.isEmpty()) QTimer::singleShot(0, [this] { show_deferred(); });
}

void QtDialogs::show_deferred() {
  // A quit while one is open ends the rest too (a new modal loop returns at once).
  for (const Deferred& d : std::exchange(deferred_, {})) alert(d.message, d.informative, d.buttons, 0);
}

int QtDialogs::alert(const QString& message, const QString& informative, const QStringList& buttons,
                     int default_button) {
  const QStringList titles = buttons.isEmpty() ? QStringList{"OK"} : buttons;
  if (deferring_) {
    const int answer = std::clamp(default_button, 0, static_cast<int>(titles.size()) - 1);
    console_log(QString("ALERT: %1 %2 [%3]").arg(message, informative, titles.value(answer)));
    if (titles.size() == 1) deferred_.append({message, informative, titles});
    return answer;
  }
  QMessageBox box(parent_);
  box.setText(message);
  box.setInformativeText(informative);
  QList<QAbstractButton*> added;
  for (int i = 0; i < titles.size(); ++i)
    added.append(box.addButton(titles[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  box.setDefaultButton(qobject_cast<QPushButton*>(added.value(default_button, added.first())));
  box.exec();
  // Closed without a click (Escape, or the application quitting): the
  // default, which is the safe answer to a destructive question.
  int index = static_cast<int>(added.indexOf(box.clickedButton()));
  if (index < 0) index = static_cast<int>(added.indexOf(box.defaultButton()));
  desk_audit::note_dialog(message, titles.size() > 1 ? titles.value(index) : QString());
  return index;
}

namespace {
// A modal dialog with a message, one accessory widget, "OK" and "Cancel".
bool run_accessory_dialog(QWidget* parent, const QString& message, QWidget* accessory) {
  QDialog dialog(parent);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(message));
  accessory->setParent(&dialog);
  layout->addWidget(accessory);
  auto* buttons = new QDialogButtonBox(&dialog);
  // Enter in the field takes the answer; Escape cancels.
  buttons->addButton("OK", QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  const bool ok = dialog.exec() == QDialog::Accepted;
  accessory->setParent(nullptr);
  return ok;
}
}  // namespace

std::optional<QString> QtDialogs::prompt(const QString& message, const QString& start_text, int field_width) {
  QLineEdit field(start_text);
  field.setFixedSize(field_width, 24);
  field.selectAll();  // typing replaces the suggestion, not adds to it
  if (!run_accessory_dialog(parent_, message, &field)) {
    desk_audit::note_dialog(message, "Cancel");
    return std::nullopt;
  }
  return field.text();
}

std::optional<int> QtDialogs::choose(const QString& message, const QString& informative, const QStringList& choices,
                                     int start) {
  QComboBox field;
  field.addItems(choices);
  field.setCurrentIndex(std::clamp(start, 0, int(choices.size()) - 1));
  field.setToolTip(informative);
  if (choices.isEmpty() || !run_accessory_dialog(parent_, informative.isEmpty() ? message : message + "\n" + informative, &field))
    return std::nullopt;
  return field.currentIndex();
}

namespace {
// Never the working directory, which means nothing to an operator.
QString start_directory(const PanelOptions& options) {
  return options.directory.isEmpty() || !QDir(options.directory).exists() ? QDir::homePath() : options.directory;
}
}  // namespace

std::optional<QStringList> QtDialogs::open_panel(const PanelOptions& options) {
  QFileDialog dialog(parent_, options.prompt);
  dialog.setDirectory(start_directory(options));
  dialog.setLabelText(QFileDialog::Accept, options.prompt);
  if (options.choose_directories && !options.choose_files) {
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
  } else {
    dialog.setFileMode(options.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  }
  if (!options.extensions.isEmpty()) {
    QStringList patterns;
    for (const auto& e : options.extensions) patterns << "*." + e;
    dialog.setNameFilter(patterns.join(' '));
  }
  if (!options.name_field.isEmpty()) dialog.selectFile(options.name_field);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedFiles();
}

std::optional<QString> QtDialogs::save_panel(const PanelOptions& options) {
  QFileDialog dialog(parent_, options.prompt);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDirectory(start_directory(options));
  dialog.setLabelText(QFileDialog::Accept, "Save");
  // The file's extension in sight: the name field shows it, and the filter names it.
  QString name = options.name_field;
  if (!options.extensions.isEmpty()) {
    const QString extension = options.extensions.first();
    if (!name.endsWith("." + extension)) name += "." + extension;
    dialog.setNameFilter(QString("%1 files (*.%1)").arg(extension));
    dialog.setDefaultSuffix(extension);
  }
  dialog.selectFile(name);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

std::optional<QDateTime> QtDialogs::pick(const QString& message, const QDateTime& start, bool date) {
  if (date) {
    // A calendar to click in, like the clock-and-calendar picker.
    QCalendarWidget calendar;
    calendar.setSelectedDate(start.date());
    calendar.setGridVisible(true);
    if (!run_accessory_dialog(parent_, message, &calendar)) return std::nullopt;
    return QDateTime(calendar.selectedDate(), start.time());
  }
  QTimeEdit edit(start.time());
  edit.setDisplayFormat("HH:mm");  // hours and minutes with a stepper
  if (!run_accessory_dialog(parent_, message, &edit)) return std::nullopt;
  return QDateTime(start.date(), edit.time());
}

std::optional<QDateTime> QtDialogs::pick_date(const QString& message, const QDateTime& start) {
  return pick(message, start, true);
}

std::optional<QDateTime> QtDialogs::pick_time(const QString& message, const QDateTime& start) {
  return pick(message, start, false);
}

}  // namespace tavri

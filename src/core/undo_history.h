#pragma once
#include <QObject>
#include <QString>
#include <deque>
#include <functional>

namespace tavri {

// The session's deletions, newest on top: Ctrl+Z puts the last one back.
// One history for every pane; nothing of it is saved. A deletion is done
// when it is remembered, so there is no redo: what was put back leaves the
// history.
class UndoHistory : public QObject {
  Q_OBJECT
 public:
  static constexpr std::size_t kLimit = 200;
  void remember(const QString& text, std::function<void()> put_back);
  // Puts back the newest deletion; nothing when there is none.
  void undo();
  void clear();
  int count() const { return static_cast<int>(entries_.size()); }
  bool canUndo() const { return !entries_.empty(); }
  // What Undo would put back ("remove playlist"), or empty.
  QString undo_text() const { return entries_.empty() ? QString() : entries_.back().text; }

 signals:
  void changed();

 private:
  struct Entry {
    QString text;
    std::function<void()> put_back;
  };
  std::deque<Entry> entries_;
};

UndoHistory& undo_history();
void remember_deletion(const QString& text, std::function<void()> put_back);

}  // namespace tavri

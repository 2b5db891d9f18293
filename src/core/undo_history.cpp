#include "undo_history.h"

namespace tavri {

void UndoHistory::remember(const QString& text, std::function<void()> put_back) {
  entries_.push_back({text, std::move(put_back)});
  if (entries_.size() > kLimit) entries_.pop_front();
  emit changed();
}

void UndoHistory::undo() {
  if (entries_.empty()) return;
  // Taken off first: putting back may remember something new.
  Entry entry = std::move(entries_.back());
  entries_.pop_back();
  if (entry.put_back) entry.put_back();
  emit changed();
}

void UndoHistory::clear() {
  entries_.clear();
  emit changed();
}

UndoHistory& undo_history() {
  static UndoHistory* history = new UndoHistory;
  return *history;
}

void remember_deletion(const QString& text, std::function<void()> put_back) {
  undo_history().remember(text, std::move(put_back));
}

}  // namespace tavri

#include "undo_history.h"

namespace tavri {
namespace {

class Deletion : public QUndoCommand {
 public:
  Deletion(const QString& text, std::function<void()> put_back) : QUndoCommand(text), put_back_(std::move(put_back)) {}
  void redo() override {}  // done already, by the controller that pushed it
  void undo() override {
    if (put_back_) put_back_();
    setObsolete(true);  // gone from the history once put back
  }

 private:
  std::function<void()> put_back_;
};

}  // namespace

QUndoStack& undo_history() {
  static QUndoStack* stack = [] {
    auto* s = new QUndoStack;
    s->setUndoLimit(200);
    return s;
  }();
  return *stack;
}

void remember_deletion(const QString& text, std::function<void()> put_back) {
  undo_history().push(new Deletion(text, std::move(put_back)));
}

}  // namespace tavri

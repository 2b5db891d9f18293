#include "schedule_view.h"

#include "core/notifications.h"

namespace tavri {

Schedule_View::Schedule_View(Bus& bus, Dialogs& dialogs, QObject* parent)
    : QObject(parent), bus_(bus), dialogs_(dialogs) {
  bus_.register_observer(this, note::FOLDER_URL, [this](const QVariant& v) { get_folder_url(v); });
  bus_.register_observer(this, note::SCHEDULE_LIST_DID_CHANGE,
                         [this](const QVariant&) { tableViewSelectionDidChange(); });
  bus_.register_observer(this, note::SAVE_ALL_LISTS, [this](const QVariant&) { save_all(); });
}

void Schedule_View::get_folder_url(const QVariant& url) { folder_url_ = url.toUrl(); }
void Schedule_View::tableViewSelectionDidChange() {}
void Schedule_View::save_all() {}

}  // namespace tavri

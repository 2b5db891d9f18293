#include <gtest/gtest.h>

#include <QSignalSpy>

#include "core/record_list.h"

using tavri::Record;
using tavri::RecordList;

namespace {
Record player(const QString& id, const QString& name) { return {{"device_id", id}, {"device_name", name}}; }
QStringList ids(const tavri::RecordArray& records) {
  QStringList out;
  for (const auto& r : records) out << r["device_id"].toString();
  return out;
}
}  // namespace

TEST(RecordList, DisplayOrderIsSortedCaseInsensitivelyAndStableWhileListOrderStays) {
  RecordList list;
  list.set_sort_key("device_name");
  list.append(player("1", "beta"));
  list.append(player("2", "Alpha"));
  list.append(player("3", "alpha"));
  list.append(player("4", "Gamma"));
  EXPECT_EQ(ids(list.records()), (QStringList{"1", "2", "3", "4"}));
  QStringList shown;
  for (int r = 0; r < list.size(); ++r) shown << list.row(r)["device_id"].toString();
  EXPECT_EQ(shown, (QStringList{"2", "3", "1", "4"}));

  list.set_value(3, "device_name", "aardvark");  // a rename re-sorts
  EXPECT_EQ(list.row(0)["device_id"].toString(), "4");

  // Keys folded once sort as a case-blind comparison of each pair would,
  // beyond ASCII too.
  const QStringList letters = {"a", "A", "ß", "SS", "ẞ", "İ", "ı", "I", "Σ", "σ", "ς", "Ǆ", "ǅ", "ǆ", "𐐀", "𐐨", "é", "É"};
  RecordList many;
  many.set_sort_key("device_name");
  for (int i = 0; i < 400; ++i)
    many.append(player(QString::number(i), letters[(i * 7) % letters.size()] + letters[(i * 13) % letters.size()]));
  for (int r = 1; r < many.size(); ++r)
    EXPECT_LE(many.row(r - 1)["device_name"].toString().compare(many.row(r)["device_name"].toString(), Qt::CaseInsensitive), 0)
        << r;
}

TEST(RecordList, SortingByValuePutsNumbersInNumericOrder) {
  RecordList list;
  for (const char* size : {"9.30 MB", "3221.23 MB", "0.98 MB", "", "STREAM", "10 MB"})
    list.append({{"file_size", size}});
  auto shown = [&] {
    QStringList out;
    for (int r = 0; r < list.size(); ++r) out << list.row(r)["file_size"].toString();
    return out;
  };
  list.set_sort_key("file_size", true, true, true);
  EXPECT_EQ(shown(), (QStringList{"0.98 MB", "9.30 MB", "10 MB", "3221.23 MB", "", "STREAM"}));
  list.set_sort_key("file_size", true, false, true);
  EXPECT_EQ(shown().first(), "STREAM");
  list.set_sort_key("file_size");  // as text, as before
  EXPECT_EQ(shown(), (QStringList{"", "0.98 MB", "10 MB", "3221.23 MB", "9.30 MB", "STREAM"}));
}

TEST(RecordList, SelectionFollowsRecordsAndReportsInDisplayOrder) {
  RecordList list;
  list.set_sort_key("device_name");
  for (auto [id, name] : {std::pair{"a", "zed"}, {"b", "mid"}, {"c", "ant"}}) list.append(player(id, name));
  QSignalSpy spy(&list, &RecordList::selection_changed);
  list.select_list_indices({0, 2});
  EXPECT_EQ(ids(list.selected_records()), (QStringList{"c", "a"}));
  EXPECT_EQ(list.selected_rows(), (QList<int>{0, 2}));
  list.remove_at(1);  // unselected record removed: selection unchanged
  EXPECT_EQ(ids(list.selected_records()), (QStringList{"c", "a"}));
  list.remove_at(0);  // selected record removed
  EXPECT_EQ(ids(list.selected_records()), (QStringList{"c"}));
  EXPECT_EQ(spy.count(), 2);
  // Many at once: the rest keep their order, sort keys and selection.
  for (auto [id, name] : {std::pair{"d", "bee"}, {"e", "ape"}, {"f", "cat"}}) list.append(player(id, name));
  list.select_list_indices({0, 3});
  spy.clear();
  list.remove_list_indices({1, 2, 1, 99});
  EXPECT_EQ(ids(list.records()), (QStringList{"c", "f"}));
  EXPECT_EQ(ids(list.selected_records()), (QStringList{"c", "f"}));
  EXPECT_EQ(spy.count(), 0);
  list.set_value(1, "device_name", "aaa");
  EXPECT_EQ(list.row(0)["device_id"].toString(), "f");
  list.clear();
  EXPECT_FALSE(list.has_selection());
  list.select_first_row();
  EXPECT_FALSE(list.has_selection());
}

#pragma once
#include <QByteArray>
#include <vector>

#include "history_store.h"

namespace tavri::history {

struct Play {
  QString device_id, device_name, playlist_id, playlist_name, track;
  qint64 start_ms = 0, end_ms = 0;
};

// Every single play within [from, to] that the runs stand for.
std::vector<Play> expand_plays(const std::vector<Run>& runs, qint64 from_ms, qint64 to_ms);

// A header line and rows, each text quoted where it must be and never read
// by a spreadsheet as a formula.
QByteArray csv_lines(const QStringList& header, const std::vector<QStringList>& rows);
// CSV with a header line; times local, with their offset (ISO 8601).
QByteArray plays_csv(const std::vector<Play>& plays);
// Per player and track: how many plays and how long in all.
QByteArray totals_csv(const std::vector<Play>& plays);

}  // namespace tavri::history

// Keyed-archive decoding: player registries of 1k, 8k and 64k records.
// Prints the time per record of our reader, next to libplist's own parse
// of the same bytes (reference: "binary parse"), which is linear; the ratio
// stays flat when the reader is linear too.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <plist/plist.h>

#include "core/keyed_archive.h"
#include "core/record.h"

using namespace tavri;

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("%-10s %16s %16s %8s %16s\n", "records", "decode/record", "parse/record", "ratio", "encode/record");
  for (int n : {1000, 4000, 8000, 16000}) {
    QVariantList records;
    for (int i = 0; i < n; ++i)
      records.append(QVariantMap{{"device_id", QString("PLAYER_%1").arg(i)},
                                 {"device_name", QString("Screen %1").arg(i)},
                                 {"device_ip", QString("10.0.%1.%2").arg(i / 250).arg(i % 250)},
                                 {"status_device", 2},
                                 {"status_player", 1},
                                 {"id_playlist", QString::number(i % 100)},
                                 {"id_track", QString::number(i % 7)},
                                 {"status_time", QDateTime::currentDateTimeUtc()}});
    QElapsedTimer t;
    t.start();
    const QByteArray bytes = encode_archive({{"SPEICHER", records}});
    const double encode_us = t.nsecsElapsed() / 1e3 / n;
    t.start();
    const auto decoded = decode_archive(bytes);
    const double decode_us = t.nsecsElapsed() / 1e3 / n;
    t.start();
    plist_t root = nullptr;
    plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    const double parse_us = t.nsecsElapsed() / 1e3 / n;
    plist_free(root);
    if (!decoded || decoded->value("SPEICHER").toList().size() != n) return 1;
    std::printf("%-10d %13.2f us %13.2f us %8.1f %13.2f us\n", n, decode_us, parse_us, decode_us / parse_us, encode_us);
  }
  return 0;
}

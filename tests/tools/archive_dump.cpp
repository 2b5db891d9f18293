// Decodes keyed archives with our reader and prints each object graph in
// the canonical form that gnustep_unarchive prints:
//   archive_dump FILE...
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QUrl>
#include <QVariant>
#include <cmath>
#include <cstdio>

#include "core/keyed_archive.h"

namespace {

QString quoted(const QString& s) {
  QString out = "\"";
  for (const QChar c : s) {
    const ushort u = c.unicode();
    if (u == '"' || u == '\\') out += QString("\\") + c;
    else if (u < 0x20 || u > 0x7e) out += QString::asprintf("\\u%04x", u);
    else out += c;
  }
  return out + "\"";
}

QString canonical(const QVariant& v) {
  switch (v.metaType().id()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr: return "null";
    case QMetaType::QString: return quoted(v.toString());
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: {
      const double d = v.toDouble();
      if (d == std::floor(d) && std::fabs(d) < 9e18) return QString::number(static_cast<long long>(d));
      return QString::asprintf("%.17g", d);
    }
    case QMetaType::QVariantMap: {
      const QVariantMap m = v.toMap();
      QStringList parts;
      for (auto it = m.begin(); it != m.end(); ++it) parts << quoted(it.key()) + ": " + canonical(it.value());
      return "{" + parts.join(", ") + "}";
    }
    case QMetaType::QVariantList: {
      QStringList parts;
      for (const QVariant& e : v.toList()) parts << canonical(e);
      return "[" + parts.join(", ") + "]";
    }
    case QMetaType::QUrl: return "url:" + quoted(v.toUrl().toString(QUrl::FullyEncoded));
    case QMetaType::QDateTime: {
      const double since_2001 = v.toDateTime().toMSecsSinceEpoch() / 1000.0 - 978307200.0;
      return QString::asprintf("date:%.3f", since_2001);
    }
    case QMetaType::QByteArray: return QString("data:%1").arg(v.toByteArray().size());
    default: return QString("<%1>").arg(v.metaType().name());
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    QFile f(QString::fromLocal8Bit(argv[i]));
    QString error;
    const auto root = f.open(QIODevice::ReadOnly) ? tavri::decode_root_archive(f.readAll(), &error) : std::nullopt;
    if (!root) {
      std::fprintf(stderr, "%s: not decoded: %s\n", argv[i], qPrintable(error));
      failed = 1;
      continue;
    }
    std::printf("%s\n", canonical(*root).toUtf8().constData());
  }
  return failed;
}

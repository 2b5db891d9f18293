#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>

#include "support/pictures.h"
#include <QJsonDocument>
#include <QProcess>
#include "support/plist_reader.h"
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>

#include "core/keyed_archive.h"
#include "core/record.h"
#include "support/fixture_match.h"

using namespace tavri;

namespace {

QString fixtures_dir() { return QStringLiteral(TAVRI_FIXTURES_DIR); }

QByteArray read_all(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

QStringList fixture_names() {
  return QDir(fixtures_dir()).entryList({"*.plist"}, QDir::Files, QDir::Name);
}

QVariantMap every_kind() {
  const PngImage image = test::filled_png(4, 3, QColor(10, 20, 30));
  MapIcon icon{QRectF(12, 40.5, 70, 50), "A1", image};
  return {
      {"text", QString("Menü Küche — 東京")},
      {"int", 7},
      {"negative", -1},
      {"big", qint64(5'000'000'000)},
      {"real", 3725.9},
      {"yes", true},
      {"no", false},
      {"date", QDateTime::fromMSecsSinceEpoch(978307200000LL + 818000000250LL, QTimeZone::utc())},
      {"url", QUrl("file:///srv/signage/Lobby%20Loop.mov")},
      {"bytes", QByteArray("\x00\x01\xff", 3)},
      {"list", QVariantList{1, QString("two"), QVariantList{}}},
      {"record", QVariantMap{{"k", QString("v")}, {"empty", QVariantMap{}}}},
      {"image", QVariant::fromValue(image)},
      {"icon", QVariant::fromValue(icon)},
      {"frame", QRectF(10, 20, 640.5, 480)},
      {"origin", QPointF(0, 12.5)},
      {"scale", QVariant::fromValue(1.3f)},
  };
}

}  // namespace

TEST(KeyedArchive, EveryFixtureDecodesToItsJsonOrIsRefused) {
  const QStringList names = fixture_names();
  ASSERT_FALSE(names.isEmpty()) << "no fixtures at " << fixtures_dir().toStdString();
  int good = 0, bad = 0;
  for (const QString& name : names) {
    SCOPED_TRACE(name.toStdString());
    const QByteArray bytes = read_all(fixtures_dir() + "/" + name);
    const QString base = name.chopped(6);
    const QJsonValue expected = QJsonDocument::fromJson(read_all(fixtures_dir() + "/" + base + ".json")).object();
    QString error;
    const auto decoded = decode_archive(bytes, &error);
    if (expected.toObject().contains("$error")) {
      EXPECT_FALSE(decoded.has_value());
      EXPECT_FALSE(error.isEmpty());
      ++bad;
      continue;
    }
    ASSERT_TRUE(decoded.has_value()) << error.toStdString();
    QString why;
    EXPECT_TRUE(test::matches_json(*decoded, expected, &why)) << why.toStdString();
    ++good;
  }
  EXPECT_GE(good, 9);
  EXPECT_GE(bad, 11);
}

TEST(KeyedArchive, RoundTripKeepsEveryValueAndNumberKind) {
  const QVariantMap in = every_kind();
  const auto out = decode_archive(encode_archive(in));
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->keys(), in.keys());
  EXPECT_EQ(out->value("text").toString(), in["text"].toString());
  EXPECT_EQ(out->value("int").metaType().id(), QMetaType::LongLong);
  EXPECT_EQ(out->value("int").toLongLong(), 7);
  EXPECT_EQ(out->value("negative").toLongLong(), -1);
  EXPECT_EQ(out->value("big").toLongLong(), 5'000'000'000);
  EXPECT_EQ(out->value("real").metaType().id(), QMetaType::Double);
  EXPECT_EQ(out->value("real").toDouble(), 3725.9);
  EXPECT_EQ(out->value("yes").metaType().id(), QMetaType::Bool);
  EXPECT_TRUE(out->value("yes").toBool());
  EXPECT_FALSE(out->value("no").toBool());
  EXPECT_EQ(out->value("date").toDateTime(), in["date"].toDateTime());
  EXPECT_EQ(out->value("url").toUrl(), in["url"].toUrl());
  EXPECT_EQ(out->value("bytes").toByteArray(), in["bytes"].toByteArray());
  EXPECT_EQ(out->value("list").toList().size(), 3);
  EXPECT_EQ(out->value("list").toList()[1].toString(), "two");
  EXPECT_EQ(out->value("record").toMap().value("k").toString(), "v");
  EXPECT_EQ(test::decoded(out->value("image")).pixelColor(1, 1), QColor(10, 20, 30));
  const auto icon = out->value("icon").value<MapIcon>();
  EXPECT_EQ(icon.frame, QRectF(12, 40.5, 70, 50));
  EXPECT_EQ(icon.name, "A1");
  EXPECT_EQ(icon.image, in["icon"].value<MapIcon>().image);
  EXPECT_EQ(out->value("frame").toRectF(), QRectF(10, 20, 640.5, 480));
  EXPECT_EQ(out->value("origin").toPointF(), QPointF(0, 12.5));
  EXPECT_FLOAT_EQ(out->value("scale").toFloat(), 1.3f);
}

TEST(KeyedArchive, InlineGeometryTextsUseShortestDecimals) {
  EXPECT_EQ(rect_to_string(QRectF(0, 0, 640.5, 480)), "{{0, 0}, {640.5, 480}}");
  EXPECT_EQ(point_to_string(QPointF(-3, 12.25)), "{-3, 12.25}");
  EXPECT_EQ(rect_from_string("{{-100, 35}, {300, 200}}"), QRectF(-100, 35, 300, 200));
  EXPECT_EQ(point_from_string(" {1e2, .5} "), QPointF(100, 0.5));
  EXPECT_FALSE(rect_from_string("{{1, 2}, {3}}").has_value());
  EXPECT_FALSE(point_from_string("Lobby").has_value());
}

TEST(KeyedArchive, IndependentReaderSeesTheDocumentedLayout) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/a.plist";
  QVariantMap in = every_kind();
  in.insert("root", QVariantMap{{"movielist", encode_root_archive(QVariantList{QVariantMap{{"id", 1}}})}});
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(encode_archive(in));
  f.close();
  QString error;
  const auto read = test::read_with_plistlib(path, &error);
  if (!read) GTEST_SKIP() << "python3 not installed";
  ASSERT_FALSE(read->contains("$error")) << error.toStdString();
  const QJsonObject got = *read;
  EXPECT_EQ(got["text"].toString(), in["text"].toString());
  EXPECT_EQ(got["int"].toInteger(), 7);
  EXPECT_EQ(got["negative"].toInteger(), -1);
  EXPECT_EQ(got["big"].toInteger(), 5'000'000'000);
  EXPECT_EQ(got["real"].toObject()["$real"].toDouble(), 3725.9);
  EXPECT_TRUE(got["yes"].isBool());
  EXPECT_EQ(got["date"].toObject()["$date"].toDouble(), 818000000.25);
  EXPECT_EQ(got["url"].toObject()["$url"].toString(), "file:///srv/signage/Lobby%20Loop.mov");
  EXPECT_EQ(got["bytes"].toObject()["$data"].toString(), "AAH/");
  EXPECT_EQ(got["record"].toObject()["k"].toString(), "v");
  EXPECT_GT(got["image"].toObject()["$png"].toInt(), 0);
  EXPECT_EQ(got["icon"].toObject()["$icon"].toObject()["frame"].toString(), "{{12, 40.5}, {70, 50}}");
  EXPECT_EQ(got["frame"].toObject()["$inline"].toString(), "{{10, 20}, {640.5, 480}}");
  EXPECT_EQ(got["origin"].toObject()["$inline"].toString(), "{0, 12.5}");
  EXPECT_FLOAT_EQ(static_cast<float>(got["scale"].toObject()["$real"].toDouble()), 1.3f);
  const QJsonArray movielist = got["root"].toObject()["movielist"].toObject()["$archive"].toArray();
  ASSERT_EQ(movielist.size(), 1);
  EXPECT_EQ(movielist[0].toObject()["id"].toInteger(), 1);
}

TEST(KeyedArchive, DamagedBytesAreRefusedWithoutCrashing) {
  const QStringList names = fixture_names();
  ASSERT_FALSE(names.isEmpty()) << "no fixtures at " << fixtures_dir().toStdString();
  QRandomGenerator rng(1234);
  int refused = 0;
  for (const QString& name : names) {
    const QByteArray original = read_all(fixtures_dir() + "/" + name);
    if (original.isEmpty()) continue;
    for (int i = 0; i < 300; ++i) {
      QByteArray b = original;
      const int flips = 1 + rng.bounded(4);
      for (int k = 0; k < flips; ++k) b[rng.bounded(b.size())] = char(rng.bounded(256));
      if (rng.bounded(4) == 0) b.truncate(rng.bounded(b.size()));
      if (!decode_archive(b)) ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(KeyedArchive, FuzzFindingsStayFixed) {
  // A dictionary key with an embedded NUL once aborted the process.
  const QByteArray bytes = read_all(QStringLiteral(TAVRI_TESTS_DIR) + "/data/nul_key.plist");
  ASSERT_FALSE(bytes.isEmpty());
  EXPECT_FALSE(decode_archive(bytes).has_value());
}

TEST(KeyedArchive, PicturesKeepTheirBytesAndWhatIsNoPictureIsDropped) {
  const PngImage red = test::filled_png(4, 4, Qt::red);
  const QByteArray archive = encode_root_archive(QVariant::fromValue(red));
  const auto back = decode_root_archive(archive);
  ASSERT_TRUE(back);
  ASSERT_TRUE(picture_in(*back));
  EXPECT_EQ(picture_in(*back)->png, red.png) << "passed on as they are, never encoded again";
  EXPECT_EQ(encode_root_archive(*back), archive);
  EXPECT_TRUE(picture_in(*decode_root_archive(archive, nullptr, false))->isNull());
  // Bytes that are no PNG come back as no picture, not as data to serve.
  const auto junk = decode_root_archive(encode_root_archive(QVariant::fromValue(PngImage{"GIF89a not a png"})));
  ASSERT_TRUE(junk && picture_in(*junk));
  EXPECT_TRUE(picture_in(*junk)->isNull());
}

#include "keyed_archive.h"

#include <plist/plist.h>

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QPointF>
#include <QRectF>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "binary_plist.h"
#include "record.h"

namespace tavri {
namespace {

constexpr int kMaxDepth = 64;
// 2001-01-01 00:00:00 UTC in Unix seconds.
constexpr qint64 kReferenceEpoch = 978307200;

struct PlistDeleter {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

QString number_text(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

struct ClassInfo {
  const char* name;
  std::vector<const char*> chain;
};

const ClassInfo kDictionary{"NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}};
const ClassInfo kArray{"NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}};
const ClassInfo kDate{"NSDate", {"NSDate", "NSObject"}};
const ClassInfo kUrl{"NSURL", {"NSURL", "NSObject"}};
const ClassInfo kImage{"PNGImage", {"PNGImage", "NSObject"}};
const ClassInfo kMapIcon{"MapIcon", {"MapIcon", "NSObject"}};

using bplist::Node;

class Writer {
 public:
  Writer() { objects_.push_back(Node::string("$null")); }

  // A value in $top or in an object's own dictionary: geometry and floats
  // inline, everything else by reference.
  Node field(const QVariant& v) {
    switch (v.metaType().id()) {
      case QMetaType::QRectF:
      case QMetaType::QRect:
        return Node::string(rect_to_string(v.toRectF()).toUtf8());
      case QMetaType::QPointF:
      case QMetaType::QPoint:
        return Node::string(point_to_string(v.toPointF()).toUtf8());
      case QMetaType::Float:
        return Node::real_number(v.toFloat());
      default:
        return Node::uid(encode(v));
    }
  }

  uint64_t encode(const QVariant& v) {
    const int type = v.metaType().id();
    switch (type) {
      case QMetaType::UnknownType:
      case QMetaType::Nullptr:
        return 0;
      case QMetaType::QString:
        return string(v.toString());
      case QMetaType::Bool:
        return add(Node::boolean(v.toBool()));
      case QMetaType::Int:
      case QMetaType::Short:
      case QMetaType::Long:
      case QMetaType::LongLong:
      case QMetaType::Char:
      case QMetaType::SChar:
        return add(Node::uint(static_cast<uint64_t>(v.toLongLong())));
      case QMetaType::UInt:
      case QMetaType::UShort:
      case QMetaType::ULong:
      case QMetaType::ULongLong:
      case QMetaType::UChar:
        return add(Node::uint(v.toULongLong()));
      case QMetaType::Double:
      case QMetaType::Float:
        return add(Node::real_number(v.toDouble()));
      case QMetaType::QByteArray: {
        return add(Node::data(v.toByteArray()));
      }
      case QMetaType::QDateTime: {
        const uint64_t index = reserve();
        const double t = v.toDateTime().toMSecsSinceEpoch() / 1000.0 - kReferenceEpoch;
        Node d = Node::dict();
        d.set("NS.time", Node::real_number(t)).set("$class", Node::uid(klass(kDate)));
        return put(index, std::move(d));
      }
      case QMetaType::QUrl: {
        const uint64_t index = reserve();
        const uint64_t rel = string(v.toUrl().toString(QUrl::FullyEncoded));
        Node d = Node::dict();
        d.set("NS.base", Node::uid(0)).set("NS.relative", Node::uid(rel)).set("$class", Node::uid(klass(kUrl)));
        return put(index, std::move(d));
      }
      case QMetaType::QVariantList:
      case QMetaType::QStringList:
        return list(v.toList());
      case QMetaType::QVariantMap:
        return dictionary(v.toMap());
      case QMetaType::QRectF:
      case QMetaType::QRect:
        return string(rect_to_string(v.toRectF()));
      case QMetaType::QPointF:
      case QMetaType::QPoint:
        return string(point_to_string(v.toPointF()));
      default:
        break;
    }
    if (const PngImage* image = picture_in(v)) {
      const uint64_t index = reserve();
      const uint64_t data = add(Node::data(image->png));
      Node d = Node::dict();
      d.set("png", Node::uid(data)).set("$class", Node::uid(klass(kImage)));
      return put(index, std::move(d));
    }
    if (v.canConvert<MapIcon>() && type == qMetaTypeId<MapIcon>()) {
      const MapIcon icon = v.value<MapIcon>();
      const uint64_t index = reserve();
      Node d = Node::dict();
      d.set("frame", Node::string(rect_to_string(icon.frame).toUtf8()));
      d.set("name", Node::uid(string(icon.name)));
      d.set("image", Node::uid(icon.image.isNull() ? 0 : encode(QVariant::fromValue(icon.image))));
      d.set("$class", Node::uid(klass(kMapIcon)));
      return put(index, std::move(d));
    }
    if (v.canConvert<QVariantList>()) return list(v.toList());
    if (v.canConvert<QVariantMap>()) return dictionary(v.toMap());
    return string(v.toString());
  }

  QByteArray finish(Node top) {
    Node root = Node::dict();
    root.set("$version", Node::uint(100000)).set("$archiver", Node::string("NSKeyedArchiver"));
    root.set("$top", std::move(top));
    Node objects = Node::array();
    objects.items = std::move(objects_);
    root.set("$objects", std::move(objects));
    return bplist::write(root);
  }

 private:
  uint64_t add(Node node) {
    objects_.push_back(std::move(node));
    return objects_.size() - 1;
  }
  uint64_t reserve() { return add(Node::string("$null")); }
  uint64_t put(uint64_t index, Node node) {
    objects_[index] = std::move(node);
    return index;
  }
  uint64_t string(const QString& s) {
    auto it = strings_.find(s);
    if (it != strings_.end()) return it.value();
    const uint64_t index = add(Node::string(s.toUtf8()));
    strings_.insert(s, index);
    return index;
  }
  uint64_t klass(const ClassInfo& info) {
    const QString key = QString::fromLatin1(info.name);
    auto it = classes_.find(key);
    if (it != classes_.end()) return it.value();
    Node chain = Node::array();
    for (const char* c : info.chain) chain.items.push_back(Node::string(c));
    Node d = Node::dict();
    d.set("$classname", Node::string(info.name)).set("$classes", std::move(chain));
    const uint64_t index = add(std::move(d));
    classes_.insert(key, index);
    return index;
  }
  uint64_t list(const QVariantList& items) {
    const uint64_t index = reserve();
    Node refs = Node::array();
    refs.items.reserve(static_cast<std::size_t>(items.size()));
    for (const auto& item : items) refs.items.push_back(Node::uid(encode(item)));
    Node d = Node::dict();
    d.set("NS.objects", std::move(refs)).set("$class", Node::uid(klass(kArray)));
    return put(index, std::move(d));
  }
  uint64_t dictionary(const QVariantMap& map) {
    const uint64_t index = reserve();
    Node keys = Node::array();
    Node values = Node::array();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) keys.items.push_back(Node::uid(string(it.key())));
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) values.items.push_back(Node::uid(encode(it.value())));
    Node d = Node::dict();
    d.set("NS.keys", std::move(keys)).set("NS.objects", std::move(values)).set("$class", Node::uid(klass(kDictionary)));
    return put(index, std::move(d));
  }

  std::vector<Node> objects_;
  QHash<QString, uint64_t> strings_;
  QHash<QString, uint64_t> classes_;
};

// ---------------------------------------------------------------- reading

struct DecodeError {
  QString reason;
};

// An array's items in one pass: indexing each one walks the list from its
// start, which made decoding quadratic.
std::vector<plist_t> items_of(plist_t array) {
  std::vector<plist_t> items;
  items.reserve(plist_array_get_size(array));
  plist_array_iter iter = nullptr;
  plist_array_new_iter(array, &iter);
  for (plist_t item = nullptr;;) {
    plist_array_next_item(array, iter, &item);
    if (!item) break;
    items.push_back(item);
  }
  std::free(iter);
  return items;
}

class Reader {
 public:
  Reader(plist_t objects, bool decode_images)
      : objects_(items_of(objects)),
        count_(objects_.size()),
        memo_(count_),
        busy_(count_, false),
        decode_images_(decode_images) {}

  QVariant field(plist_t node, int depth) {
    switch (plist_get_node_type(node)) {
      case PLIST_UID:
        return ref(node, depth);
      case PLIST_STRING: {
        const QString s = string_of(node);
        if (auto r = rect_from_string(s)) return *r;
        if (auto p = point_from_string(s)) return *p;
        return s;
      }
      default:
        return scalar(node);
    }
  }

  QVariant ref(plist_t uid_node, int depth) {
    if (plist_get_node_type(uid_node) != PLIST_UID) throw DecodeError{"expected a reference"};
    uint64_t index = 0;
    plist_get_uid_val(uid_node, &index);
    return object(index, depth);
  }

 private:
  QVariant object(uint64_t index, int depth) {
    if (index == 0) return {};
    if (index >= count_) throw DecodeError{"reference out of range"};
    if (depth > kMaxDepth) throw DecodeError{"nesting too deep"};
    if (memo_[index]) return *memo_[index];
    if (busy_[index]) throw DecodeError{"reference cycle"};
    busy_[index] = true;
    QVariant v = decode(objects_[index], depth);
    busy_[index] = false;
    memo_[index] = v;
    return v;
  }

  static QString string_of(plist_t node) {
    uint64_t len = 0;
    const char* p = plist_get_string_ptr(node, &len);
    return QString::fromUtf8(p, static_cast<qsizetype>(len));
  }

  QVariant scalar(plist_t node) {
    switch (plist_get_node_type(node)) {
      case PLIST_STRING:
        return string_of(node);
      case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return bool(b);
      }
      case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return static_cast<qint64>(u);
      }
      case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return d;
      }
      case PLIST_DATA: {
        uint64_t len = 0;
        const char* p = plist_get_data_ptr(node, &len);
        return QByteArray(p, static_cast<qsizetype>(len));
      }
      case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return QDateTime::fromMSecsSinceEpoch((kReferenceEpoch + sec) * 1000 + usec / 1000, QTimeZone::utc());
      }
      default:
        throw DecodeError{"unexpected value kind"};
    }
  }

  plist_t member(plist_t dict, const char* key, plist_type type) {
    plist_t n = plist_dict_get_item(dict, key);
    if (!n || plist_get_node_type(n) != type) throw DecodeError{QString("missing or mistyped %1").arg(key)};
    return n;
  }

  QString class_name(plist_t dict) {
    plist_t cls = member(dict, "$class", PLIST_UID);
    uint64_t index = 0;
    plist_get_uid_val(cls, &index);
    if (index == 0 || index >= count_) throw DecodeError{"class reference out of range"};
    plist_t cd = objects_[index];
    if (plist_get_node_type(cd) != PLIST_DICT) throw DecodeError{"class descriptor is not a dictionary"};
    return string_of(member(cd, "$classname", PLIST_STRING));
  }

  QVariantList refs(plist_t array, int depth) {
    QVariantList out;
    const std::vector<plist_t> items = items_of(array);
    out.reserve(static_cast<qsizetype>(items.size()));
    for (plist_t item : items) out.append(ref(item, depth + 1));
    return out;
  }

  QVariant decode(plist_t node, int depth) {
    if (plist_get_node_type(node) != PLIST_DICT) return scalar(node);
    const QString name = class_name(node);
    if (name == "NSMutableDictionary" || name == "NSDictionary") {
      const std::vector<plist_t> keys = items_of(member(node, "NS.keys", PLIST_ARRAY));
      const std::vector<plist_t> values = items_of(member(node, "NS.objects", PLIST_ARRAY));
      if (keys.size() != values.size()) throw DecodeError{"keys and objects differ in length"};
      QVariantMap map;
      for (std::size_t i = 0; i < keys.size(); ++i) {
        const QVariant key = ref(keys[i], depth + 1);
        if (key.metaType().id() != QMetaType::QString) throw DecodeError{"dictionary key is not a string"};
        map.insert(key.toString(), ref(values[i], depth + 1));
      }
      return map;
    }
    if (name == "NSMutableArray" || name == "NSArray")
      return refs(member(node, "NS.objects", PLIST_ARRAY), depth);
    if (name == "NSDate") {
      double t = 0;
      plist_get_real_val(member(node, "NS.time", PLIST_REAL), &t);
      if (!std::isfinite(t) || std::abs(t) > 1e12) throw DecodeError{"date out of range"};
      return QDateTime::fromMSecsSinceEpoch(qRound64((t + kReferenceEpoch) * 1000.0), QTimeZone::utc());
    }
    if (name == "NSURL") {
      const QVariant base = ref(member(node, "NS.base", PLIST_UID), depth + 1);
      const QVariant rel = ref(member(node, "NS.relative", PLIST_UID), depth + 1);
      if (rel.metaType().id() != QMetaType::QString) throw DecodeError{"URL text is not a string"};
      QUrl url(rel.toString());
      if (base.metaType().id() == QMetaType::QUrl) url = base.toUrl().resolved(url);
      return url;
    }
    if (name == "NSMutableString" || name == "NSString")
      return string_of(member(node, "NS.string", PLIST_STRING));
    if (name == "NSMutableData" || name == "NSData") return scalar(member(node, "NS.data", PLIST_DATA));
    if (name == "PNGImage") {
      const QVariant png = ref(member(node, "png", PLIST_UID), depth + 1);
      // Kept as they are; what is not a PNG is dropped, as a picture that
      // cannot be drawn.
      const QByteArray bytes = png.toByteArray();
      if (!decode_images_ || !looks_like_png(bytes)) return QVariant::fromValue(PngImage{});
      return QVariant::fromValue(PngImage{bytes});
    }
    if (name == "MapIcon") {
      MapIcon icon;
      const auto frame = rect_from_string(string_of(member(node, "frame", PLIST_STRING)));
      if (!frame) throw DecodeError{"map icon frame is not a rectangle"};
      icon.frame = *frame;
      icon.name = ref(member(node, "name", PLIST_UID), depth + 1).toString();
      if (plist_t image = plist_dict_get_item(node, "image")) {
        const QVariant img = ref(image, depth + 1);
        if (const PngImage* picture = picture_in(img)) icon.image = *picture;
      }
      return QVariant::fromValue(icon);
    }
    throw DecodeError{"unknown class " + name};
  }

  std::vector<plist_t> objects_;
  uint64_t count_;
  std::vector<std::optional<QVariant>> memo_;
  std::vector<bool> busy_;
  bool decode_images_;
};

// libplist aborts on a string object with an embedded NUL used as a
// dictionary key; such archives are refused before libplist sees them.
bool has_nul_in_strings(const QByteArray& b) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.constData());
  const uint64_t size = static_cast<uint64_t>(b.size());
  if (size < 8 + 32) return false;  // libplist refuses it on its own
  const unsigned char* t = p + size - 32;
  auto be = [](const unsigned char* q, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | q[i];
    return v;
  };
  const int offset_size = t[6];
  const uint64_t count = be(t + 8, 8);
  const uint64_t table = be(t + 24, 8);
  if (offset_size < 1 || offset_size > 8 || table >= size || count > size ||
      table + count * static_cast<uint64_t>(offset_size) > size - 32)
    return false;  // malformed: libplist refuses it
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t at = be(p + table + i * offset_size, offset_size);
    if (at >= size) continue;
    const unsigned marker = p[at];
    const unsigned kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) continue;
    uint64_t length = marker & 0x0F;
    uint64_t start = at + 1;
    if (length == 0x0F) {  // the length follows as an integer object
      if (start >= size || (p[start] >> 4) != 0x1) return true;
      const int n = 1 << (p[start] & 0x0F);
      if (n > 8 || start + 1 + n > size) return true;
      length = be(p + start + 1, n);
      start += 1 + n;
    }
    const uint64_t bytes = kind == 0x6 ? length * 2 : length;
    if (length > size || start + bytes > size) continue;  // libplist refuses it
    for (uint64_t k = 0; k < bytes; k += (kind == 0x6 ? 2 : 1))
      if (p[start + k] == 0 && (kind == 0x5 || p[start + k + 1] == 0)) return true;
  }
  return false;
}

void set_error(QString* error, const QString& text) {
  if (error) *error = text;
}

}  // namespace

QString rect_to_string(const QRectF& r) {
  return QString("{{%1, %2}, {%3, %4}}")
      .arg(number_text(r.x()), number_text(r.y()), number_text(r.width()), number_text(r.height()));
}

QString point_to_string(const QPointF& p) {
  return QString("{%1, %2}").arg(number_text(p.x()), number_text(p.y()));
}

namespace {
const QString kNumber = QStringLiteral(R"(\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*)");
}

std::optional<QRectF> rect_from_string(const QString& s) {
  static const QRegularExpression re(
      QString(R"(^\s*\{\s*\{%1,%1\}\s*,\s*\{%1,%1\}\s*\}\s*$)").arg(kNumber));
  const auto m = re.match(s);
  if (!m.hasMatch()) return std::nullopt;
  return QRectF(m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                m.captured(4).toDouble());
}

std::optional<QPointF> point_from_string(const QString& s) {
  static const QRegularExpression re(QString(R"(^\s*\{%1,%1\}\s*$)").arg(kNumber));
  const auto m = re.match(s);
  if (!m.hasMatch()) return std::nullopt;
  return QPointF(m.captured(1).toDouble(), m.captured(2).toDouble());
}

QByteArray encode_archive(const QVariantMap& top) {
  Writer writer;
  Node t = Node::dict();
  for (auto it = top.constBegin(); it != top.constEnd(); ++it)
    t.set(it.key().toUtf8(), writer.field(it.value()));
  return writer.finish(std::move(t));
}

QByteArray encode_root_archive(const QVariant& root) { return encode_archive({{"root", root}}); }

std::optional<QVariantMap> decode_archive(const QByteArray& bytes, QString* error, bool decode_images) {
  if (bytes.size() < 8 || !bytes.startsWith("bplist00")) {
    set_error(error, "not a binary property list");
    return std::nullopt;
  }
  if (has_nul_in_strings(bytes)) {
    set_error(error, "string with an embedded NUL");
    return std::nullopt;
  }
  plist_t raw = nullptr;
  plist_from_bin(bytes.constData(), static_cast<uint32_t>(bytes.size()), &raw);
  PlistPtr root(raw);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    set_error(error, "not a keyed archive");
    return std::nullopt;
  }
  plist_t top = plist_dict_get_item(root.get(), "$top");
  plist_t objects = plist_dict_get_item(root.get(), "$objects");
  if (!top || plist_get_node_type(top) != PLIST_DICT) {
    set_error(error, "missing or mistyped $top");
    return std::nullopt;
  }
  if (!objects || plist_get_node_type(objects) != PLIST_ARRAY) {
    set_error(error, "missing or mistyped $objects");
    return std::nullopt;
  }
  try {
    Reader reader(objects, decode_images);
    QVariantMap out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(top, &it);
    std::unique_ptr<void, decltype(&free)> iter_guard(it, &free);
    for (;;) {
      char* key = nullptr;
      plist_t value = nullptr;
      plist_dict_next_item(top, it, &key, &value);
      if (!value) {
        free(key);
        break;
      }
      const QString k = QString::fromUtf8(key);
      free(key);
      out.insert(k, reader.field(value, 0));
    }
    return out;
  } catch (const DecodeError& e) {
    set_error(error, e.reason);
    return std::nullopt;
  }
}

std::optional<QVariant> decode_root_archive(const QByteArray& bytes, QString* error, bool decode_images) {
  auto top = decode_archive(bytes, error, decode_images);
  if (!top) return std::nullopt;
  if (!top->contains("root")) {
    set_error(error, "archive has no root object");
    return std::nullopt;
  }
  return top->value("root");
}

}  // namespace tavri

#include "binary_plist.h"

#include <QHash>
#include <cstring>
#include <unordered_map>

namespace tavri::bplist {
namespace {

// Scalars, strings and keys are shared by value; containers never.
struct ScalarKey {
  int kind;  // Node::Type, or -1 for a dictionary key
  std::uint64_t bits;
  QByteArray bytes;
  bool operator==(const ScalarKey& o) const { return kind == o.kind && bits == o.bits && bytes == o.bytes; }
};
size_t qHash(const ScalarKey& k, size_t seed = 0) { return ::qHash(k.bytes, seed) ^ ::qHash(k.bits, seed) ^ k.kind; }

std::uint64_t bits_of(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

int needed_bytes(std::uint64_t v) { return v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x100000000ull ? 4 : 8; }
// References and offsets may take three bytes; numbers may not.
int table_bytes(std::uint64_t v) { return v >= 0x10000 && v < 0x1000000 ? 3 : needed_bytes(v); }
int log2_of(int size) { return size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : size == 8 ? 3 : 4; }

void put_be(QByteArray& out, std::uint64_t v, int size) {
  for (int i = size - 1; i >= 0; --i) out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

class Serializer {
 public:
  QByteArray run(const Node& root) {
    collect(root);
    ref_size_ = table_bytes(order_.size());
    QByteArray out("bplist00");
    std::vector<std::uint64_t> offsets;
    offsets.reserve(order_.size());
    for (const Item& item : order_) {
      offsets.push_back(static_cast<std::uint64_t>(out.size()));
      write_object(out, item);
    }
    const std::uint64_t table = static_cast<std::uint64_t>(out.size());
    const int offset_size = table_bytes(table);
    for (std::uint64_t o : offsets) put_be(out, o, offset_size);
    out.append(QByteArray(6, '\0'));
    out.append(static_cast<char>(offset_size));
    out.append(static_cast<char>(ref_size_));
    put_be(out, order_.size(), 8);
    put_be(out, 0, 8);
    put_be(out, table, 8);
    return out;
  }

 private:
  struct Item {
    const Node* node;
    const QByteArray* key;  // a dictionary key, when node is null
  };

  // Depth first, a node before its children, a dictionary's keys and
  // values in pairs; each node's object index is remembered.
  std::uint64_t collect(const Node& node) {
    if (node.type != Node::Type::kArray && node.type != Node::Type::kDict) {
      ScalarKey k{static_cast<int>(node.type), 0, {}};
      switch (node.type) {
        case Node::Type::kReal: k.bits = bits_of(node.real); break;
        case Node::Type::kString:
        case Node::Type::kData: k.bytes = node.bytes; break;
        default: k.bits = node.integer; break;
      }
      return shared(std::move(k), Item{&node, nullptr});
    }
    const std::uint64_t index = order_.size();
    order_.push_back({&node, nullptr});
    // A dictionary's references: its keys, then its values.
    std::vector<std::uint64_t> refs, values;
    for (std::size_t i = 0; i < node.items.size(); ++i) {
      if (node.type == Node::Type::kDict)
        refs.push_back(shared(ScalarKey{-1, 0, node.keys[i]}, Item{nullptr, &node.keys[i]}));
      (node.type == Node::Type::kDict ? values : refs).push_back(collect(node.items[i]));
    }
    refs.insert(refs.end(), values.begin(), values.end());
    refs_[&node] = std::move(refs);
    return index;
  }

  std::uint64_t shared(ScalarKey k, Item item) {
    auto it = seen_.constFind(k);
    if (it != seen_.constEnd()) return it.value();
    const std::uint64_t index = order_.size();
    seen_.insert(std::move(k), index);
    order_.push_back(item);
    return index;
  }

  static void marker_with_count(QByteArray& out, int kind, std::uint64_t count) {
    if (count < 15) {
      out.append(static_cast<char>(kind | static_cast<int>(count)));
      return;
    }
    out.append(static_cast<char>(kind | 0x0f));
    write_uint(out, count);
  }
  static void write_uint(QByteArray& out, std::uint64_t v) {
    const int size = needed_bytes(v);
    out.append(static_cast<char>(0x10 | log2_of(size)));
    put_be(out, v, size);
  }
  static void write_string(QByteArray& out, const QByteArray& utf8) {
    bool ascii = true;
    for (char c : utf8) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
      marker_with_count(out, 0x50, static_cast<std::uint64_t>(utf8.size()));
      out.append(utf8);
      return;
    }
    const QString text = QString::fromUtf8(utf8);
    marker_with_count(out, 0x60, static_cast<std::uint64_t>(text.size()));
    for (QChar c : text) put_be(out, c.unicode(), 2);
  }

  void write_object(QByteArray& out, const Item& item) {
    if (!item.node) return write_string(out, *item.key);
    const Node& n = *item.node;
    switch (n.type) {
      case Node::Type::kBool:
        out.append(static_cast<char>(n.integer ? 0x09 : 0x08));
        break;
      case Node::Type::kUint:
        write_uint(out, n.integer);
        break;
      case Node::Type::kReal: {
        const float f = static_cast<float>(n.real);
        if (static_cast<double>(f) == n.real) {
          std::uint32_t b;
          std::memcpy(&b, &f, sizeof b);
          out.append(static_cast<char>(0x22));
          put_be(out, b, 4);
        } else {
          out.append(static_cast<char>(0x23));
          put_be(out, bits_of(n.real), 8);
        }
        break;
      }
      case Node::Type::kData:
        marker_with_count(out, 0x40, static_cast<std::uint64_t>(n.bytes.size()));
        out.append(n.bytes);
        break;
      case Node::Type::kString:
        write_string(out, n.bytes);
        break;
      case Node::Type::kUid: {
        const std::uint64_t v = n.integer & 0xffffffffu;
        const int size = needed_bytes(v);
        out.append(static_cast<char>(0x80 | (size - 1)));
        put_be(out, v, size);
        break;
      }
      case Node::Type::kArray:
      case Node::Type::kDict: {
        const std::vector<std::uint64_t>& refs = refs_.at(&n);
        const std::uint64_t count = n.type == Node::Type::kArray ? refs.size() : refs.size() / 2;
        marker_with_count(out, n.type == Node::Type::kArray ? 0xa0 : 0xd0, count);
        for (std::uint64_t r : refs) put_be(out, r, ref_size_);
        break;
      }
    }
  }

  std::vector<Item> order_;
  QHash<ScalarKey, std::uint64_t> seen_;
  std::unordered_map<const Node*, std::vector<std::uint64_t>> refs_;
  int ref_size_ = 1;
};

}  // namespace

QByteArray write(const Node& root) { return Serializer().run(root); }

}  // namespace tavri::bplist

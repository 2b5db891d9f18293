#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QRandomGenerator>
#include <functional>
#include <limits>

#include "core/binary_plist.h"

using tavri::bplist::Node;

namespace {

// The same tree for libplist's own writer, the reference for every byte.
plist_t to_libplist(const Node& n) {
  switch (n.type) {
    case Node::Type::kBool: return plist_new_bool(n.integer != 0);
    case Node::Type::kUint: return plist_new_uint(n.integer);
    case Node::Type::kUid: return plist_new_uid(n.integer);
    case Node::Type::kReal: return plist_new_real(n.real);
    case Node::Type::kString: return plist_new_string(n.bytes.constData());
    case Node::Type::kData: return plist_new_data(n.bytes.constData(), static_cast<uint64_t>(n.bytes.size()));
    case Node::Type::kArray: {
      plist_t a = plist_new_array();
      for (const Node& c : n.items) plist_array_append_item(a, to_libplist(c));
      return a;
    }
    case Node::Type::kDict: {
      plist_t d = plist_new_dict();
      for (std::size_t i = 0; i < n.keys.size(); ++i)
        plist_dict_set_item(d, n.keys[i].constData(), to_libplist(n.items[i]));
      return d;
    }
  }
  return nullptr;
}

QByteArray reference(const Node& n) {
  plist_t p = to_libplist(n);
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(p, &bin, &length);
  QByteArray out(bin, static_cast<qsizetype>(length));
  plist_to_bin_free(bin);
  plist_free(p);
  return out;
}

// Random trees from a small pool of values, so that many repeat.
Node random_node(QRandomGenerator& rng, int depth) {
  static const QByteArray strings[] = {"", "a", "$null", "NS.objects", "Grüße", "日本", "x\xF0\x9F\x98\x80y",
                                       QByteArray(14, 'k'), QByteArray(15, 'k'), QByteArray(300, 'z')};
  static const std::uint64_t numbers[] = {0, 1, 14, 15, 255, 256, 65535, 65536, 0xffffffffull, 0x100000000ull,
                                          std::numeric_limits<std::int64_t>::max(), ~0ull, std::uint64_t(-5)};
  static const double reals[] = {0.0, 1.5, -2.25, 0.1, 1e300, 3.0f, 1.0 / 3};
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng.bounded(static_cast<quint32>(n))); };
  const int kind = static_cast<int>(rng.bounded(depth > 3 ? 6 : 9));
  switch (kind) {
    case 0: return Node::boolean(rng.bounded(2) == 1);
    case 1: return Node::uint(numbers[pick(std::size(numbers))]);
    case 2: return Node::uid(numbers[pick(9)]);
    case 3: return Node::real_number(reals[pick(std::size(reals))]);
    case 4: return Node::string(strings[pick(std::size(strings))]);
    case 5: return Node::data(QByteArray(static_cast<int>(rng.bounded(3)) * 10, 'd'));
    case 6:
    case 7: {
      Node a = Node::array();
      for (int i = static_cast<int>(rng.bounded(20)); i > 0; --i) a.items.push_back(random_node(rng, depth + 1));
      return a;
    }
    default: {
      Node d = Node::dict();
      for (int i = static_cast<int>(rng.bounded(18)); i > 0; --i)
        d.set(QByteArray("key") + QByteArray::number(i), random_node(rng, depth + 1));
      return d;
    }
  }
}

}  // namespace

// Every byte as libplist writes it: shared scalars and keys, sizes of
// numbers, references and offsets, ASCII and UTF-16 strings, long counts.
// (Equal data blocks are shared too; libplist shares them only by chance.)
TEST(BinaryPlist, WritesWhatLibplistWrites) {
  QRandomGenerator rng(7);
  for (int round = 0; round < 300; ++round) {
    Node root = random_node(rng, 0);
    if (round % 50 == 0)  // enough objects for two-byte references and offsets
      for (int i = 0; i < 400; ++i) root.items.push_back(Node::string("n" + QByteArray::number(i)));
    std::function<int(const Node&)> data_blocks = [&](const Node& n) {
      int found = n.type == Node::Type::kData ? 1 : 0;
      for (const Node& c : n.items) found += data_blocks(c);
      return found;
    };
    if (data_blocks(root) > 1) continue;
    ASSERT_EQ(tavri::bplist::write(root).toHex(), reference(root).toHex()) << "round " << round;
  }
  // References of three bytes; offsets of three and four.
  Node many = Node::array();
  for (int i = 0; i < 70000; ++i) many.items.push_back(Node::uint(static_cast<std::uint64_t>(i)));
  EXPECT_EQ(tavri::bplist::write(many), reference(many));
  Node large = Node::array();
  large.items = {Node::string("before"), Node::data(QByteArray(17 << 20, 'p')), Node::string("after")};
  EXPECT_EQ(tavri::bplist::write(large), reference(large));
}

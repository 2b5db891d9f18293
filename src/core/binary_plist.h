#pragma once
#include <QByteArray>
#include <cstdint>
#include <utility>
#include <vector>

namespace tavri::bplist {

// A property-list value as the keyed-archive writer builds it.
struct Node {
  enum class Type : std::uint8_t { kBool, kUint, kReal, kData, kString, kUid, kArray, kDict };
  Type type = Type::kString;
  std::uint64_t integer = 0;  // bool, uint, uid
  double real = 0;
  QByteArray bytes;  // string (UTF-8) or data
  std::vector<Node> items;  // an array's; a dictionary's values
  std::vector<QByteArray> keys;  // a dictionary's, in insertion order

  static Node of(Type type, std::uint64_t integer = 0, double real = 0, QByteArray bytes = {}) {
    Node n;
    n.type = type;
    n.integer = integer;
    n.real = real;
    n.bytes = std::move(bytes);
    return n;
  }
  static Node boolean(bool b) { return of(Type::kBool, b ? 1 : 0); }
  static Node uint(std::uint64_t u) { return of(Type::kUint, u); }
  static Node uid(std::uint64_t u) { return of(Type::kUid, u); }
  static Node real_number(double d) { return of(Type::kReal, 0, d); }
  static Node string(QByteArray utf8) { return of(Type::kString, 0, 0, std::move(utf8)); }
  static Node data(QByteArray b) { return of(Type::kData, 0, 0, std::move(b)); }
  static Node array() { return of(Type::kArray); }
  static Node dict() { return of(Type::kDict); }
  Node& set(const char* key, Node value) {
    return set(QByteArray(key), std::move(value));
  }
  Node& set(QByteArray key, Node value) {
    keys.push_back(std::move(key));
    items.push_back(std::move(value));
    return *this;
  }
};

// The binary property list ("bplist00") of a tree, in linear time: the
// objects in depth-first order, each scalar, string and key written once
// and shared, as the established writers lay them out.
QByteArray write(const Node& root);

}  // namespace tavri::bplist

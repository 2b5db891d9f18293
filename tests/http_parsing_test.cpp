#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "server/byte_range.h"
#include "server/http_message.h"
#include "server/path_mapping.h"

using namespace tavri::http;

namespace {

std::vector<ByteRange> ranges(const char* header, std::uint64_t length) {
  auto r = parse_range_request(header, length);
  return r ? *r : std::vector<ByteRange>{};
}

}  // namespace

TEST(RangeParser, SatisfiableForms) {
  EXPECT_EQ(ranges("bytes=0-99", 1000), (std::vector<ByteRange>{{0, 100}}));
  EXPECT_EQ(ranges("bytes=-100", 1000), (std::vector<ByteRange>{{900, 100}}));
  EXPECT_EQ(ranges("bytes=900-", 1000), (std::vector<ByteRange>{{900, 100}}));
  EXPECT_EQ(ranges("bytes=5", 1000), (std::vector<ByteRange>{{5, 1}}));
  EXPECT_EQ(ranges(" BYTES = 0-0 , 999-999 ", 1000), (std::vector<ByteRange>{{0, 1}, {999, 1}}));
  EXPECT_EQ(ranges("bytes=-1000", 1000), (std::vector<ByteRange>{{0, 1000}}));
  // A last byte past the end means to the end, as a chunked downloader's last chunk asks.
  EXPECT_EQ(ranges("bytes=1000-99999999", 3000000), (std::vector<ByteRange>{{1000, 2999000}}));
  EXPECT_EQ(ranges("bytes=0-1000", 1000), (std::vector<ByteRange>{{0, 1000}}));
  // Sorted by location whatever the request's order; touching is not overlapping.
  EXPECT_EQ(ranges("bytes=10-19,0-9", 1000), (std::vector<ByteRange>{{0, 10}, {10, 10}}));
  EXPECT_EQ(content_range({0, 100}, 1000), "bytes 0-99/1000");
}

TEST(RangeParser, AnythingUnsatisfiableIsNoRangeRequest) {
  for (const char* header : {"bytes=0-9,5-14", "bytes=1000-", "items=0-9", "bytes", "bytes=", "bytes=9-5",
                             "bytes=1000-2000", "bytes=-1001", "bytes=a-b", "bytes=0-9,", "bytes=-", "bytes=1000",
                             "bytes=-0", "bytes=99999999999999999999999-"})
    EXPECT_FALSE(parse_range_request(header, 1000)) << header;
  // Past 32 parts the whole body is sent: a thousand tiny parts must not
  // multiply the answer by their part heads.
  std::string parts = "bytes=";
  for (int i = 0; i < 33; ++i) parts += std::to_string(i * 10) + "-" + std::to_string(i * 10) + (i < 32 ? "," : "");
  EXPECT_FALSE(parse_range_request(parts, 1000));
  parts = parts.substr(0, parts.rfind(','));
  EXPECT_EQ(parse_range_request(parts, 1000)->size(), 32u);
  // Nothing is satisfiable in an empty body.
  EXPECT_FALSE(parse_range_request("bytes=-0", 0));
  EXPECT_FALSE(parse_range_request("bytes=0-", 0));
}

TEST(NumberParser, BehavesLikeStrtoull) {
  EXPECT_EQ(parse_uint64("  42abc"), 42u);
  EXPECT_EQ(parse_uint64("+7"), 7u);
  EXPECT_EQ(parse_uint64("18446744073709551615"), 18446744073709551615ull);
  EXPECT_FALSE(parse_uint64("18446744073709551616"));
  EXPECT_FALSE(parse_uint64(""));
  EXPECT_FALSE(parse_uint64("x1"));
  EXPECT_EQ(parse_uint64("-1"), 18446744073709551615ull);
}

TEST(HttpMessageParser, HeadsLineByLine) {
  auto m = HttpMessage::empty_request();
  EXPECT_TRUE(m.append_data("GET /a%20b?x=1 HTTP/1.1\r\n"));
  EXPECT_TRUE(m.append_data("Host: x\r\nrange:  bytes=0-1 \r\n"));
  EXPECT_FALSE(m.is_header_complete());
  EXPECT_TRUE(m.append_data("\r\n"));
  EXPECT_TRUE(m.is_header_complete());
  EXPECT_EQ(m.method(), "GET");
  EXPECT_EQ(m.url(), "/a%20b?x=1");
  EXPECT_EQ(m.version(), "HTTP/1.1");
  EXPECT_EQ(m.header_field("RANGE"), "bytes=0-1");
  EXPECT_FALSE(m.header_field("Connection"));

  // A version we do not speak still parses, so that it can be answered 505.
  auto v2 = HttpMessage::empty_request();
  EXPECT_TRUE(v2.append_data("GET / HTTP/2.0\r\n\r\n"));
  EXPECT_EQ(v2.version(), "HTTP/2.0");

  for (const char* bad : {"GET /\r\n", "GET  / HTTP/1.1\r\n", "GET / HTTP/1.1 x\r\n", "G\"T / HTTP/1.1\r\n",
                          "GET / FTP/1.0\r\n", "GET /\x01 HTTP/1.1\r\n"}) {
    auto b = HttpMessage::empty_request();
    EXPECT_FALSE(b.append_data(bad)) << bad;
  }
  for (const char* bad_header : {"NoColon\r\n", " folded: x\r\n", "Bad Name: x\r\n", "X: a\rb\r\n"}) {
    auto b = HttpMessage::empty_request();
    ASSERT_TRUE(b.append_data("GET / HTTP/1.1\r\n"));
    EXPECT_FALSE(b.append_data(bad_header)) << bad_header;
  }
}

TEST(HttpMessageParser, ResponseBytes) {
  auto r = HttpMessage::response(206);
  r.set_header_field("Content-Length", "1");
  r.set_header_field("content-length", "2");
  auto bytes = r.message_data();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "HTTP/1.1 206 Partial Content\r\nContent-Length: 2\r\n\r\n");
}

TEST(PathMapping, StandardisesPaths) {
  EXPECT_EQ(standardize_path("/a//b/./c/../d/"), "/a/b/d");
  EXPECT_EQ(standardize_path("/../../x"), "/x");
  EXPECT_EQ(document_root_with_slash("/srv/media/"), "/srv/media/");
  EXPECT_EQ(document_root_with_slash("/srv/x/../media"), "/srv/media/");
  EXPECT_EQ(target_path("http://host:5003/a/b?q#f"), "/a/b");
}

TEST(PathMapping, StaysBelowTheRootAndFindsIndexFiles) {
  QTemporaryDir dir;
  QDir(dir.path()).mkpath("root/sub");
  QDir(dir.path()).mkpath("root/both");
  auto touch = [&](const QString& rel) {
    QFile f(dir.path() + "/" + rel);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  };
  touch("secret");
  touch("root/My Movie.mp4");
  touch("root/sub/index.htm");
  touch("root/both/index.html");
  touch("root/both/index.htm");
  const std::string root = (dir.path() + "/root").toStdString();

  PathRefusal why;
  for (const char* target : {"/../secret", "/%2E%2E/secret", "/%2e%2e%2fsecret", "/sub/../../secret", "..",
                             "/%2E%2E"}) {
    EXPECT_FALSE(map_request_path(root, target, false, &why)) << target;
    EXPECT_EQ(why, PathRefusal::outside_root) << target;
  }
  EXPECT_FALSE(map_request_path(root, "/a%2", false, &why));
  EXPECT_FALSE(map_request_path(root, "/a%00b", false, &why));
  EXPECT_FALSE(map_request_path("", "/x", false, &why));
  EXPECT_EQ(why, PathRefusal::no_root);

  EXPECT_EQ(map_request_path(root, "/My%20Movie.mp4?x=1#y", false), root + "/My Movie.mp4");
  EXPECT_EQ(map_request_path(root + "/", "/sub/../My%20Movie.mp4", false), root + "/My Movie.mp4");
  EXPECT_EQ(map_request_path(root, "/missing", false), root + "/missing");  // existence is checked later
  EXPECT_FALSE(map_request_path(root, "/", false));                          // no index file
  EXPECT_EQ(map_request_path(root, "/", true), root + "/");
  EXPECT_EQ(map_request_path(root, "/sub/", false), root + "/sub/index.htm");
  EXPECT_EQ(map_request_path(root, "/both", false), root + "/both/index.html");
}

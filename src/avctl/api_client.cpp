#include "avctl/api_client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <istream>

namespace tavri::avctl {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {
http::request<http::string_body> make_request(const std::string& method, const std::string& target,
                                              const std::string& host, const std::string& token,
                                              const std::string& body) {
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  request.set(http::field::host, host);
  request.set(http::field::user_agent, "tavri-avctl");
  request.set(http::field::authorization, "Bearer " + token);
  if (!body.empty()) request.set(http::field::content_type, "application/json");
  request.body() = body;
  request.prepare_payload();
  return request;
}
}  // namespace

Reply ApiClient::call(const std::string& method, const std::string& target, const std::string& body) const {
  Reply reply;
  try {
    asio::io_context io;
    beast::tcp_stream stream(io);
    stream.expires_after(std::chrono::seconds(60));
    stream.connect(tcp::resolver(io).resolve(host_, port_));
    http::write(stream, make_request(method, target, host_, token_, body));
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(512ull * 1024 * 1024);
    http::read(stream, buffer, parser);
    reply.status = static_cast<int>(parser.get().result_int());
    reply.body = std::move(parser.get().body());
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
  } catch (const std::exception& e) {
    reply.status = 0;
    reply.error = e.what();
  }
  return reply;
}

std::string ApiClient::follow(const std::string& target,
                              const std::function<bool(const std::string&, const std::string&)>& on_event) const {
  try {
    asio::io_context io;
    tcp::socket socket(io);
    asio::connect(socket, tcp::resolver(io).resolve(host_, port_));
    http::write(socket, make_request("GET", target, host_, token_, {}));
    asio::streambuf buffer;
    asio::read_until(socket, buffer, "\r\n\r\n");
    std::istream in(&buffer);
    std::string status_line;
    std::getline(in, status_line);
    if (status_line.find(" 200 ") == std::string::npos) return "the server answered: " + status_line;
    for (std::string line; std::getline(in, line) && line != "\r";) {
    }
    std::string event, data;
    for (;;) {
      asio::read_until(socket, buffer, "\n");
      std::string line;
      std::getline(in, line);
      if (line.rfind("event: ", 0) == 0) event = line.substr(7);
      else if (line.rfind("data: ", 0) == 0) data = line.substr(6);
      else if (line.empty()) {
        if (!event.empty() && !on_event(event, data)) return {};
        event.clear();
        data.clear();
      }
    }
  } catch (const boost::system::system_error& e) {
    if (e.code() == asio::error::eof) return "the server closed the event stream";
    return e.what();
  }
}

}  // namespace tavri::avctl

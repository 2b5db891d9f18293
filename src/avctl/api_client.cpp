#include "avctl/api_client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/http/file_body.hpp>
#include <istream>

namespace tavri::avctl {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

http::request<http::string_body> make_request(const std::string& method, const std::string& target,
                                              const std::string& host, const std::string& token,
                                              const std::string& body, const std::string& if_match = {}) {
  http::request<http::string_body> request(http::string_to_verb(method), target, 11);
  if (!if_match.empty()) request.set(http::field::if_match, if_match);
  request.set(http::field::host, host);
  request.set(http::field::user_agent, "tavri-avctl");
  request.set(http::field::authorization, "Bearer " + token);
  if (!body.empty()) request.set(http::field::content_type, "application/json");
  request.body() = body;
  request.prepare_payload();
  return request;
}

// Connects (and with TLS, checks the server's certificate against its
// name) and hands the stream to `use`; throws what fails.
template <typename Use>
void with_stream(const Endpoint& e, std::chrono::seconds deadline, Use use) {
  asio::io_context io;
  const auto addresses = tcp::resolver(io).resolve(e.host, e.port);
  if (!e.tls) {
    beast::tcp_stream stream(io);
    if (deadline.count()) stream.expires_after(deadline);
    stream.connect(addresses);
    return use(stream);
  }
  asio::ssl::context tls(asio::ssl::context::tls_client);
  if (e.ca_file.empty())
    tls.set_default_verify_paths();
  else
    tls.load_verify_file(e.ca_file);
  tls.set_verify_mode(asio::ssl::verify_peer);
  beast::ssl_stream<beast::tcp_stream> stream(io, tls);
  stream.set_verify_callback(asio::ssl::host_name_verification(e.host));
  SSL_set_tlsext_host_name(stream.native_handle(), e.host.c_str());
  if (deadline.count()) beast::get_lowest_layer(stream).expires_after(deadline);
  beast::get_lowest_layer(stream).connect(addresses);
  stream.handshake(asio::ssl::stream_base::client);
  use(stream);
}

}  // namespace

Reply ApiClient::call(const std::string& method, const std::string& target, const std::string& body) const {
  if (transport_) return transport_(method, target, body);
  Reply reply;
  try {
    with_stream(endpoint_, std::chrono::seconds(60), [&](auto& stream) {
      http::write(stream, make_request(method, target, endpoint_.host, token_, body, if_match_));
      beast::flat_buffer buffer;
      http::response_parser<http::string_body> parser;
      parser.body_limit(512ull * 1024 * 1024);
      http::read(stream, buffer, parser);
      reply.status = static_cast<int>(parser.get().result_int());
      reply.body = std::move(parser.get().body());
    });
  } catch (const std::exception& e) {
    reply.status = 0;
    reply.error = e.what();
  }
  return reply;
}

Reply ApiClient::upload(const std::string& target, const std::string& path,
                        const std::function<void(std::uint64_t, std::uint64_t)>& progress) const {
  Reply reply;
  if (transport_) {
    reply.error = "files are not sent through the broker";
    return reply;
  }
  try {
    http::request<http::file_body> request(http::verb::put, target, 11);
    beast::error_code ec;
    request.body().open(path.c_str(), beast::file_mode::scan, ec);
    if (ec) {
      reply.error = path + ": " + ec.message();
      return reply;
    }
    request.set(http::field::host, endpoint_.host);
    request.set(http::field::user_agent, "tavri-avctl");
    request.set(http::field::authorization, "Bearer " + token_);
    request.set(http::field::content_type, "application/octet-stream");
    request.set(http::field::expect, "100-continue");
    request.prepare_payload();
    const std::uint64_t total = request.body().size();
    with_stream(endpoint_, std::chrono::seconds(0), [&](auto& stream) {
      http::request_serializer<http::file_body> serializer(request);
      http::write_header(stream, serializer);
      beast::flat_buffer buffer;
      auto read_reply = [&](http::response_parser<http::empty_body>& head) {
        http::response_parser<http::string_body> parser(std::move(head));
        parser.body_limit(1 << 20);
        http::read(stream, buffer, parser);
        reply.status = static_cast<int>(parser.get().result_int());
        reply.body = std::move(parser.get().body());
      };
      {
        http::response_parser<http::empty_body> head;
        http::read_header(stream, buffer, head);
        if (head.get().result() != http::status::continue_) return read_reply(head);
      }
      std::uint64_t sent = 0;
      while (!serializer.is_done()) {
        sent += http::write_some(stream, serializer);
        progress(std::min(sent, total), total);
      }
      http::response_parser<http::empty_body> head;
      http::read_header(stream, buffer, head);
      read_reply(head);
    });
  } catch (const std::exception& e) {
    reply.status = 0;
    reply.error = e.what();
  }
  return reply;
}

std::string ApiClient::follow(const std::string& target,
                              const std::function<bool(const std::string&, const std::string&)>& on_event) const {
  if (transport_) return "a site's events are followed on the broker (tavri/v1/sites/NAME/events)";
  std::string failure;
  try {
    with_stream(endpoint_, std::chrono::seconds(0), [&](auto& stream) {
      http::write(stream, make_request("GET", target, endpoint_.host, token_, {}));
      asio::streambuf buffer;
      asio::read_until(stream, buffer, "\r\n\r\n");
      std::istream in(&buffer);
      std::string status_line;
      std::getline(in, status_line);
      if (status_line.find(" 200 ") == std::string::npos) {
        failure = "the server answered: " + status_line;
        return;
      }
      for (std::string line; std::getline(in, line) && line != "\r";) {
      }
      std::string event, data;
      for (;;) {
        asio::read_until(stream, buffer, "\n");
        std::string line;
        std::getline(in, line);
        if (line.rfind("event: ", 0) == 0) event = line.substr(7);
        else if (line.rfind("data: ", 0) == 0) data = line.substr(6);
        else if (line.empty()) {
          if (!event.empty() && !on_event(event, data)) return;
          event.clear();
          data.clear();
        }
      }
    });
  } catch (const boost::system::system_error& e) {
    if (e.code() == asio::error::eof) return "the server closed the event stream";
    return e.what();
  }
  return failure;
}

}  // namespace tavri::avctl

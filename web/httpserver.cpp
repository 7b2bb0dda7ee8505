#include "web/httpserver.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <atomic>
#include <deque>
#include <optional>
#include <thread>
#include <unordered_set>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

// Whatever the handler answers: no script but the page's own, nothing from
// another site, not framed; no cookies are ever set.
void secure(http::response_header<> &header, const HttpServer::Response &response)
{
    header.set(http::field::server, "trelvin-web");
    header.set(http::field::content_type, response.type);
    header.set(http::field::cache_control, response.cache);
    header.set("Content-Security-Policy",
               "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
               "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    header.set("X-Content-Type-Options", "nosniff");
    header.set("Referrer-Policy", "no-referrer");
}

} // namespace

class HttpSession;

struct HttpServer::Impl {
    Impl(const Limits &l, Handler h) : limits(l), handler(std::move(h)), acceptor(io), keepAliveTimer(io) {}

    void accept();
    void keepAlive();

    const Limits limits;
    const Handler handler;
    asio::io_context io{1};
    tcp::acceptor acceptor;
    asio::steady_timer keepAliveTimer;
    std::thread thread;
    // Touched on the server's thread only.
    std::unordered_set<std::shared_ptr<HttpSession>> streams;
    std::atomic<std::size_t> viewerCount{0};
    std::atomic<std::size_t> connectionCount{0};
    std::atomic<unsigned short> boundPort{0};
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, HttpServer::Impl &owner) : stream(std::move(socket)), server(owner)
    {
        ++server.connectionCount;
    }
    ~HttpSession() { --server.connectionCount; }

    void readRequest()
    {
        parser.emplace();
        parser->header_limit(8 * 1024);
        parser->body_limit(0);
        // The whole request, headers and all, within the limit: a slow
        // sender holds a connection no longer.
        stream.expires_after(server.limits.headerTime);
        http::async_read(stream, buffer, *parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void enqueue(const std::shared_ptr<const std::string> &bytes)
    {
        if (closed)
            return;
        // A viewer that does not take what it is sent is cut off rather
        // than held in memory.
        if (queued + bytes->size() > server.limits.viewerBytes) {
            close();
            return;
        }
        queue.push_back(bytes);
        queued += bytes->size();
        if (!writing)
            writeNext();
    }

    const std::string &key() const { return streamKey; }

private:
    void onRead(beast::error_code ec)
    {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::eof) {
            close();
            return;
        }
        if (ec) {
            HttpServer::Response bad;
            bad.status = ec == http::error::header_limit ? 431 : 400;
            bad.body = bad.status == 431 ? "Request headers too large\n" : "Bad request\n";
            keepAlive = false;
            respond(std::move(bad));
            return;
        }
        stream.expires_never();
        const auto &message = parser->get();
        HttpServer::Request request{std::string(message.method_string()), std::string(message.target()),
                                    std::string(message["Last-Event-ID"])};
        keepAlive = message.keep_alive();
        head = message.method() == http::verb::head;
        // The answer holds the connection open until it comes.
        server.handler(request, [self = shared_from_this()](HttpServer::Response response) {
            asio::post(self->stream.get_executor(),
                       [self, response = std::move(response)]() mutable { self->respond(std::move(response)); });
        });
    }

    void respond(HttpServer::Response response)
    {
        if (closed)
            return;
        if (response.stream && server.viewerCount >= server.limits.viewers) {
            response = HttpServer::Response();
            response.status = 503;
            response.body = "Too many viewers; try again later\n";
        }
        auto message =
            std::make_shared<http::response<http::string_body>>(static_cast<http::status>(response.status), 11);
        secure(message->base(), response);
        if (response.stream) {
            // Past a reverse proxy too, each event as it comes.
            message->set("X-Accel-Buffering", "no");
            message->keep_alive(false);
            streamKey = response.key;
            startStream(message, std::move(response.body));
            return;
        }
        if (response.status == 503 || response.status >= 400)
            keepAlive = keepAlive && response.status < 500;
        message->keep_alive(keepAlive);
        const std::size_t length = response.body.size();
        if (!head)
            message->body() = std::move(response.body);
        message->prepare_payload();
        if (head)
            message->content_length(length);
        stream.expires_after(server.limits.writeTime);
        http::async_write(stream, *message, [self = shared_from_this(), message](beast::error_code ec, std::size_t) {
            if (ec || !self->keepAlive)
                self->close();
            else
                self->readRequest();
        });
    }

    void startStream(const std::shared_ptr<http::response<http::string_body>> &message, std::string first)
    {
        ++server.viewerCount;
        viewer = true;
        // The kernel's share of a viewer's memory is bounded too.
        beast::error_code ignored;
        stream.socket().set_option(asio::socket_base::send_buffer_size(int(server.limits.kernelBytes)), ignored);
        server.streams.insert(shared_from_this());
        // The header without a length: the stream's bytes follow until
        // either side closes.
        auto serializer = std::make_shared<http::response_serializer<http::string_body>>(*message);
        watchClose();
        stream.expires_after(server.limits.writeTime);
        writing = true;
        http::async_write_header(
            stream, *serializer,
            [self = shared_from_this(), message, serializer,
             first = std::make_shared<const std::string>(std::move(first))](beast::error_code ec, std::size_t) {
                self->writing = false;
                if (ec || self->closed) {
                    self->close();
                    return;
                }
                if (first->empty() && self->queue.empty())
                    self->stream.expires_never();
                if (!first->empty())
                    self->queue.push_front(first), self->queued += first->size();
                if (!self->queue.empty())
                    self->writeNext();
            });
    }

    // A viewer sends nothing after its request: whatever comes, or the
    // end, frees its place at once rather than at the next write.
    void watchClose()
    {
        stream.socket().async_read_some(asio::buffer(scrap),
                                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                            if (ec)
                                                self->close();
                                            else if (!self->closed)
                                                self->watchClose();
                                        });
    }

    void writeNext()
    {
        writing = true;
        stream.expires_after(server.limits.writeTime);
        asio::async_write(stream, asio::buffer(*queue.front()),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              self->writing = false;
                              if (self->closed)
                                  return;
                              self->queued -= self->queue.front()->size();
                              self->queue.pop_front();
                              if (ec) {
                                  self->close();
                              } else if (!self->queue.empty()) {
                                  self->writeNext();
                              } else {
                                  self->stream.expires_never();
                              }
                          });
    }

    void close()
    {
        if (closed)
            return;
        closed = true;
        if (viewer) {
            --server.viewerCount;
            server.streams.erase(shared_from_this());
        }
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        // The queue goes with the connection: a write may still hold its front.
        stream.close();
    }

    beast::tcp_stream stream;
    HttpServer::Impl &server;
    beast::flat_buffer buffer{8 * 1024};
    std::optional<http::request_parser<http::empty_body>> parser;
    std::deque<std::shared_ptr<const std::string>> queue;
    std::size_t queued = 0;
    std::array<char, 256> scrap{};
    std::string streamKey;
    bool writing = false;
    bool keepAlive = false;
    bool head = false;
    bool viewer = false;
    bool closed = false;
};

void HttpServer::Impl::accept()
{
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted)
            return;
        if (!ec) {
            if (connectionCount >= limits.connections) {
                beast::error_code ignored;
                socket.close(ignored);
            } else {
                std::make_shared<HttpSession>(std::move(socket), *this)->readRequest();
            }
        }
        accept();
    });
}

void HttpServer::Impl::keepAlive()
{
    keepAliveTimer.expires_after(limits.keepAlive);
    keepAliveTimer.async_wait([this](beast::error_code ec) {
        if (ec)
            return;
        const auto comment = std::make_shared<const std::string>(":\n\n");
        // A copy: a stream cut off while enqueued leaves the set.
        const auto all = streams;
        for (const auto &session : all)
            session->enqueue(comment);
        keepAlive();
    });
}

HttpServer::HttpServer(const Limits &limits, Handler handler) : d(std::make_shared<Impl>(limits, std::move(handler)))
{
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::listen(const std::string &address, unsigned short port, std::string *error)
{
    beast::error_code ec;
    const auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        *error = "not an IP address: " + address;
        return false;
    }
    const tcp::endpoint endpoint(ip, port);
    d->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        d->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        d->acceptor.bind(endpoint, ec);
    if (!ec)
        d->acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = ec.message();
        return false;
    }
    d->boundPort = d->acceptor.local_endpoint().port();
    d->accept();
    d->keepAlive();
    d->thread = std::thread([impl = d] { impl->io.run(); });
    return true;
}

unsigned short HttpServer::port() const
{
    return d->boundPort;
}

void HttpServer::stop()
{
    if (!d->thread.joinable())
        return;
    asio::post(d->io, [impl = d] {
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->keepAliveTimer.cancel();
        impl->io.stop();
    });
    d->thread.join();
    d->streams.clear();
}

void HttpServer::broadcast(std::string bytes, const std::string &key)
{
    asio::post(d->io, [impl = d, shared = std::make_shared<const std::string>(std::move(bytes)), key] {
        const auto all = impl->streams;
        for (const auto &session : all) {
            if (key.empty() || session->key().empty() || session->key() == key)
                session->enqueue(shared);
        }
    });
}

std::size_t HttpServer::viewers() const
{
    return d->viewerCount;
}

std::size_t HttpServer::connections() const
{
    return d->connectionCount;
}

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// The live page's HTTP side: Boost.Beast on a thread of its own, with one
// io_context for every connection, so that 2,000 event streams need no
// thread each. It parses nothing by hand and serves nothing of its own:
// every answer comes from the handler, which may answer later from another
// thread. Event streams stay open; broadcast() writes to every one.
class HttpServer {
public:
    struct Request {
        std::string method;
        std::string target;      // as sent: path and query
        std::string lastEventId; // the Last-Event-ID header, for a stream that reconnects
    };
    struct Response {
        int status = 200;
        std::string type = "text/plain; charset=utf-8";
        std::string body;
        std::string cache = "no-cache";
        // The body is the first bytes of an event stream, which stays open
        // and gets the broadcasts whose key is empty or `key`.
        bool stream = false;
        std::string key;
    };
    // Thread-safe; called once per request.
    using Reply = std::function<void(Response)>;
    // Called on the server's thread; must not block.
    using Handler = std::function<void(const Request &, Reply)>;

    struct Limits {
        std::size_t viewers = 2000;     // open event streams
        std::size_t connections = 2100; // every open connection
        std::chrono::milliseconds headerTime{10000};
        // A write that takes longer, or a stream whose unsent bytes exceed
        // viewerBytes, is a stalled viewer: cut off.
        std::chrono::milliseconds writeTime{10000};
        std::size_t viewerBytes = 512 * 1024;
        std::size_t kernelBytes = 64 * 1024; // the socket's send buffer
        // A comment line to every stream, so that proxies keep it and dead
        // peers are found.
        std::chrono::milliseconds keepAlive{15000};
    };

    HttpServer(const Limits &limits, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Listens on `address` ("127.0.0.1", "::") and `port` (0: any free one)
    // and starts the thread; false with `error` set when it cannot.
    bool listen(const std::string &address, unsigned short port, std::string *error);
    unsigned short port() const;
    void stop();

    // Thread-safe: `bytes` to every stream whose key is empty or `key`
    // (every stream when `key` is empty).
    void broadcast(std::string bytes, const std::string &key = std::string());
    // Open event streams and connections, as last counted on the server's thread.
    std::size_t viewers() const;
    std::size_t connections() const;

    // The server's state, in the .cpp; public for its connections there.
    struct Impl;

private:
    std::shared_ptr<Impl> d;
};

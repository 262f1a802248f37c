#include "bridge/http/http_server.h"

#include <pthread.h>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <deque>
#include <list>
#include <optional>
#include <thread>

#include "bridge/core/counters.h"
#include "bridge/core/networks.h"

namespace roderavo::tool::bridge {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// What every answer carries: nothing from elsewhere runs on the page, no type is
// guessed, and no API answer is kept by a cache.
void SecureHeaders(http::response<http::string_body>& res, const std::string& target) {
    res.set(http::field::server, "roderavo");
    res.set("Content-Security-Policy", "default-src 'self'");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("Referrer-Policy", "no-referrer");
    if (target.starts_with("/api") || target.starts_with("/metrics"))
        res.set(http::field::cache_control, "no-store");
}

std::string PeerText(const tcp::endpoint& endpoint) {
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace

// What the server's thread keeps: the listener, the connections, the streams.
class HttpServer::Impl {
  public:
    struct Connection {
        virtual ~Connection() = default;
        virtual void Close() = 0;
        virtual void Send(const std::shared_ptr<const std::string>& message) = 0;
        Clock::time_point lastHeard = Clock::now();
        bool streaming = false;
    };

    Impl(HttpServer& owner, Handler handler, std::string streamTarget, StreamStart start, Log log)
        : owner_(owner),
          handler_(std::move(handler)),
          streamTarget_(std::move(streamTarget)),
          start_(std::move(start)),
          log_(std::move(log)) {}

    bool Listen(const HttpSettings& settings, std::string* error);
    void Accept();
    void Tick() {
        ticker_.expires_after(period_);
        ticker_.async_wait([this](beast::error_code ec) {
            if (ec) return;
            tick_();
            Tick();
        });
    }
    void Admit(tcp::socket socket);
    void Forget(Connection* connection);
    // A line about a refused peer, at most ten in ten seconds: a scan cannot flood the
    // log; the rest are counted in one line when the next window opens.
    void Note(const std::string& text) {
        const auto now = Clock::now();
        if (now - window_ >= std::chrono::seconds(10)) {
            if (unsaid_ > 0)
                log_("http: " + std::to_string(unsaid_) +
                     " more lines about connections not logged");
            window_ = now;
            notes_ = 0;
            unsaid_ = 0;
        }
        if (notes_ < 10) {
            ++notes_;
            log_(text);
        } else {
            ++unsaid_;
        }
    }
    void Counted();  // the count of open connections, for the metrics
    void Broadcast(const std::shared_ptr<const std::string>& message) {
        const auto open = connections_;  // a stream that cannot keep up closes and forgets itself
        for (const auto& connection : open)
            if (connection->streaming) connection->Send(message);
    }
    void CloseAll() {
        beast::error_code ignored;
        acceptor_.close(ignored);
        ticker_.cancel();
        const auto open = connections_;  // each Close forgets itself
        for (const auto& connection : open) connection->Close();
    }

    HttpServer& owner_;
    Handler handler_;
    std::string streamTarget_;
    StreamStart start_;
    Log log_;
    net::io_context io_{1};
    tcp::acceptor acceptor_{io_};
    std::optional<net::ssl::context> tls_;
    net::steady_timer ticker_{io_};
    std::chrono::milliseconds period_{0};
    std::function<void()> tick_;
    std::vector<PeerNetwork> peers_;
    Clock::time_point window_{};
    int notes_ = 0;
    uint64_t unsaid_ = 0;
    // Every open connection, kept alive here until it closes (a stream between its
    // messages has no operation that would keep it).
    std::list<std::shared_ptr<Connection>> connections_;
    std::thread thread_;
};

namespace {

template <typename Stream>
class Session : public HttpServer::Impl::Connection,
                public std::enable_shared_from_this<Session<Stream>> {
  public:
    template <typename... Args>
    Session(HttpServer::Impl& server, std::string peer, Args&&... args)
        : server_(server), peer_(std::move(peer)), stream_(std::forward<Args>(args)...) {}

    void Start() {
        if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
            Read();
        } else {
            beast::get_lowest_layer(stream_).expires_after(HttpServer::kRequestDeadline);
            stream_.async_handshake(net::ssl::stream_base::server,
                                    [self = this->shared_from_this()](beast::error_code ec) {
                                        if (ec) return self->Close();
                                        self->Read();
                                    });
        }
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        beast::error_code ignored;
        beast::get_lowest_layer(stream_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(stream_).close();
        server_.Forget(this);
    }

    void Send(const std::shared_ptr<const std::string>& message) override {
        backlog_ += message->size();
        // A stream whose client does not read is dropped, never kept growing.
        if (backlog_ > HttpServer::kStreamBacklog) return Close();
        outbox_.push_back(message);
        if (outbox_.size() == 1) WriteNext();
    }

  private:
    void Read() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(HttpServer::kHeaderLimit));
        parser_->body_limit(HttpServer::kBodyLimit);
        // The first request of a connection, and each one begun, must come in time; a
        // connection kept open between requests is closed when idle.
        beast::get_lowest_layer(stream_).expires_after(requests_ == 0 ? HttpServer::kRequestDeadline
                                                                      : HttpServer::kIdle);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             self->OnRead(ec);
                         });
    }

    void OnRead(beast::error_code ec) {
        if (ec == http::error::header_limit) return Refuse(431, "the headers are over 8 kB");
        if (ec == http::error::body_limit) return Refuse(413, "the body is over 4 kB");
        if (ec) return Close();
        ++requests_;
        lastHeard = Clock::now();
        const auto& req = parser_->get();
        keepAlive_ = req.keep_alive();
        HttpRequest request;
        request.method = std::string(req.method_string());
        request.target = std::string(req.target());
        request.host = std::string(req[http::field::host]);
        request.origin = std::string(req[http::field::origin]);
        request.authorization = std::string(req[http::field::authorization]);
        request.body = req.body();
        request.peer = peer_;
        request.tls = !std::is_same_v<Stream, beast::tcp_stream>;
        target_ = request.target;
        if (request.method == "GET" && request.target == server_.streamTarget_) return OpenStream();
        auto self = this->shared_from_this();
        server_.handler_(request, [self, &io = server_.io_](HttpResponse response) {
            net::post(io, [self, response = std::move(response)]() mutable {
                self->Answer(std::move(response));
            });
        });
    }

    void Refuse(int status, const std::string& why) {
        keepAlive_ = false;
        Answer({status, "text/plain", why + "\n"});
    }

    void Answer(HttpResponse response) {
        if (closed_) return;
        auto res = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(response.status), 11);
        SecureHeaders(*res, target_);
        res->set(http::field::content_type, response.type);
        for (const auto& [name, value] : response.headers) res->set(name, value);
        res->body() = std::move(response.body);
        res->keep_alive(keepAlive_);
        res->prepare_payload();
        beast::get_lowest_layer(stream_).expires_after(HttpServer::kSendDeadline);
        http::async_write(
            stream_, *res,
            [self = this->shared_from_this(), res](beast::error_code ec, std::size_t) {
                if (ec || !self->keepAlive_) return self->Close();
                self->Read();
            });
    }

    void OpenStream() {
        auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, 11);
        res->set(http::field::content_type, "text/event-stream");
        res->set(http::field::cache_control, "no-store");
        res->set("X-Content-Type-Options", "nosniff");
        res->keep_alive(false);  // the stream ends with the connection
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*res);
        beast::get_lowest_layer(stream_).expires_after(HttpServer::kSendDeadline);
        http::async_write_header(
            stream_, *serializer,
            [self = this->shared_from_this(), res, serializer](beast::error_code ec, std::size_t) {
                if (ec) return self->Close();
                // Broadcasts come only once the head is out: two writes at once would
                // mix their bytes.
                self->streaming = true;
                self->Send(std::make_shared<const std::string>(self->server_.start_()));
                self->WatchEnd();
            });
    }

    // A stream's client sends nothing more: what it sends is dropped, its end closes it.
    void WatchEnd() {
        buffer_.consume(buffer_.size());
        // The read waits as long as the stream is open: a deadline set for a write
        // before it began would end the stream.
        beast::get_lowest_layer(stream_).expires_never();
        stream_.async_read_some(buffer_.prepare(512), [self = this->shared_from_this()](
                                                          beast::error_code ec, std::size_t) {
            if (ec) return self->Close();
            self->WatchEnd();
        });
    }

    void WriteNext() {
        if (closed_ || outbox_.empty()) return;
        beast::get_lowest_layer(stream_).expires_after(HttpServer::kSendDeadline);
        net::async_write(stream_, net::buffer(*outbox_.front()),
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) return self->Close();
                             self->backlog_ -= self->outbox_.front()->size();
                             self->outbox_.pop_front();
                             // A stream stays open however long nothing changes.
                             beast::get_lowest_layer(self->stream_).expires_never();
                             self->WriteNext();
                         });
    }

    HttpServer::Impl& server_;
    std::string peer_;
    Stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string target_;
    bool keepAlive_ = false;
    bool closed_ = false;
    uint64_t requests_ = 0;
    std::deque<std::shared_ptr<const std::string>> outbox_;
    std::size_t backlog_ = 0;
};

}  // namespace

bool HttpServer::Impl::Listen(const HttpSettings& settings, std::string* error) {
    beast::error_code ec;
    const auto address = net::ip::make_address(settings.address, ec);
    const tcp::endpoint endpoint{address, static_cast<unsigned short>(settings.port)};
    if (!ec) acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = "cannot serve the web face on " + settings.address + ":" +
                 std::to_string(settings.port) + ": " + ec.message();
        return false;
    }
    peers_ = settings.peers;
    if (settings.certFile.empty()) return true;
    tls_.emplace(net::ssl::context::tls_server);
    tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                      net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                      net::ssl::context::no_tlsv1_1);
    tls_->use_certificate_chain_file(settings.certFile, ec);
    if (!ec) tls_->use_private_key_file(settings.keyFile, net::ssl::context::pem, ec);
    if (ec)
        *error = "TLS: cannot use " + settings.certFile + " and " + settings.keyFile + ": " +
                 ec.message();
    return !ec;
}

void HttpServer::Impl::Accept() {
    acceptor_.async_accept(net::make_strand(io_), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec) Admit(std::move(socket));
        Accept();
    });
}

void HttpServer::Impl::Admit(tcp::socket socket) {
    beast::error_code ec;
    const auto remote = socket.remote_endpoint(ec);
    if (ec) return;
    const std::string peer = PeerText(remote);
    const bool allowed = peers_.empty() || (remote.address().is_v4() &&
                                            Admitted(peers_, remote.address().to_v4().to_uint()));
    if (!allowed) return Note("http: connection from " + peer + " refused: not in --http-allow");
    if (connections_.size() >= static_cast<std::size_t>(kMaxConnections)) {
        // Idle sockets must not lock the page out: the one idle longest makes room.
        const auto idlest = std::min_element(
            connections_.begin(), connections_.end(),
            [](const auto& a, const auto& b) { return a->lastHeard < b->lastHeard; });
        (*idlest)->Close();
    }
    std::shared_ptr<Connection> connection;
    if (tls_) {
        auto session = std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(
            *this, peer, std::move(socket), *tls_);
        connections_.push_back(session);
        session->Start();
    } else {
        auto session = std::make_shared<Session<beast::tcp_stream>>(*this, peer, std::move(socket));
        connections_.push_back(session);
        session->Start();
    }
    Counted();
}

void HttpServer::Impl::Counted() {
    owner_.connections_ = static_cast<int>(connections_.size());
    ProcessCounters().Connections(FaceId::kHttp, owner_.connections_);
}

void HttpServer::Impl::Forget(Connection* connection) {
    connections_.remove_if([connection](const auto& open) { return open.get() == connection; });
    Counted();
}

HttpServer::HttpServer(Handler handler, std::string streamTarget, StreamStart start, Log log)
    : impl_(std::make_unique<Impl>(*this, std::move(handler), std::move(streamTarget),
                                   std::move(start), std::move(log))) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(const HttpSettings& settings, std::string* error) {
    if (!impl_->Listen(settings, error)) return false;
    impl_->Accept();
    if (impl_->tick_) impl_->Tick();
    impl_->thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "rd-http");  // each thread by its job in ps -L
        impl_->io_.run();
    });
    return true;
}

void HttpServer::Stop() {
    if (!impl_->thread_.joinable()) return;
    net::post(impl_->io_, [this] {
        impl_->CloseAll();
        impl_->io_.stop();
    });
    impl_->thread_.join();
}

void HttpServer::Broadcast(std::string message) {
    auto shared = std::make_shared<const std::string>(std::move(message));
    net::post(impl_->io_, [this, shared] { impl_->Broadcast(shared); });
}

void HttpServer::Every(std::chrono::milliseconds period, std::function<void()> tick) {
    impl_->period_ = period;
    impl_->tick_ = std::move(tick);
}

void HttpServer::Post(std::function<void()> work) {
    net::post(impl_->io_, std::move(work));
}

}  // namespace roderavo::tool::bridge

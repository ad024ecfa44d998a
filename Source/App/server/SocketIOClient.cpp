#include "App/server/SocketIOClient.h"

#include "App/server/SocketIOPacket.h"

namespace kx {

namespace {

// The largest frame accepted; the project server is started with the same limit.
constexpr guint64 maximumFrameSize = 16 * 1024 * 1024;

using Packet = SocketIOPacket;

} // namespace

struct SocketIOClient::Life {
    SocketIOClient* client;
};

SocketIOClient::SocketIOClient(std::string serverURL, nlohmann::json auth)
    : serverURL_(std::move(serverURL))
    , auth_(std::move(auth))
    , life_(std::make_shared<Life>(Life{this}))
{
    // Only ever a local server: no proxy, whatever the desktop says.
    auto direct = GObjectRef<GProxyResolver>::adopt(g_simple_proxy_resolver_new(nullptr, nullptr));
    session_ = GObjectRef<SoupSession>::adopt(soup_session_new_with_options("proxy-resolver", direct.get(), nullptr));
}

SocketIOClient::~SocketIOClient()
{
    life_->client = nullptr;
    wanted_ = false;
    close({}, false);
}

void SocketIOClient::connect()
{
    wanted_ = true;
    if (connection_ || connecting_)
        return;
    if (retry_)
        retry_->cancel();

    GError* error = nullptr;
    GUri* base = g_uri_parse(serverURL_.c_str(), G_URI_FLAGS_NONE, &error);
    if (!base) {
        std::string reason = std::string("invalid server URL: ") + error->message;
        g_error_free(error);
        wanted_ = false;
        if (onDisconnect)
            onDisconnect(reason);
        return;
    }
    const char* scheme = g_strcmp0(g_uri_get_scheme(base), "https") == 0 ? "wss" : "ws";
    GUri* uri = g_uri_build(G_URI_FLAGS_ENCODED, scheme, nullptr, g_uri_get_host(base), g_uri_get_port(base),
                            "/socket.io/", "EIO=4&transport=websocket", nullptr);
    g_uri_unref(base);
    auto message = GObjectRef<SoupMessage>::adopt(soup_message_new_from_uri("GET", uri));
    g_uri_unref(uri);

    connecting_ = GObjectRef<GCancellable>::adopt(g_cancellable_new());
    soup_session_websocket_connect_async(session_.get(), message.get(), nullptr, nullptr, G_PRIORITY_DEFAULT,
                                         connecting_.get(), didConnect, new std::weak_ptr<Life>(life_));
}

void SocketIOClient::didConnect(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::weak_ptr<Life>> weak(static_cast<std::weak_ptr<Life>*>(data));
    GError* error = nullptr;
    auto connection = GObjectRef<SoupWebsocketConnection>::adopt(
        soup_session_websocket_connect_finish(SOUP_SESSION(source), result, &error));
    auto life = weak->lock();
    SocketIOClient* self = life ? life->client : nullptr;
    if (!self || !self->connecting_ || g_cancellable_is_cancelled(self->connecting_.get())) {
        if (error)
            g_error_free(error);
        return;
    }
    self->connecting_.reset();
    if (!connection) {
        std::string reason = std::string("cannot connect: ") + error->message;
        g_error_free(error);
        self->fail(reason);
        return;
    }
    soup_websocket_connection_set_max_incoming_payload_size(connection.get(), maximumFrameSize);
    self->messageSignal_ = SignalConnection::connect<void(SoupWebsocketConnection*, gint, GBytes*)>(
        connection.get(), "message",
        [self](SoupWebsocketConnection*, gint type, GBytes* message) { self->didReceive(type, message); });
    self->closedSignal_ = SignalConnection::connect<void(SoupWebsocketConnection*)>(
        connection.get(), "closed", [self](SoupWebsocketConnection*) { self->didClose(); });
    self->connection_ = std::move(connection);
}

void SocketIOClient::didReceive(gint type, GBytes* message)
{
    if (type != SOUP_WEBSOCKET_DATA_TEXT) {
        fail("malformed frame: unexpected binary data");
        return;
    }
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(message, &size));
    receive(std::string_view(bytes ? bytes : "", size));
}

void SocketIOClient::didClose()
{
    std::string reason = "connection closed";
    if (const char* text = soup_websocket_connection_get_close_data(connection_.get()); text && *text)
        reason += std::string(": ") + text;
    fail(reason);
}

void SocketIOClient::receive(std::string_view frame)
{
    auto packet = Packet::parseEngine(frame);
    if (!packet) {
        fail("malformed frame: not an Engine.IO packet");
        return;
    }
    switch (packet->type) {
    case Packet::EngineType::open: {
        auto handshake = nlohmann::json::parse(packet->data, nullptr, false);
        if (open_ || !handshake.is_object() || !handshake.contains("pingInterval") ||
            !handshake["pingInterval"].is_number_unsigned() || !handshake.contains("pingTimeout") ||
            !handshake["pingTimeout"].is_number_unsigned()) {
            fail("malformed frame: bad Engine.IO handshake");
            return;
        }
        open_ = true;
        heartbeatTimeout_ = std::chrono::milliseconds(handshake["pingInterval"].get<std::uint64_t>() +
                                                      handshake["pingTimeout"].get<std::uint64_t>());
        resetHeartbeat();
        send("40" + auth_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return;
    }
    case Packet::EngineType::ping:
        resetHeartbeat();
        send("3" + packet->data);
        return;
    case Packet::EngineType::close:
        fail("server closed the connection");
        return;
    case Packet::EngineType::message:
        if (!open_) {
            fail("malformed frame: message before the handshake");
            return;
        }
        receiveSocketPacket(packet->data);
        return;
    case Packet::EngineType::pong:
    case Packet::EngineType::upgrade:
    case Packet::EngineType::noop:
        return;
    }
}

void SocketIOClient::receiveSocketPacket(std::string_view data)
{
    auto packet = Packet::parse(data);
    if (!packet) {
        fail("malformed frame: not a Socket.IO packet");
        return;
    }
    if (packet->nsp != "/")
        return;
    auto life = life_;
    switch (packet->type) {
    case Packet::Type::connect:
        if (connected_)
            return;
        connected_ = true;
        if (onConnect)
            onConnect();
        return;
    case Packet::Type::connectError: {
        std::string message = "connection refused";
        if (packet->payload.is_object() && packet->payload.contains("message") && packet->payload["message"].is_string())
            message = packet->payload["message"].get<std::string>();
        wanted_ = false;
        close({}, false);
        if (life->client && onConnectError)
            onConnectError(message);
        return;
    }
    case Packet::Type::disconnect:
        wanted_ = false;
        close("server disconnected", false);
        return;
    case Packet::Type::event: {
        if (!connected_)
            return;
        if (packet->ackId) {
            Packet ack;
            ack.type = Packet::Type::ack;
            ack.ackId = packet->ackId;
            ack.payload = nlohmann::json::array();
            send(ack.encode());
        }
        auto [name, arguments] = *packet->eventNameAndArguments();
        if (onEvent)
            onEvent(name, arguments);
        return;
    }
    case Packet::Type::ack:
        return;
    }
}

void SocketIOClient::send(const std::string& frame)
{
    if (connection_ && soup_websocket_connection_get_state(connection_.get()) == SOUP_WEBSOCKET_STATE_OPEN)
        soup_websocket_connection_send_text(connection_.get(), frame.c_str());
}

bool SocketIOClient::isConnected() const
{
    return connected_ && connection_ && soup_websocket_connection_get_state(connection_.get()) == SOUP_WEBSOCKET_STATE_OPEN;
}

bool SocketIOClient::emit(const std::string& name, const nlohmann::json& arguments)
{
    if (!isConnected())
        return false;
    send(Packet::event(name, arguments));
    return true;
}

void SocketIOClient::resetHeartbeat()
{
    if (heartbeat_)
        heartbeat_->cancel();
    std::weak_ptr<Life> weak = life_;
    heartbeat_ = MainQueue::after(heartbeatTimeout_, [weak] {
        if (auto life = weak.lock(); life && life->client)
            life->client->fail("ping timeout");
    });
}

void SocketIOClient::disconnect()
{
    wanted_ = false;
    if (connected_)
        send("41");
    close({}, false);
}

void SocketIOClient::close(const std::string& reason, bool retry)
{
    if (connecting_) {
        g_cancellable_cancel(connecting_.get());
        connecting_.reset();
    }
    if (heartbeat_)
        heartbeat_->cancel();
    if (retry_)
        retry_->cancel();
    messageSignal_.disconnect();
    closedSignal_.disconnect();
    if (auto connection = std::move(connection_)) {
        if (soup_websocket_connection_get_state(connection.get()) == SOUP_WEBSOCKET_STATE_OPEN)
            soup_websocket_connection_close(connection.get(), SOUP_WEBSOCKET_CLOSE_NORMAL, nullptr);
    }
    open_ = false;
    connected_ = false;

    if (retry && wanted_ && reconnects) {
        std::weak_ptr<Life> weak = life_;
        retry_ = MainQueue::after(reconnectDelay, [weak] {
            if (auto life = weak.lock(); life && life->client && life->client->wanted_)
                life->client->connect();
        });
    }
    if (!reason.empty() && onDisconnect)
        onDisconnect(reason);
}

} // namespace kx

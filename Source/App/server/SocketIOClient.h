// A socket.io client over the libsoup WebSocket: the Engine.IO 4 handshake and heartbeat, the
// Socket.IO 5 connect with an auth object to the default namespace, and events with JSON
// arguments. Everything runs on the main thread. A frame that breaks the protocol closes the
// connection (reported through `onDisconnect`), never more.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <libsoup/soup.h>

#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/SignalConnection.h"

namespace kx {

class SocketIOClient {
public:
    // `serverURL` is the server's HTTP address ("http://127.0.0.1:1234/"); `auth` is sent with
    // the namespace connect.
    SocketIOClient(std::string serverURL, nlohmann::json auth);
    ~SocketIOClient();
    SocketIOClient(const SocketIOClient&) = delete;
    SocketIOClient& operator=(const SocketIOClient&) = delete;

    // The namespace accepted the connection.
    std::function<void()> onConnect;
    // A server event and its arguments (a JSON array).
    std::function<void(const std::string& name, const nlohmann::json& arguments)> onEvent;
    // The connection closed, or an attempt failed, without `disconnect()`; a new attempt
    // follows after `reconnectDelay` unless the server itself said goodbye.
    std::function<void(const std::string& reason)> onDisconnect;
    // The server refused the namespace connect (a wrong token); no new attempt follows.
    std::function<void(const std::string& message)> onConnectError;

    std::chrono::milliseconds reconnectDelay{1000};
    bool reconnects = true;

    void connect();
    void disconnect();
    // False as soon as the transport starts closing: nothing sent then would arrive.
    bool isConnected() const;
    // Sends an event with the elements of `arguments` (an array) as its arguments; false when
    // not connected.
    bool emit(const std::string& name, const nlohmann::json& arguments = nlohmann::json::array());

    struct Life; // lets callbacks find out whether the client still exists

private:
    static void didConnect(GObject* source, GAsyncResult* result, gpointer data);
    void didReceive(gint type, GBytes* message);
    void didClose();

    void receive(std::string_view frame);
    void receiveSocketPacket(std::string_view data);
    void send(const std::string& frame);
    void resetHeartbeat();
    // Ends the transport; `reason` (when not empty) goes to onDisconnect, and a new attempt is
    // scheduled when `retry` holds and nobody asked to disconnect.
    void close(const std::string& reason, bool retry);
    void fail(const std::string& reason) { close(reason, true); }

    std::string serverURL_;
    nlohmann::json auth_;
    GObjectRef<SoupSession> session_;
    GObjectRef<SoupWebsocketConnection> connection_;
    SignalConnection messageSignal_;
    SignalConnection closedSignal_;
    GObjectRef<GCancellable> connecting_;
    bool open_ = false;      // Engine.IO handshake done
    bool connected_ = false; // Socket.IO namespace connected
    bool wanted_ = false;    // connect() called and disconnect() not yet
    std::chrono::milliseconds heartbeatTimeout_{0};
    std::shared_ptr<MainQueue::Timer> heartbeat_;
    std::shared_ptr<MainQueue::Timer> retry_;
    std::shared_ptr<Life> life_;
};

} // namespace kx

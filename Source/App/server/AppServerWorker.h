// One thread of the static local web server: a main context and a SoupServer of its own (now
// and then a fresh one, see Server in the .cpp), which take the connections the server's
// acceptor hands over and answer their requests. Reading files and writing responses happen
// here, never on the application's main loop, so neither a large file nor a slow client holds
// up the user interface.
//
// A connection stays open for its client's next request, and requests sent ahead on it are
// answered in turn, but no client holds one for ever: a connection that waits `idle` for a whole
// request (the next one, or one arriving a byte at a time) is closed, and so is one whose client
// takes nothing of its response for `stall`. While the server's connections are over its limit,
// each answer ends its connection, as "Connection: close" does, so that clients that keep asking
// give their places up in turn, and each new connection makes room among its worker's by what
// their clients do (AppServerRoom); past the hard cap, one goes at once, so that the acceptor
// never leaves new connections to the kernel's backlog while some are only held open. When every
// place is taken by an answer under way at a normal pace, none of which is cut, a newcomer still
// gets a short answer at once, or a 503 to ask again for a long one.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include <gio/gio.h>

#include "App/server/AppServerRoom.h"
#include "Platform/Foundation/GObjectRef.h"
#include "Platform/Foundation/SignalConnection.h"
#include "Platform/Foundation/SourceHandle.h"

typedef struct _SoupServerMessage SoupServerMessage;

namespace kx {

class AppServerWorker {
public:
    // How many connections the server keeps (`limit`), how many at most while some may go
    // (`hardCap`), and how many it serves whole (`served`): a newcomer past that, with none that
    // may go, gets a short answer at once or a 503, not left to wait behind answers that may take
    // minutes (nor given a place cut from one of them).
    struct Caps {
        int limit;
        int hardCap;
        int served;
    };
    // Returns once the thread is ready to take connections. `open` counts the connections of
    // all the server's `workers`. Each worker makes room among its own connections, as far as
    // they are more than its share of the `caps`: the acceptor hands them out in turn, and a
    // worker left with only new ones would otherwise close each as soon as it may, while another
    // keeps its old ones.
    AppServerWorker(std::filesystem::path folder, std::chrono::seconds idle, std::chrono::seconds stall, Caps caps,
                    int workers, std::atomic<int>& open);
    // Closes the worker's connections and joins its thread.
    ~AppServerWorker();
    AppServerWorker(const AppServerWorker&) = delete;
    AppServerWorker& operator=(const AppServerWorker&) = delete;

    // Any thread: the worker takes over an accepted connection.
    void adopt(GObjectRef<GSocket> socket);

private:
    struct Server;
    struct Connection {
        GObjectRef<GSocket> socket;
        // Its key: libsoup gives each request of the connection this very object, which no other
        // connection has while this one is known. (An address's text would be taken again by a
        // client that reconnects from the same port.)
        GObjectRef<GSocketAddress> remote;
        Server* server; // the one that serves it
        // Its request's, from the request's first byte to its answer's end: closing the connection
        // through it lets libsoup let go of all it has for it.
        GObjectRef<SoupServerMessage> message;
        SignalConnection disconnection; // libsoup's word that it closed it, while `message` is there
        // Taken past the most the server serves, while none could go for it: it gets one answer,
        // and only one its send buffer takes at once (`shortAnswer`).
        bool shortOnly = false;
    };
    // A socket on its way out: shut down, closed once libsoup has seen that (or, refused, once its
    // client has read why); counted among the server's connections until then.
    struct Leaving {
        GObjectRef<GSocket> socket;
        GObjectRef<GIOStream> stream; // taken from libsoup, where it had the connection
        AppServerRoom::Time since;
    };
    using Connections = std::map<GSocketAddress*, Connection>;

    void run();
    std::unique_ptr<Server> makeServer();
    void serve(GSocket* socket); // on the worker's thread
    void requestStarted(SoupServerMessage* message);
    void requestRead(SoupServerMessage* message);
    void requestEnded(SoupServerMessage* message);
    // The connection may be closed by libsoup: forgotten on the next turn of the loop if it is.
    void forgetOnceClosed(const GObjectRef<GSocketAddress>& remote);
    void forget(Connections::iterator connection);
    AppServerRoom::Seen look(AppServerRoom::Key key);
    void makeRoom(GSocketAddress* newcomer);
    void close(Connections::iterator connection);
    void closeSoon(GObjectRef<GSocket> socket);
    // Answers `response` (a whole HTTP response that ends the connection) on a connection that
    // gets nothing else: one that no server can take now, or one libsoup gave back (`stream`).
    void refuse(GObjectRef<GSocket> socket, std::string_view response, GObjectRef<GIOStream> stream = {});
    void rejectEarly(SoupServerMessage* message);
    // The longest body the request may be answered with now.
    std::uint64_t longestAnswer(SoupServerMessage* message) const;
    // Closes what leaves for good, once its time has come (all of it with `all`).
    void closeLeaving(bool all);
    void retire();
    void sweepSoon();
    bool closeIdleConnections();

    std::filesystem::path folder_;
    std::chrono::seconds idle_;
    std::chrono::seconds stall_;
    Caps caps_;
    // This worker's part of them.
    std::size_t limitShare_;
    std::size_t hardCapShare_;
    std::size_t servedShare_;
    // Whether the server is past `total` and this worker past its `share` of it.
    bool isPast(int total, std::size_t share) const;
    std::atomic<int>& open_;
    GMainContext* context_;
    GMainLoop* loop_;
    // The worker's thread only, from here on.
    std::unique_ptr<Server> server_;               // takes the new connections
    std::vector<std::unique_ptr<Server>> retired_; // oldest first; keep theirs until they close
    Connections connections_;
    AppServerRoom room_; // what their clients do
    std::vector<GObjectRef<GSocketAddress>> mayBeClosed_; // to forget on the next turn if libsoup closed them
    std::vector<Leaving> closing_;                        // shut down, for libsoup to see before they close
    std::vector<Leaving> refused_;                        // answered that they get nothing, closing when read
    bool cannotMakeServer_ = false;                 // said once until one is made again
    int accepted_ = 0;                              // since the last sweep
    int letGo_ = 0;                                 // since the heap was last trimmed
    SourceHandle forget_;
    SourceHandle closer_;
    SourceHandle sweep_;
    SourceHandle recheck_; // makes room once a new connection's grace has passed
    std::thread thread_;
};

} // namespace kx

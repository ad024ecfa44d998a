// Which of a worker's connections gives way when the static server is past its limit. It knows
// each connection by what its client has done (opened and not asked yet, asked and being
// answered, answered and kept for its next request) and ages it from its accept, so that asking
// again renews nothing: a client that pipelines small requests gets no shelter from it.
//
// Room is made from the connection that does least for its client: one whose client has gone,
// then one kept between two answers that its client has sent nothing on for `awhile`, then one
// whose client has taken nothing of its answer for `takingWindow` (not one that the server itself
// is slow to feed), then one that has not asked for `askingGrace` since its accept; the oldest
// first within each. An answer that its client is taking is never cut to make room, nor a
// connection its client is about to ask on (a client that sends its request right after its
// connect may be a little behind the accept). Past the hard cap, where the server must take no
// more, the newest connection that has not asked goes (after its grace too); when every one has
// asked, the oldest kept between two answers, and then the answer that does least per place it
// holds: one whose client has taken less than `normalPace` a second of it (judged once it has
// gone on for `takingWindow`), one with requests sent ahead first, the slowest first. An answer taken
// at a normal pace is never cut, nor the newcomer the room is made for: when nothing can go, the
// connections stay past the hard cap for now (see AppServerWorker).
// Times are monotonic, from any origin; no socket is touched here (see `Look`).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace kx {

class AppServerRoom {
public:
    using Key = const void*;
    using Time = std::chrono::microseconds;

    static constexpr std::chrono::seconds awhile{1};
    static constexpr std::chrono::milliseconds askingGrace{100};
    // A client frees its receive window, and so acknowledges what it was sent, in steps: one that
    // reads 25 KB/s over the loopback takes in some 128 KB every 5 s.
    static constexpr std::chrono::seconds takingWindow{8};
    // Bytes a second below which a client that has held its connection for `takingWindow` takes
    // its answers too slowly to keep its place past the hard cap: a media element, a fetch and a
    // reader at 25 KB/s take far more; a program that holds places reading a byte now and then,
    // far less.
    static constexpr std::uint64_t normalPace = 16 * 1024;

    // What a look at a connection's socket shows of its client.
    struct Seen {
        bool gone = false;       // reset by it, or closed by the server: nothing more comes or goes
        bool ended = false;      // it has ended its side: it asks no more, but may still read
        bool sent = false;       // it has sent bytes that are not read yet
        bool untaken = false;    // it has not acknowledged all that was written to it
        std::uint64_t taken = 0; // the bytes it has acknowledged, all told
    };
    using Look = std::function<Seen(Key)>;

    void opened(Key key, Time now);
    // The first bytes of a request after the first one.
    void requestStarted(Key key);
    // `taken`: what its client has acknowledged so far, all told.
    void requestRead(Key key, Time now, std::uint64_t taken = 0);
    void requestEnded(Key key, Time now);
    void forget(Key key);

    // Since when it waits for a whole request (its accept, or its last answer's end); nullopt while
    // it is answered or unknown.
    std::optional<Time> waitingSince(Key key) const;
    // Whether a whole request has come on it.
    bool hasAsked(Key key) const;

    // The connection other than `newcomer` to close to make room.
    std::optional<Key> choose(Key newcomer, Time now, const Look& look);
    // Past the hard cap: the connection other than `newcomer` to close at once, if none is within
    // its grace; none when none may go.
    std::optional<Key> chooseBeyondCap(Key newcomer, Time now, const Look& look);
    // How long until the first connection still within its `askingGrace` passes it, in whole
    // milliseconds and one at least; nullopt when none is.
    std::optional<std::chrono::milliseconds> recheckAfter(Time now) const;

private:
    enum class State {
        opened,    // no whole request read yet
        answering, // a request read, its answer not ended
        waiting,   // answered and kept for the next request, none of which has come
        asking     // the next request has begun to come
    };
    struct Connection {
        State state;
        Time accepted;
        Time since;             // of its state
        std::uint64_t taken;    // acknowledged by its client at the last look that saw it grow
        Time takenAt;           // when that was, or its request's read if later
        std::uint64_t answerBase; // acknowledged when its request was read
    };
    // What a connection does for its client, least first.
    enum class Rank { gone, idle, stalled, unasked, taking };
    // Looks at it, and notes what its client has taken since the last look.
    static Seen see(Key key, Connection& connection, Time now, const Look& look);
    static Rank rank(const Connection& connection, Time now, const Seen& seen);

    std::map<Key, Connection> connections_;
};

} // namespace kx

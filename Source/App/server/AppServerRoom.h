// Which of a worker's connections gives way when the static server is past its limit. It knows
// each connection by what its client has done (opened and not asked yet, asked and being
// answered, answered and kept for its next request) and ages it from its accept, so that asking
// again renews nothing: a client that pipelines small requests gets no shelter from it.
//
// Room is made from the connection that does least for its client: one whose client has gone,
// then one kept between two answers that its client has sent nothing on for `awhile`, then one
// whose client leaves its answer untaken for `awhile` (not one that the server itself is slow to
// feed), then one that has not asked for `askingGrace` since its accept; the oldest first within
// each. An answer that its client is taking is never cut to make room, nor a connection its
// client is about to ask on (a client that sends its request right after its connect may be a
// little behind the accept). Past the hard cap, the newest connection that has not asked goes
// (after its grace too); when every one has asked, the oldest of them (open for `awhile` at
// least) ends after its answer, so that clients that keep asking cannot keep a new asking one out.
// Times are monotonic, from any origin; no socket is touched here (see `Look`).
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>

namespace kx {

class AppServerRoom {
public:
    using Key = const void*;
    using Time = std::chrono::microseconds;

    static constexpr std::chrono::seconds awhile{1};
    static constexpr std::chrono::milliseconds askingGrace{5};

    // What a look at a connection's socket shows of its client.
    struct Seen {
        bool gone = false;    // closed or reset by it, or ended by the server: nothing more comes
        bool sent = false;    // it has sent bytes that are not read yet
        bool untaken = false; // it has not taken all that was written to it
    };
    using Look = std::function<Seen(Key)>;

    struct Choice {
        Key key;
        bool kept; // libsoup keeps what it has for it once it is closed (see AppServerWorker)
    };

    void opened(Key key, Time now);
    // The first bytes of a request after the first one.
    void requestStarted(Key key);
    void requestRead(Key key, Time now);
    void answerProgressed(Key key, Time now);
    void requestEnded(Key key, Time now);
    void forget(Key key);

    bool hasAsked(Key key) const;
    bool endsAfterAnswer(Key key) const;
    bool kept(Key key) const;
    // Since when it waits for a whole request (its accept, or its last answer's end); nullopt while
    // it is answered or unknown.
    std::optional<Time> waitingSince(Key key) const;

    // The connection other than `newcomer` to close to make room.
    std::optional<Choice> choose(Key newcomer, Time now, const Look& look) const;
    // When the first connection still within its `askingGrace` passes it.
    std::optional<Time> graceEnds(Time now) const;
    // The newest connection whose client has sent nothing at all in `askingGrace` since its accept.
    std::optional<Key> newestUnasked(Time now, const Look& look) const;
    // The oldest connection other than `newcomer` whose client asks and takes its answers, now
    // told to end after its answer; one is told so once.
    std::optional<Key> endOldestAnswer(Key newcomer, Time now, const Look& look);

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
        Time since;      // of its state
        Time progressed; // its answer last moved
        bool lastAnswer = false;
    };
    // What a connection does for its client, least first.
    enum class Rank { gone, idle, stalled, unasked, taking };
    static Rank rank(const Connection& connection, Time now, const Seen& seen);

    std::map<Key, Connection> connections_;
};

} // namespace kx

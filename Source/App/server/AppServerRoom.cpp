#include "App/server/AppServerRoom.h"

#include <algorithm>

namespace kx {

void AppServerRoom::opened(Key key, Time now)
{
    connections_[key] = Connection{State::opened, now, now, 0, now, 0};
}

void AppServerRoom::requestStarted(Key key)
{
    // libsoup announces the first request at the accept, before any byte of it.
    auto found = connections_.find(key);
    if (found != connections_.end() && found->second.state == State::waiting)
        found->second.state = State::asking;
}

void AppServerRoom::requestRead(Key key, Time now, std::uint64_t taken)
{
    auto found = connections_.find(key);
    if (found != connections_.end()) {
        found->second.state = State::answering;
        found->second.since = now;
        found->second.takenAt = now;
        found->second.answerBase = taken;
    }
}

void AppServerRoom::requestEnded(Key key, Time now)
{
    auto found = connections_.find(key);
    if (found != connections_.end()) {
        found->second.state = State::waiting;
        found->second.since = now;
    }
}

void AppServerRoom::forget(Key key)
{
    connections_.erase(key);
}

bool AppServerRoom::hasAsked(Key key) const
{
    auto found = connections_.find(key);
    return found != connections_.end() && found->second.state != State::opened;
}

std::optional<AppServerRoom::Time> AppServerRoom::waitingSince(Key key) const
{
    auto found = connections_.find(key);
    if (found == connections_.end() || found->second.state == State::answering)
        return std::nullopt;
    return found->second.since;
}

AppServerRoom::Seen AppServerRoom::see(Key key, Connection& connection, Time now, const Look& look)
{
    const Seen seen = look(key);
    if (seen.taken != connection.taken) {
        connection.taken = seen.taken;
        connection.takenAt = now;
    }
    return seen;
}

AppServerRoom::Rank AppServerRoom::rank(const Connection& connection, Time now, const Seen& seen)
{
    if (seen.gone)
        return Rank::gone;
    if (connection.state == State::answering)
        // One that has ended its side after its request is still read to.
        return seen.untaken && now - connection.takenAt >= takingWindow ? Rank::stalled : Rank::taking;
    if (seen.sent)
        return Rank::taking; // its request is in: about to be answered
    if (seen.ended)
        return Rank::gone;
    if (connection.state == State::opened)
        return now - connection.accepted >= askingGrace ? Rank::unasked : Rank::taking;
    // Answered a moment ago: its client is most likely reading that, to ask again at once.
    return now - connection.since >= awhile ? Rank::idle : Rank::taking;
}

std::optional<AppServerRoom::Key> AppServerRoom::choose(Key newcomer, Time now, const Look& look)
{
    auto chosen = connections_.end();
    Rank chosenRank = Rank::taking;
    for (auto entry = connections_.begin(); entry != connections_.end() && chosenRank != Rank::gone; ++entry) {
        if (entry->first == newcomer)
            continue;
        const Rank found = rank(entry->second, now, see(entry->first, entry->second, now, look));
        if (found < chosenRank || (found == chosenRank && found != Rank::taking &&
                                   entry->second.accepted < chosen->second.accepted)) {
            chosen = entry;
            chosenRank = found;
        }
    }
    if (chosen == connections_.end())
        return std::nullopt;
    return chosen->first;
}

std::optional<AppServerRoom::Key> AppServerRoom::chooseBeyondCap(Key newcomer, Time now, const Look& look)
{
    const auto none = connections_.end();
    auto unasked = none, kept = none, slow = none;
    // Of `slow`: whether requests wait behind its answer, and what its client takes a second.
    bool slowQueued = false;
    double slowPace = 0;
    bool withinGrace = false;
    for (auto entry = connections_.begin(); entry != none; ++entry) {
        if (entry->first == newcomer)
            continue;
        const Connection& connection = entry->second;
        const Seen seen = see(entry->first, entry->second, now, look);
        const Rank found = rank(connection, now, seen);
        if (found == Rank::gone)
            return entry->first;
        const auto newer = [&](auto than) { return than == none || connection.accepted > than->second.accepted; };
        const auto older = [&](auto than) { return than == none || connection.accepted < than->second.accepted; };
        if (found == Rank::unasked && newer(unasked))
            unasked = entry;
        withinGrace |= connection.state == State::opened && found == Rank::taking && !seen.sent;
        if (connection.state == State::waiting && !seen.sent && older(kept))
            kept = entry;
        if (connection.state != State::answering || now - connection.since < takingWindow)
            continue;
        // A stalled answer takes nothing at all.
        const double pace = found == Rank::stalled || seen.taken < connection.answerBase
            ? 0
            : double(seen.taken - connection.answerBase) / std::chrono::duration<double>(now - connection.since).count();
        if (pace >= double(normalPace))
            continue;
        const bool better = slow == none || (seen.sent && !slowQueued)
            || (seen.sent == slowQueued && (pace < slowPace || (pace == slowPace && older(slow))));
        if (better) {
            slow = entry;
            slowQueued = seen.sent;
            slowPace = pace;
        }
    }
    if (unasked != none)
        return unasked->first;
    // Those still within their grace go once it has passed, if they do not ask.
    if (withinGrace)
        return std::nullopt;
    for (auto chosen : {kept, slow})
        if (chosen != none)
            return chosen->first;
    return std::nullopt;
}

std::optional<std::chrono::milliseconds> AppServerRoom::recheckAfter(Time now) const
{
    std::optional<Time> first;
    for (const auto& [key, connection] : connections_) {
        const Time ends = connection.accepted + askingGrace;
        if (connection.state == State::opened && ends > now && (!first || ends < *first))
            first = ends;
    }
    if (!first)
        return std::nullopt;
    // Rounded up, so that the grace has passed when the timer fires.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*first - now);
    return std::clamp(left, std::chrono::milliseconds(1), std::chrono::ceil<std::chrono::milliseconds>(askingGrace));
}

} // namespace kx

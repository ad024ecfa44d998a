#include "App/server/AppServerRoom.h"

namespace kx {

void AppServerRoom::opened(Key key, Time now)
{
    connections_[key] = Connection{State::opened, now, now, now};
}

void AppServerRoom::requestStarted(Key key)
{
    // libsoup announces the first request at the accept, before any byte of it.
    auto found = connections_.find(key);
    if (found != connections_.end() && found->second.state == State::waiting)
        found->second.state = State::asking;
}

void AppServerRoom::requestRead(Key key, Time now)
{
    auto found = connections_.find(key);
    if (found != connections_.end()) {
        found->second.state = State::answering;
        found->second.since = now;
        found->second.progressed = now;
    }
}

void AppServerRoom::answerProgressed(Key key, Time now)
{
    auto found = connections_.find(key);
    if (found != connections_.end())
        found->second.progressed = now;
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

bool AppServerRoom::endsAfterAnswer(Key key) const
{
    auto found = connections_.find(key);
    return found != connections_.end() && found->second.lastAnswer;
}

bool AppServerRoom::kept(Key key) const
{
    auto found = connections_.find(key);
    return found != connections_.end() && found->second.state == State::waiting;
}

std::optional<AppServerRoom::Time> AppServerRoom::waitingSince(Key key) const
{
    auto found = connections_.find(key);
    if (found == connections_.end() || found->second.state == State::answering)
        return std::nullopt;
    return found->second.since;
}

AppServerRoom::Rank AppServerRoom::rank(const Connection& connection, Time now, const Seen& seen)
{
    if (seen.gone)
        return Rank::gone;
    if (connection.state == State::answering)
        return seen.untaken && now - connection.progressed >= awhile ? Rank::stalled : Rank::taking;
    if (seen.sent)
        return Rank::taking; // its request is in: about to be answered
    if (connection.state == State::opened)
        return now - connection.accepted >= askingGrace ? Rank::unasked : Rank::taking;
    // Answered a moment ago: its client is most likely reading that, to ask again at once.
    return now - connection.since >= awhile ? Rank::idle : Rank::taking;
}

std::optional<AppServerRoom::Choice> AppServerRoom::choose(Key newcomer, Time now, const Look& look) const
{
    auto chosen = connections_.end();
    Rank chosenRank = Rank::taking;
    for (auto entry = connections_.begin(); entry != connections_.end() && chosenRank != Rank::gone; ++entry) {
        if (entry->first == newcomer)
            continue;
        const Rank found = rank(entry->second, now, look(entry->first));
        if (found < chosenRank || (found == chosenRank && found != Rank::taking &&
                                   entry->second.accepted < chosen->second.accepted)) {
            chosen = entry;
            chosenRank = found;
        }
    }
    if (chosen == connections_.end())
        return std::nullopt;
    return Choice{chosen->first, chosen->second.state == State::waiting};
}

std::optional<AppServerRoom::Time> AppServerRoom::graceEnds(Time now) const
{
    std::optional<Time> first;
    for (const auto& [key, connection] : connections_) {
        const Time ends = connection.accepted + askingGrace;
        if (connection.state == State::opened && ends > now && (!first || ends < *first))
            first = ends;
    }
    return first;
}

std::optional<AppServerRoom::Key> AppServerRoom::newestUnasked(Time now, const Look& look) const
{
    auto newest = connections_.end();
    for (auto entry = connections_.begin(); entry != connections_.end(); ++entry) {
        const Connection& connection = entry->second;
        if (connection.state == State::opened && now - connection.accepted >= askingGrace &&
            (newest == connections_.end() || connection.accepted > newest->second.accepted)) {
            if (const Seen seen = look(entry->first); !seen.gone && !seen.sent)
                newest = entry;
        }
    }
    if (newest == connections_.end())
        return std::nullopt;
    return newest->first;
}

std::optional<AppServerRoom::Key> AppServerRoom::endOldestAnswer(Key newcomer, Time now, const Look& look)
{
    auto oldest = connections_.end();
    for (auto entry = connections_.begin(); entry != connections_.end(); ++entry) {
        const Connection& connection = entry->second;
        if (entry->first == newcomer || connection.lastAnswer || now - connection.accepted < awhile ||
            (oldest != connections_.end() && connection.accepted >= oldest->second.accepted))
            continue;
        if (connection.state != State::opened && rank(connection, now, look(entry->first)) == Rank::taking)
            oldest = entry;
    }
    if (oldest == connections_.end())
        return std::nullopt;
    oldest->second.lastAnswer = true;
    return oldest->first;
}

} // namespace kx

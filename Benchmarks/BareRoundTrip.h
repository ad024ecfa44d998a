// The floor of a service round trip: WebKitGTK alone, without our codec, router or channel. A
// web view of its own loads the same echo page as the service benchmark; each trip runs the
// posting statement our channel would send, the page relays it back exactly as it answers our
// channel (a plain object to the "swiftWindowParent" handler), and the message is taken
// through jsc_value_to_json, as our channel takes it. The statement is made before the clock
// starts: making it is our cost, not WebKit's. Like ours, each statement carries an id of its
// own: JavaScriptCore caches the code of a statement it has run before, and a floor that
// repeated one statement would skip the parse that every real message costs.
#pragma once

#include <cstddef>
#include <string>

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "Platform/Foundation/SignalConnection.h"

class BareRoundTrip {
public:
    BareRoundTrip() = default;
    ~BareRoundTrip();
    BareRoundTrip(const BareRoundTrip&) = delete;
    BareRoundTrip& operator=(const BareRoundTrip&) = delete;

    // Opens the page and waits (at most 30 s) for its announcement. False when it never comes.
    bool open(const std::string& pageURI);

    // The payload text of a trip: letters with a quotation mark every 64 bytes, as real text
    // has. The service benchmark echoes the same text as one text/plain clipboard item.
    static std::string payloadText(std::size_t bytes);
    // The statement our channel posts for that echo request, byte for byte.
    static std::string postingScript(std::size_t payloadBytes);

    // One trip with the statement given a fresh id first (in place, before the clock starts);
    // its duration in seconds, negative when the answer did not arrive as JSON.
    double trip(std::string& script);

private:
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    kx::SignalConnection handler_;
    bool arrived_ = false;
    bool answerWasJSON_ = false;
    bool announced_ = false;
};

// The floor of a service round trip: WebKitGTK alone, without our codec, router or channel. A
// web view of its own loads the same echo page as the service benchmark; each trip calls the
// fixed function our channel calls with the same two texts (the envelope's fields and the
// body, handed over as our channel hands them), the page relays the message back exactly as it
// answers our channel (a plain object to the "swiftWindowParent" handler), and the message
// arrives as our channel takes it: as its JSON text, made in the page's process. The arguments
// are made before the clock starts: making them is our cost, not WebKit's.
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
    // The function our channel calls with every message, and the two texts it is called with
    // for that echo request, byte for byte.
    static std::string postingFunction();
    static std::string envelopeText();
    static std::string bodyText(std::size_t payloadBytes);

    // One trip posting `body`; its duration in seconds, negative when the answer did not arrive
    // as JSON.
    double trip(const std::string& body);

private:
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    kx::SignalConnection handler_;
    bool arrived_ = false;
    bool answerWasJSON_ = false;
    bool announced_ = false;
};

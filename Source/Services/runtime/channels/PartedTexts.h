// Long texts that a page posts to a script-message handler in parts. WebKit turns each posted
// text into a string of ours on the main thread, at a cost that grows with the text; the
// script of PostMessageChannel::textScript therefore posts a long text as parts, to a handler
// of their own beside the page's (`partsHandlerName`): that handler replies once a part has
// been taken here, and the script keeps no more than `partsInFlight` parts unanswered, so that
// the main loop turns between every few parts however long it was busy. This class joins the
// parts again, one text per frame (each frame's script marks its parts), and refuses what that
// script never sends. What a page holds here is capped; every refusal, and every unfinished text
// dropped to make room, is logged as it happens.
//
// Main thread only, like the script messages it takes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/SignalConnection.h"

typedef struct _JSCValue JSCValue;
typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace kx {

class PartedTexts {
public:
    // What the script posts: a part {partKey: text, fromKey: mark}, the last part
    // {textKey: text, fromKey: mark}, or a text that came whole {textKey: text}.
    static constexpr const char* textKey = "kx-json";
    static constexpr const char* partKey = "kx-part";
    static constexpr const char* fromKey = "kx-from";
    // UTF-16 units of a part.
    static constexpr std::size_t partLength = 512 * 1024;
    // Parts the script posts before the first of them is answered.
    static constexpr std::size_t partsInFlight = 2;
    // What one text may hold, whole or in parts, and what the unfinished texts of all the
    // handlers of one view (see `connectPartsHandler`) may add up to, unless the view's owner
    // sets another figure (`setMaximumSize`, the editor's for its documents): the other pages
    // post nothing near it (the preview page's device catalogue, its longest, is a few KiB),
    // and a page in a preview (a prototype, which anyone may have written) holds no more.
    static constexpr std::size_t maximumSize = 16u << 20;
    // Frames posting a long text at once; the oldest unfinished text makes room for another.
    static constexpr std::size_t maximumTexts = 8;

    // A text: `text` lives as long as `owner`.
    struct Piece {
        std::shared_ptr<const void> owner;
        std::string_view text;
    };
    // A whole text, as one piece or as the parts it came in.
    struct Text {
        std::vector<Piece> pieces;

        std::size_t size() const;
        // The text in one piece: the parts are joined the first time, which for a long text
        // belongs off the main thread.
        std::string_view whole();
    };

    // `log` hears why a text was refused or dropped, at the moment it is; `lost`, when given,
    // hears of each text of this handler refused for its length or dropped unfinished, just
    // after (a page's answer that will never come).
    explicit PartedTexts(std::function<void(const std::string&)> log, std::function<void()> lost = {});
    ~PartedTexts();
    PartedTexts(const PartedTexts&) = delete;
    PartedTexts& operator=(const PartedTexts&) = delete;

    // A value the page posted. Nothing when it is not the script's own (the caller takes it as
    // it takes any value); else `whole` is set when a whole text is there, and stays empty
    // while parts come or when the text was refused.
    struct Taken {
        std::optional<Text> whole;
    };
    std::optional<Taken> take(JSCValue* body);

    // A value posted to the parts handler: the script's own parts and texts are taken as
    // `take` takes them; anything else is refused and logged.
    std::optional<Text> takePosted(JSCValue* body);
    // A text the page posted some other way (a plain string): refused, and logged, when it is
    // longer than any text may be.
    std::optional<Text> admit(Text text) const;

    // The handler beside `handlerName` that takes the parts of long texts.
    static std::string partsHandlerName(std::string_view handlerName) { return std::string(handlerName) + "Parts"; }
    // Registers that handler on `manager` and connects `received` to it; each value's reply
    // goes back to the page once `received` has returned. An empty connection when it could
    // not be registered: the script then posts the parts to the page's handler itself. Either
    // way the unfinished texts from then on count with those of every other handler on
    // `manager` (a view's bridge and its service channel): a page cannot hold more by posting
    // to both.
    SignalConnection connectPartsHandler(WebKitUserContentManager* manager, std::string_view handlerName,
                                         std::function<void(JSCValue*)> received);
    static void disconnectPartsHandler(WebKitUserContentManager* manager, std::string_view handlerName);
    // The figure that stands for maximumSize for the texts of every handler on `manager`.
    static void setMaximumSize(WebKitUserContentManager* manager, std::size_t size);

    // The page went: a text it was posting will not be finished.
    void clear();

private:
    struct Unfinished;
    struct Pending;
    void addPart(const std::string& from, Piece part);
    std::optional<Text> finish(const std::string& from, Piece last);
    static std::shared_ptr<Pending> pendingOf(WebKitUserContentManager* manager);
    Unfinished* find(const std::string& from);
    void erase(const Unfinished* text);
    // Drops the oldest unfinished text (any handler's, but not `keep`), with a log line.
    void dropOldest(const Unfinished* keep, const std::string& why);
    void refuse(Unfinished& text);
    void tellLost() const;

    std::function<void(const std::string&)> log_;
    std::function<void()> lost_;
    std::shared_ptr<Pending> pending_; // shared with the other handlers of the view
};

} // namespace kx

// The editor page's clipboard service over the desktop's clipboard. Each item type is a
// clipboard target of its MIME name, so that other instances of the application and other
// programs exchange them; plain text goes through GTK's text targets (UTF8_STRING and the
// others that programs offer and ask for).
//
// `write` takes the clipboard and replaces its contents, also with no items (which leaves it
// empty); the contents go to the desktop's clipboard manager when the application quits.
// `read` answers the items it finds, in the order the clipboard lists them (or the order of
// the requested types); an item that is not what its type promises is left out, and the read
// still succeeds. Each call completes once. Items of tens of megabytes are encoded and
// decoded off the main thread, and GTK moves them in pieces, so the main loop keeps running.
//
// The types are the editor's own: an image another program copied (PNG, JPEG, ...) is none of
// them and is not read. What the last read found is kept, so that a paste that brought
// nothing can tell the user why.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Services/generated/Clipboard.h"

typedef struct _GtkClipboard GtkClipboard;

namespace kx {

class NimbetClipboard final : public Clipboard::Interface, public std::enable_shared_from_this<NimbetClipboard> {
public:
    // The display's CLIPBOARD selection (none without a display, when every write fails and
    // every read finds nothing); tests may pass another selection.
    explicit NimbetClipboard(GtkClipboard* clipboard = nullptr);

    void write(Clipboard::Write value, CompletionHandler<Unit> completionHandler) override;
    void read(std::optional<Clipboard::ReadOptions> options, CompletionHandler<Clipboard::Read> completionHandler) override;

    // What one read found on the clipboard.
    struct ReadReport {
        bool clipboardEmpty = false; // nothing on offer at all
        bool offersImage = false;    // an image in a format of other programs
        std::size_t itemsFound = 0;  // items answered to the page
    };
    // The report of the last read since the last call; none when nothing read meanwhile.
    std::optional<ReadReport> takeLastReadReport() { return std::exchange(lastReadReport_, std::nullopt); }
    // Why a paste after that read brought nothing, in the user's words.
    static std::string unusableContentsText(const ReadReport& report);

private:
    GtkClipboard* clipboard_;
    std::optional<ReadReport> lastReadReport_;
};

} // namespace kx

#include "App/exchange/NimbetClipboard.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtk/gtk.h>

#include "App/exchange/ClipboardItemCoding.h"
#include "Platform/Foundation/IfAlive.h"
#include "Platform/Foundation/MainQueue.h"
#include "Platform/Foundation/ThreadPool.h"

namespace kx {

namespace {

using Type = ClipboardItemCoding::Type;

// Items at least this large are encoded and decoded by a worker.
constexpr std::size_t largeItemSize = 256 * 1024;

// One worker thread, so that the contents of writes reach the clipboard in the order of the
// writes however long each takes to encode.
ThreadPool& encoder()
{
    static ThreadPool pool(1, "kx-clipboard");
    return pool;
}

// What the application offers on the clipboard: the bytes of each item, owned by GTK from
// the moment they are set until the clipboard is cleared or taken by someone else.
struct Contents {
    std::vector<std::pair<Type, std::string>> items;
};

void provide(GtkClipboard*, GtkSelectionData* selection, guint info, gpointer data)
{
    const auto* contents = static_cast<const Contents*>(data);
    if (info >= contents->items.size())
        return;
    const auto& [type, bytes] = contents->items[info];
    if (type == Type::textPlain) {
        gtk_selection_data_set_text(selection, bytes.data(), static_cast<gint>(bytes.size()));
    } else {
        gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                               reinterpret_cast<const guchar*>(bytes.data()), static_cast<gint>(bytes.size()));
    }
}

void release(GtkClipboard*, gpointer data)
{
    delete static_cast<Contents*>(data);
}

// Puts the contents on the clipboard; false when GTK could not take the selection.
bool offer(GtkClipboard* clipboard, std::unique_ptr<Contents> contents)
{
    GtkTargetList* list = gtk_target_list_new(nullptr, 0);
    for (guint index = 0; index < contents->items.size(); ++index) {
        const Type type = contents->items[index].first;
        if (type == Type::textPlain)
            gtk_target_list_add_text_targets(list, index);
        else
            gtk_target_list_add(list, gdk_atom_intern(std::string(ClipboardItemCoding::targetName(type)).c_str(), FALSE), 0, index);
    }
    gint count = 0;
    GtkTargetEntry* table = gtk_target_table_new_from_list(list, &count);
    gtk_target_list_unref(list);
    // With no items the clipboard is still taken, with nothing on offer: an empty write
    // clears what another program had put there.
    GtkTargetEntry none{};
    const bool taken = gtk_clipboard_set_with_data(clipboard, table ? table : &none, static_cast<guint>(count), provide,
                                                   release, contents.get());
    gtk_target_table_free(table, count);
    if (!taken)
        return false;
    contents.release(); // GTK's until `release`
    if (count > 0)
        gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    return true;
}

// Targets that every owner of a selection answers, which say nothing of its contents.
bool isSelectionMetaTarget(const std::string& target)
{
    return target == "TARGETS" || target == "TIMESTAMP" || target == "MULTIPLE" || target == "SAVE_TARGETS"
        || target == "DELETE" || target == "INSERT_PROPERTY" || target == "INSERT_SELECTION";
}

// One read: the clipboard's targets first, then each wanted item in turn.
class ReadOperation : public std::enable_shared_from_this<ReadOperation> {
public:
    using Reporter = std::function<void(const NimbetClipboard::ReadReport&)>;

    ReadOperation(GtkClipboard* clipboard, std::optional<Clipboard::ReadOptions> options,
                  CompletionHandler<Clipboard::Read> handler, Reporter reporter)
        : clipboard_(clipboard)
        , options_(std::move(options))
        , handler_(std::move(handler))
        , reporter_(std::move(reporter))
    {
        report_.clipboardEmpty = true;
    }

    void start()
    {
        if (!clipboard_)
            return finish();
        gtk_clipboard_request_targets(
            clipboard_,
            +[](GtkClipboard*, GdkAtom* atoms, gint count, gpointer data) {
                std::unique_ptr<std::shared_ptr<ReadOperation>> self(static_cast<std::shared_ptr<ReadOperation>*>(data));
                (*self)->targetsReceived(atoms, atoms ? count : 0);
            },
            new std::shared_ptr<ReadOperation>(shared_from_this()));
    }

private:
    void targetsReceived(GdkAtom* atoms, gint count)
    {
        targets_.assign(atoms, atoms + count);
        for (GdkAtom atom : targets_) {
            gchar* name = gdk_atom_name(atom);
            const std::string target = name ? name : "";
            g_free(name);
            if (isSelectionMetaTarget(target))
                continue;
            report_.clipboardEmpty = false;
            if (target.starts_with("image/") && target != ClipboardItemCoding::targetName(Type::imageSvgXml))
                report_.offersImage = true;
        }
        const bool hasText = count > 0 && gtk_targets_include_text(atoms, count);
        auto offered = [&](Type type) {
            if (type == Type::textPlain)
                return hasText;
            const GdkAtom atom = gdk_atom_intern(std::string(ClipboardItemCoding::targetName(type)).c_str(), FALSE);
            return std::find(targets_.begin(), targets_.end(), atom) != targets_.end();
        };
        auto want = [&](Type type) {
            if (offered(type) && std::find(wanted_.begin(), wanted_.end(), type) == wanted_.end())
                wanted_.push_back(type);
        };
        if (options_) {
            for (Type type : options_->types)
                want(type);
        } else {
            // In the order the owner lists its targets: our own writes come back as written.
            for (GdkAtom atom : targets_) {
                gchar* name = gdk_atom_name(atom);
                const std::string target = name ? name : "";
                g_free(name);
                if (auto type = ClipboardItemCoding::typeForTarget(target); type && *type != Type::textPlain)
                    want(*type);
                else if (gtk_targets_include_text(&atom, 1))
                    want(Type::textPlain);
            }
        }
        next();
    }

    void next()
    {
        if (index_ >= wanted_.size())
            return finish();
        const Type type = wanted_[index_++];
        auto* self = new std::shared_ptr<ReadOperation>(shared_from_this());
        if (type == Type::textPlain) {
            gtk_clipboard_request_text(
                clipboard_,
                +[](GtkClipboard*, const gchar* text, gpointer data) {
                    std::unique_ptr<std::shared_ptr<ReadOperation>> self(static_cast<std::shared_ptr<ReadOperation>*>(data));
                    (*self)->bytesReceived(Type::textPlain, text ? std::optional<std::string_view>(text) : std::nullopt);
                },
                self);
            return;
        }
        const GdkAtom atom = gdk_atom_intern(std::string(ClipboardItemCoding::targetName(type)).c_str(), FALSE);
        gtk_clipboard_request_contents(
            clipboard_, atom,
            +[](GtkClipboard*, GtkSelectionData* selection, gpointer data) {
                std::unique_ptr<std::shared_ptr<ReadOperation>> self(static_cast<std::shared_ptr<ReadOperation>*>(data));
                const gint length = selection ? gtk_selection_data_get_length(selection) : -1;
                const guchar* bytes = length >= 0 ? gtk_selection_data_get_data(selection) : nullptr;
                std::optional<std::string_view> received;
                if (length >= 0)
                    received = std::string_view(reinterpret_cast<const char*>(bytes), bytes ? static_cast<std::size_t>(length) : 0);
                (*self)->bytesReceived((*self)->wanted_[(*self)->index_ - 1], received);
            },
            self);
    }

    void bytesReceived(Type type, std::optional<std::string_view> bytes)
    {
        if (!bytes || bytes->size() > ClipboardItemCoding::maximumItemSize)
            return next();
        if (bytes->size() < largeItemSize) {
            accept(ClipboardItemCoding::decode(type, *bytes));
            return next();
        }
        ThreadPool::global().async([self = shared_from_this(), type, copy = std::string(*bytes)]() mutable {
            auto item = ClipboardItemCoding::decode(type, copy);
            copy = {};
            MainQueue::async([self = std::move(self), item = std::move(item)]() mutable {
                self->accept(std::move(item));
                self->next();
            });
        });
    }

    void accept(std::optional<Clipboard::DataItem> item)
    {
        if (item) // a malformed item is left out; the others still count
            result_.items.push_back(std::move(*item));
    }

    void finish()
    {
        if (!handler_)
            return;
        report_.itemsFound = result_.items.size();
        if (reporter_)
            reporter_(report_);
        auto handler = std::exchange(handler_, nullptr);
        handler(Result<Clipboard::Read, ServiceError>::success(std::move(result_)));
    }

    GtkClipboard* clipboard_;
    std::optional<Clipboard::ReadOptions> options_;
    CompletionHandler<Clipboard::Read> handler_;
    Reporter reporter_;
    NimbetClipboard::ReadReport report_;
    std::vector<GdkAtom> targets_;
    std::vector<Type> wanted_;
    std::size_t index_ = 0;
    Clipboard::Read result_;
};

} // namespace

NimbetClipboard::NimbetClipboard(GtkClipboard* clipboard)
    : clipboard_(clipboard)
{
    if (!clipboard_) {
        if (GdkDisplay* display = gdk_display_get_default())
            clipboard_ = gtk_clipboard_get_for_display(display, GDK_SELECTION_CLIPBOARD);
    }
}

void NimbetClipboard::write(Clipboard::Write value, CompletionHandler<Unit> completionHandler)
{
    using R = Result<Unit, ServiceError>;
    if (!clipboard_)
        return completionHandler(R::failure(ServiceError::implementation("There is no clipboard.")));
    // The handler stays a main-thread object: the worker only passes it on.
    auto handler = std::make_shared<CompletionHandler<Unit>>(std::move(completionHandler));
    encoder().async([items = std::move(value.items), clipboard = clipboard_, handler = std::move(handler)]() mutable {
        auto contents = std::make_unique<Contents>();
        std::set<Type> seen;
        bool encoded = true;
        for (const auto& item : items) {
            const Type type = ClipboardItemCoding::typeOf(item);
            if (!seen.insert(type).second)
                continue; // one item a type: the first one written
            auto bytes = ClipboardItemCoding::encode(item);
            if (!bytes) {
                encoded = false;
                break;
            }
            contents->items.emplace_back(type, std::move(*bytes));
        }
        items.clear(); // large documents are freed here, not on the main thread
        MainQueue::async([contents = std::shared_ptr<Contents>(std::move(contents)), encoded, clipboard,
                          handler = std::move(handler)]() mutable {
            if (!encoded)
                return (*handler)(R::failure(ServiceError::implementation("An item cannot be put on the clipboard.")));
            auto owned = std::make_unique<Contents>(std::move(*contents));
            if (!offer(clipboard, std::move(owned)))
                return (*handler)(R::failure(ServiceError::implementation("The clipboard cannot be taken.")));
            (*handler)(R::success(Unit{}));
        });
    });
}

void NimbetClipboard::read(std::optional<Clipboard::ReadOptions> options, CompletionHandler<Clipboard::Read> completionHandler)
{
    auto reporter = ifAlive(weak_from_this(), [](NimbetClipboard& self, const ReadReport& report) { self.lastReadReport_ = report; });
    std::make_shared<ReadOperation>(clipboard_, std::move(options), std::move(completionHandler), std::move(reporter))->start();
}

std::string NimbetClipboard::unusableContentsText(const ReadReport& report)
{
    if (report.itemsFound > 0)
        return "The editor could not use what the clipboard holds.";
    if (report.clipboardEmpty)
        return "The clipboard is empty.";
    const std::string pastes = " The editor pastes only what was copied in Korvel X, and text.";
    if (report.offersImage)
        return "The clipboard holds an image copied in another program." + pastes;
    return "The clipboard holds nothing the editor can use." + pastes;
}

} // namespace kx

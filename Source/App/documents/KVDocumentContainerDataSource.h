// One provider of one file of a working container, such as the editor's document JSON. The
// owner of the content reports each change with setDataNeedsToBeProvided(true); on save the
// container asks the provider for the content and writes it into the project folder, and
// after a read it hands the file's content to the reader. Made with std::make_shared (a
// provider's late answer finds the source only while it lives). Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Observable.h"
#include "Platform/Foundation/Result.h"

namespace kx {

class KVDocumentContainerDataSource : public std::enable_shared_from_this<KVDocumentContainerDataSource> {
public:
    using Data = std::string; // bytes
    // Provided content, shared and never changed: a document of megabytes is kept and written
    // without a copy on the main thread.
    using SharedData = std::shared_ptr<const Data>;
    using Reader = std::function<void(const Data& content)>;
    // Called once with the current content or the reason there is none.
    using ProviderCompletion = std::function<void(Result<Data, Error> result)>;
    using Provider = std::function<void(ProviderCompletion completion)>;

    KVDocumentContainerDataSource(Reader reader, Provider provider);
    KVDocumentContainerDataSource(const KVDocumentContainerDataSource&) = delete;
    KVDocumentContainerDataSource& operator=(const KVDocumentContainerDataSource&) = delete;

    // The content last read or provided; empty at first.
    const Data& data() const { return *data_; }
    // True while the owner holds content newer than what was last written; true at first.
    bool dataNeedsToBeProvided() const { return dataNeedsToBeProvided_.get(); }

    // The owner's report. Each report of true counts as a change, also when the flag was set
    // already (a change made while a save waits for the provider must not look saved), and
    // observers hear of it.
    void setDataNeedsToBeProvided(bool value);
    [[nodiscard]] Observable<bool>::Token observeDataNeedsToBeProvided(Observable<bool>::Handler handler);

    // What the container uses.
    //
    // Asks the provider for the content. `completion` runs once, on the main thread, with the
    // content (also kept as data()) or the provider's error, and the change count at the time
    // of the request, to hand to dataWasWritten.
    using ProvideCompletion = std::function<void(Result<SharedData, Error> result, std::uint64_t generation)>;
    void provide(ProvideCompletion completion);
    // The content of the request made at `generation` is on disk: the flag is cleared unless
    // a change was reported since.
    void dataWasWritten(std::uint64_t generation);
    // True while a request to the provider has had no answer yet.
    bool isAwaitingProvider() const { return unansweredRequests_ > 0; }
    // The change count now, for content written from data() without asking the provider.
    std::uint64_t generation() const { return generation_; }
    // Takes content read from the project folder: keeps it, clears the flag and hands it to
    // the reader.
    void load(Data content);

private:
    Reader reader_;
    Provider provider_;
    SharedData data_ = std::make_shared<const Data>();
    Observable<bool> dataNeedsToBeProvided_{true};
    std::uint64_t generation_ = 0;
    int unansweredRequests_ = 0;
};

} // namespace kx

#include "App/documents/KVDocumentContainerDataSource.h"

#include <atomic>
#include <exception>
#include <memory>

#include "Platform/Foundation/MainQueue.h"

namespace kx {

KVDocumentContainerDataSource::KVDocumentContainerDataSource(Reader reader, Provider provider)
    : reader_(std::move(reader))
    , provider_(std::move(provider))
{
}

void KVDocumentContainerDataSource::setDataNeedsToBeProvided(bool value)
{
    if (value)
        ++generation_;
    // Forced, so that a repeated report still reaches the container.
    dataNeedsToBeProvided_.set(value, value);
}

Observable<bool>::Token KVDocumentContainerDataSource::observeDataNeedsToBeProvided(Observable<bool>::Handler handler)
{
    return dataNeedsToBeProvided_.observe(std::move(handler));
}

void KVDocumentContainerDataSource::provide(ProvideCompletion completion)
{
    const std::uint64_t generation = generation_;
    // The provider's answer counts once, whichever thread it comes from and however often.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    ++unansweredRequests_;
    auto finish = [self = weak_from_this(), completion = std::move(completion), generation](Result<Data, Error> result) {
        if (auto source = self.lock())
            --source->unansweredRequests_;
        if (!result.isSuccess())
            return completion(Result<SharedData, Error>::failure(result.error()), generation);
        auto data = std::make_shared<const Data>(std::move(result).value());
        if (auto source = self.lock())
            source->data_ = data;
        completion(Result<SharedData, Error>::success(std::move(data)), generation);
    };
    auto shared = std::make_shared<decltype(finish)>(std::move(finish));
    ProviderCompletion once = [answered, shared](Result<Data, Error> result) {
        if (answered->exchange(true))
            return;
        if (MainQueue::isMainThread())
            (*shared)(std::move(result));
        else
            MainQueue::async([shared, result = std::move(result)]() mutable { (*shared)(std::move(result)); });
    };
    if (!provider_) {
        once(Result<Data, Error>::failure(Error("KVDocumentContainerDataSource", 0, "The content has no provider.")));
        return;
    }
    try {
        provider_(once);
    } catch (const Error& error) {
        once(Result<Data, Error>::failure(error));
    } catch (const std::exception& error) {
        once(Result<Data, Error>::failure(Error("KVDocumentContainerDataSource", 0, error.what())));
    }
}

void KVDocumentContainerDataSource::dataWasWritten(std::uint64_t generation)
{
    if (generation == generation_)
        dataNeedsToBeProvided_.set(false);
}

void KVDocumentContainerDataSource::load(Data content)
{
    data_ = std::make_shared<const Data>(std::move(content));
    dataNeedsToBeProvided_.set(false, true);
    if (reader_)
        reader_(*data_);
}

} // namespace kx

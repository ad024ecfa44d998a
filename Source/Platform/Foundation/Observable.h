// An observable property: observers hear of a change before it happens (will change) and
// after it happened (did change), with the old and the new value. Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace kx {

template <class T>
class Observable {
public:
    enum class Phase { willChange, didChange };
    using Handler = std::function<void(Phase, const T& oldValue, const T& newValue)>;

    class Observation {
    public:
        virtual ~Observation() = default;
    };
    using Token = std::unique_ptr<Observation>;

    Observable() = default;
    explicit Observable(T value)
        : value_(std::move(value))
    {
    }
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }

    // Sets the value; observers hear of it only when it differs (or always, with `force`).
    void set(T newValue, bool force = false)
    {
        if (!force && newValue == value_)
            return;
        T oldValue = value_;
        notify(Phase::willChange, oldValue, newValue);
        value_ = std::move(newValue);
        notify(Phase::didChange, oldValue, value_);
    }
    Observable& operator=(T newValue)
    {
        set(std::move(newValue));
        return *this;
    }

    // With `initial`, the handler is called at once with the current value as did-change.
    [[nodiscard]] Token observe(Handler handler, bool initial = false)
    {
        auto entry = std::make_shared<Handler>(std::move(handler));
        observers_->push_back(entry);
        if (initial)
            (*entry)(Phase::didChange, value_, value_);
        return std::make_unique<ObservationImpl>(observers_, entry);
    }

private:
    using List = std::vector<std::weak_ptr<Handler>>;

    class ObservationImpl : public Observation {
    public:
        ObservationImpl(std::weak_ptr<List> list, std::shared_ptr<Handler> handler)
            : list_(std::move(list))
            , handler_(std::move(handler))
        {
        }
        ~ObservationImpl() override
        {
            if (auto list = list_.lock())
                std::erase_if(*list, [&](const std::weak_ptr<Handler>& h) { return h.expired() || h.lock() == handler_; });
        }

    private:
        std::weak_ptr<List> list_;
        std::shared_ptr<Handler> handler_;
    };

    void notify(Phase phase, const T& oldValue, const T& newValue)
    {
        // A copy, so that observers may add or remove observations while being told.
        List snapshot = *observers_;
        for (auto& weak : snapshot)
            if (auto handler = weak.lock())
                (*handler)(phase, oldValue, newValue);
    }

    T value_{};
    std::shared_ptr<List> observers_ = std::make_shared<List>();
};

} // namespace kx

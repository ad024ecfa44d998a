// A value that is either a success with a payload or a failure with an error. Completion
// handlers take one; `map` transforms a success and passes a failure through unchanged, `get`
// returns the payload or throws the carried error itself.
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace kx {

struct Unit {
    friend bool operator==(const Unit&, const Unit&) = default;
};

template <class T, class E>
class Result {
public:
    using Value = T;
    using Failure = E;

    static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
    static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

    bool isSuccess() const { return storage_.index() == 0; }
    bool isFailure() const { return storage_.index() == 1; }

    // Precondition: isSuccess() / isFailure().
    const T& value() const& { return std::get<0>(storage_); }
    T&& value() && { return std::get<0>(std::move(storage_)); }
    const E& error() const& { return std::get<1>(storage_); }

    // The payload, or the carried error thrown as it is.
    const T& get() const&
    {
        if (isFailure())
            throw std::get<1>(storage_);
        return std::get<0>(storage_);
    }
    T get() &&
    {
        if (isFailure())
            throw std::get<1>(std::move(storage_));
        return std::get<0>(std::move(storage_));
    }

    template <class F>
    auto map(F&& transform) const& -> Result<std::invoke_result_t<F, const T&>, E>
    {
        using U = std::invoke_result_t<F, const T&>;
        if (isFailure())
            return Result<U, E>::failure(error());
        return Result<U, E>::success(std::forward<F>(transform)(value()));
    }

    friend bool operator==(const Result&, const Result&) = default;

private:
    template <std::size_t I, class V>
    Result(std::in_place_index_t<I> index, V&& v)
        : storage_(index, std::forward<V>(v))
    {
    }
    std::variant<T, E> storage_;
};

} // namespace kx

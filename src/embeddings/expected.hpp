// expected<T, E> and unexpected<E>: the standard ones where the standard
// library has them, otherwise a small stand-in with the same spelling for the
// part of the interface this code uses (construction from a value or from an
// unexpected, truth test, *, ->, value(), error(), value_or, ==). libc++
// before 16 has no <expected>, and libstdc++ 12 hides it from compilers that
// do not announce C++20 concepts in full (Clang before 19).
#pragma once

#if __has_include(<version>)
#include <version>
#endif

#if defined(__cpp_lib_expected) && __cpp_lib_expected >= 202202L && !defined(MIVO_OWN_EXPECTED)
#include <expected>

namespace mivo::embeddings {
using std::expected;
using std::unexpected;
}  // namespace mivo::embeddings

#else

#include <cstdlib>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace mivo::embeddings {

template <class E>
class unexpected {
public:
    template <class Err = E>
        requires(!std::is_same_v<std::remove_cvref_t<Err>, unexpected> && std::is_constructible_v<E, Err>)
    constexpr explicit unexpected(Err&& e) : error_(std::forward<Err>(e)) {}

    constexpr const E& error() const& noexcept { return error_; }
    constexpr E& error() & noexcept { return error_; }
    constexpr E&& error() && noexcept { return std::move(error_); }

    template <class G>
    friend constexpr bool operator==(const unexpected& a, const unexpected<G>& b) {
        return a.error() == b.error();
    }

private:
    E error_;
};

template <class E>
unexpected(E) -> unexpected<E>;

namespace detail {
template <class U>
inline constexpr bool is_unexpected = false;
template <class G>
inline constexpr bool is_unexpected<unexpected<G>> = true;
}  // namespace detail

template <class T, class E>
class expected {
public:
    using value_type = T;
    using error_type = E;
    using unexpected_type = unexpected<E>;

    constexpr expected()
        requires std::is_default_constructible_v<T>
        : v_(std::in_place_index<0>) {}

    template <class U = T>
        requires(!std::is_same_v<std::remove_cvref_t<U>, expected> &&
                 !std::is_same_v<std::remove_cvref_t<U>, std::in_place_t> &&
                 !detail::is_unexpected<std::remove_cvref_t<U>> && std::is_constructible_v<T, U>)
    constexpr explicit(!std::is_convertible_v<U, T>) expected(U&& v) : v_(std::in_place_index<0>, std::forward<U>(v)) {}

    template <class G>
        requires std::is_constructible_v<E, const G&>
    constexpr explicit(!std::is_convertible_v<const G&, E>) expected(const unexpected<G>& u)
        : v_(std::in_place_index<1>, u.error()) {}

    template <class G>
        requires std::is_constructible_v<E, G>
    constexpr explicit(!std::is_convertible_v<G, E>) expected(unexpected<G>&& u)
        : v_(std::in_place_index<1>, std::move(u).error()) {}

    template <class... Args>
    constexpr explicit expected(std::in_place_t, Args&&... args)
        : v_(std::in_place_index<0>, std::forward<Args>(args)...) {}

    constexpr bool has_value() const noexcept { return v_.index() == 0; }
    constexpr explicit operator bool() const noexcept { return has_value(); }

    constexpr const T& operator*() const& noexcept { return *std::get_if<0>(&v_); }
    constexpr T& operator*() & noexcept { return *std::get_if<0>(&v_); }
    constexpr T&& operator*() && noexcept { return std::move(*std::get_if<0>(&v_)); }
    constexpr const T* operator->() const noexcept { return std::get_if<0>(&v_); }
    constexpr T* operator->() noexcept { return std::get_if<0>(&v_); }

    // The library never throws, so asking for the value of an error is a
    // programming error that stops the process.
    constexpr const T& value() const& { return has_value() ? **this : (std::abort(), **this); }
    constexpr T& value() & { return has_value() ? **this : (std::abort(), **this); }
    constexpr T&& value() && { return has_value() ? std::move(**this) : (std::abort(), std::move(**this)); }

    constexpr const E& error() const& noexcept { return *std::get_if<1>(&v_); }
    constexpr E& error() & noexcept { return *std::get_if<1>(&v_); }
    constexpr E&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

    template <class U>
    constexpr T value_or(U&& other) const& {
        return has_value() ? **this : static_cast<T>(std::forward<U>(other));
    }

    template <class T2, class E2>
    friend constexpr bool operator==(const expected& a, const expected<T2, E2>& b) {
        if (a.has_value() != b.has_value()) return false;
        return a.has_value() ? *a == *b : a.error() == b.error();
    }
    template <class T2>
        requires(!detail::is_unexpected<T2>)
    friend constexpr bool operator==(const expected& a, const T2& v) {
        return a.has_value() && *a == v;
    }
    template <class G>
    friend constexpr bool operator==(const expected& a, const unexpected<G>& u) {
        return !a.has_value() && a.error() == u.error();
    }

private:
    std::variant<T, E> v_;
};

template <class E>
class expected<void, E> {
public:
    using value_type = void;
    using error_type = E;
    using unexpected_type = unexpected<E>;

    constexpr expected() noexcept = default;

    template <class G>
        requires std::is_constructible_v<E, const G&>
    constexpr explicit(!std::is_convertible_v<const G&, E>) expected(const unexpected<G>& u) : error_(u.error()) {}

    template <class G>
        requires std::is_constructible_v<E, G>
    constexpr explicit(!std::is_convertible_v<G, E>) expected(unexpected<G>&& u) : error_(std::move(u).error()) {}

    constexpr bool has_value() const noexcept { return !error_.has_value(); }
    constexpr explicit operator bool() const noexcept { return has_value(); }
    constexpr void operator*() const noexcept {}
    constexpr void value() const {
        if (!has_value()) std::abort();
    }

    constexpr const E& error() const& noexcept { return *error_; }
    constexpr E& error() & noexcept { return *error_; }
    constexpr E&& error() && noexcept { return std::move(*error_); }

    template <class E2>
    friend constexpr bool operator==(const expected& a, const expected<void, E2>& b) {
        if (a.has_value() != b.has_value()) return false;
        return a.has_value() || a.error() == b.error();
    }
    template <class G>
    friend constexpr bool operator==(const expected& a, const unexpected<G>& u) {
        return !a.has_value() && a.error() == u.error();
    }

private:
    std::optional<E> error_;
};

}  // namespace mivo::embeddings

#endif

#pragma once
// FB::variant: the one value type that crosses between page script and plug-in code.
//
// Two words: a pointer to a static per-type operations record and one storage word.
// Values that fit a word (bool, chars, short, int, 32-bit long, float, raw pointers) live
// in the word itself; larger ones (double, 64-bit integers, strings, handles, containers)
// live in a heap copy the variant owns.

#include "APITypes.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace FB {

class script_error;

// Raised by cast and convert_cast. what() is always "bad cast"; from and to carry the
// platform's names of the held and the requested type for messages built above.
class bad_variant_cast : public std::bad_cast {
public:
    bad_variant_cast(const std::type_info& src, const std::type_info& dest)
        : from(src.name()), to(dest.name()) {}
    const char* what() const noexcept override { return "bad cast"; }

    std::string from;
    std::string to;
};

namespace variant_detail {

// Script undefined (no value) and script null.
struct empty {
    bool operator<(const empty&) const { return false; }
};
struct null {
    bool operator<(const null&) const { return false; }
};

using Storage = void*;

struct VariantTypeOps {
    const std::type_info& (*type)();
    void (*destroy)(Storage* s);
    void (*clone)(const Storage* src, Storage* dest);
    void (*move)(const Storage* src, Storage* dest);
    bool (*less)(const Storage* a, const Storage* b);
};

template <typename T>
struct fits_in_word
    : std::integral_constant<bool, sizeof(T) <= sizeof(Storage) &&
                                       alignof(T) <= alignof(Storage) &&
                                       std::is_trivially_copyable<T>::value> {};

template <typename T>
const std::type_info& typeOf() {
    return typeid(T);
}

// A type's own ordering where it has one; types without operator< (shared handles
// compare by owner address through std::less) still get a strict weak order.
template <typename T, typename = void>
struct has_less : std::false_type {};
template <typename T>
struct has_less<T, decltype(void(std::declval<const T&>() < std::declval<const T&>()))>
    : std::true_type {};

template <typename T>
bool lessOf(const std::weak_ptr<T>& a, const std::weak_ptr<T>& b) {
    return a.owner_before(b);
}

template <typename T>
bool lessOf(const T& a, const T& b) {
    if constexpr (has_less<T>::value)
        return a < b;
    else
        return false;  // unordered type: all values compare equivalent
}

template <typename T, bool Small = fits_in_word<T>::value>
struct Ops;

// Held in the storage word itself.
template <typename T>
struct Ops<T, true> {
    static const T& get(const Storage* s) { return *std::launder(reinterpret_cast<const T*>(s)); }
    static T& get(Storage* s) { return *std::launder(reinterpret_cast<T*>(s)); }
    static void store(Storage* s, const T& v) {
        *s = nullptr;
        new (s) T(v);
    }
    static void destroy(Storage* s) { *s = nullptr; }
    static void clone(const Storage* src, Storage* dest) { store(dest, get(src)); }
    static void move(const Storage* src, Storage* dest) { get(dest) = get(src); }
    static bool less(const Storage* a, const Storage* b) { return lessOf(get(a), get(b)); }
};

// Held in a heap copy that the storage word points to.
template <typename T>
struct Ops<T, false> {
    static const T& get(const Storage* s) { return *static_cast<const T*>(*s); }
    static T& get(Storage* s) { return *static_cast<T*>(*s); }
    static void store(Storage* s, const T& v) { *s = new T(v); }
    static void destroy(Storage* s) {
        delete static_cast<T*>(*s);
        *s = nullptr;
    }
    static void clone(const Storage* src, Storage* dest) { store(dest, get(src)); }
    static void move(const Storage* src, Storage* dest) { get(dest) = get(src); }
    static bool less(const Storage* a, const Storage* b) { return lessOf(get(a), get(b)); }
};

template <typename T>
const VariantTypeOps* opsFor() {
    static const VariantTypeOps ops = {&typeOf<T>, &Ops<T>::destroy, &Ops<T>::clone,
                                       &Ops<T>::move, &Ops<T>::less};
    return &ops;
}

// The markers hold nothing: their destroy, clone and move do nothing, less is false.
template <typename Marker>
struct MarkerOps {
    static void nothing(Storage*) {}
    static void copyNothing(const Storage*, Storage*) {}
    static bool never(const Storage*, const Storage*) { return false; }
};
template <>
inline const VariantTypeOps* opsFor<empty>() {
    static const VariantTypeOps ops = {&typeOf<empty>, &MarkerOps<empty>::nothing,
                                       &MarkerOps<empty>::copyNothing,
                                       &MarkerOps<empty>::copyNothing, &MarkerOps<empty>::never};
    return &ops;
}
template <>
inline const VariantTypeOps* opsFor<null>() {
    static const VariantTypeOps ops = {&typeOf<null>, &MarkerOps<null>::nothing,
                                       &MarkerOps<null>::copyNothing,
                                       &MarkerOps<null>::copyNothing, &MarkerOps<null>::never};
    return &ops;
}

template <typename T>
struct converter;

// Text literals are kept as narrow and wide strings, never as pointers into a literal.
template <typename T>
struct stored_type {
    using type = T;
};
template <std::size_t N>
struct stored_type<char[N]> {
    using type = std::string;
};
template <>
struct stored_type<const char*> {
    using type = std::string;
};
template <>
struct stored_type<char*> {
    using type = std::string;
};
template <std::size_t N>
struct stored_type<wchar_t[N]> {
    using type = std::wstring;
};
template <>
struct stored_type<const wchar_t*> {
    using type = std::wstring;
};
template <>
struct stored_type<wchar_t*> {
    using type = std::wstring;
};

} // namespace variant_detail

class variant {
public:
    variant() noexcept : m_ops(variant_detail::opsFor<variant_detail::empty>()), m_storage(nullptr) {}

    template <typename T, typename = std::enable_if_t<!std::is_same<std::decay_t<T>, variant>::value>>
    variant(const T& value) : variant() {  // NOLINT: implicit by design, values flow in freely
        assign(value);
    }

    variant(const variant& other) : m_ops(other.m_ops), m_storage(nullptr) {
        m_ops->clone(&other.m_storage, &m_storage);
    }

    variant(variant&& other) noexcept : m_ops(other.m_ops), m_storage(other.m_storage) {
        other.m_ops = variant_detail::opsFor<variant_detail::empty>();
        other.m_storage = nullptr;
    }

    ~variant() { m_ops->destroy(&m_storage); }

    variant& operator=(const variant& other) {
        if (this == &other)
            return *this;
        if (m_ops == other.m_ops) {
            m_ops->move(&other.m_storage, &m_storage);
        } else {
            // Clone first so that a failed copy leaves this variant as it was.
            variant_detail::Storage fresh = nullptr;
            other.m_ops->clone(&other.m_storage, &fresh);
            m_ops->destroy(&m_storage);
            m_ops = other.m_ops;
            m_storage = fresh;
        }
        return *this;
    }

    variant& operator=(variant&& other) noexcept {
        if (this != &other) {
            m_ops->destroy(&m_storage);
            m_ops = other.m_ops;
            m_storage = other.m_storage;
            other.m_ops = variant_detail::opsFor<variant_detail::empty>();
            other.m_storage = nullptr;
        }
        return *this;
    }

    template <typename T, typename = std::enable_if_t<!std::is_same<std::decay_t<T>, variant>::value>>
    variant& operator=(const T& value) {
        assign(value);
        return *this;
    }

    void reset() {
        m_ops->destroy(&m_storage);
        m_ops = variant_detail::opsFor<variant_detail::empty>();
        m_storage = nullptr;
    }

    bool empty() const { return m_ops == variant_detail::opsFor<variant_detail::empty>(); }
    bool is_null() const { return m_ops == variant_detail::opsFor<variant_detail::null>(); }

    const std::type_info& get_type() const { return m_ops->type(); }

    template <typename T>
    bool is_of_type() const {
        return m_ops == variant_detail::opsFor<T>();
    }

    // Exactly the held type, no conversion of any kind.
    template <typename T>
    const T& cast() const {
        if (!is_of_type<T>())
            throw bad_variant_cast(get_type(), typeid(T));
        return variant_detail::Ops<T>::get(&m_storage);
    }

    template <typename T>
    T convert_cast() const {
        return variant_detail::converter<T>::convert(*this);
    }

    template <typename T>
    bool can_be_type() const {
        if (is_of_type<T>())
            return true;
        try {
            (void)convert_cast<T>();
            return true;
        } catch (...) {
            return false;
        }
    }

    // Same type: the type's own order. Different types: by type name, byte by byte.
    bool lessthan(const variant& rh) const {
        if (m_ops == rh.m_ops)
            return m_ops->less(&m_storage, &rh.m_storage);
        return std::strcmp(get_type().name(), rh.get_type().name()) < 0;
    }

private:
    template <typename T>
    void assign(const T& value) {
        using Stored = typename variant_detail::stored_type<T>::type;
        if constexpr (!std::is_same<Stored, T>::value) {
            assign(Stored(value));
        } else {
            const variant_detail::VariantTypeOps* ops = variant_detail::opsFor<T>();
            if (ops == m_ops) {
                variant_detail::Ops<T>::get(&m_storage) = value;
                return;
            }
            variant_detail::Storage fresh = nullptr;
            variant_detail::Ops<T>::store(&fresh, value);
            m_ops->destroy(&m_storage);
            m_ops = ops;
            m_storage = fresh;
        }
    }

    const variant_detail::VariantTypeOps* m_ops;
    variant_detail::Storage m_storage;
};

// Variants order as values (lists and maps of variants compare element by element).
inline bool operator<(const variant& a, const variant& b) {
    return a.lessthan(b);
}

} // namespace FB

#include "variant_conversions.h"

#pragma once
// A script property of a JSAPIAuto: a getter and a setter. A property built from a getter
// alone accepts every write and ignores it, so setting it succeeds without effect.
//
//   registerProperty("version", make_property(this, &MyAPI::get_version));

#include "variant.h"

#include <functional>
#include <type_traits>
#include <utility>

namespace FB {

using GetPropFunctor = std::function<variant()>;
using SetPropFunctor = std::function<void(const variant&)>;

struct PropertyFunctors {
    PropertyFunctors() = default;
    PropertyFunctors(GetPropFunctor getter, SetPropFunctor setter)
        : get(std::move(getter)), set(std::move(setter)) {}

    GetPropFunctor get;
    SetPropFunctor set;
};

namespace detail { namespace properties {

template <typename F>
struct setter_traits;
template <typename C, typename A>
struct setter_traits<void (C::*)(A)> {
    using param = std::decay_t<A>;
};
template <typename C, typename A>
struct setter_traits<void (C::*)(A) noexcept> {
    using param = std::decay_t<A>;
};

}} // namespace detail::properties

template <typename C, typename G>
PropertyFunctors make_property(C* instance, G getter) {
    return PropertyFunctors([instance, getter]() { return variant((instance->*getter)()); },
                            [](const variant&) {});
}

// The setter's parameter is read with convert_cast; a bad_variant_cast reaches
// SetProperty, which reports it to the page.
template <typename C, typename G, typename S>
PropertyFunctors make_property(C* instance, G getter, S setter) {
    using Param = typename detail::properties::setter_traits<S>::param;
    return PropertyFunctors([instance, getter]() { return variant((instance->*getter)()); },
                            [instance, setter](const variant& value) {
                                (instance->*setter)(value.convert_cast<Param>());
                            });
}

} // namespace FB

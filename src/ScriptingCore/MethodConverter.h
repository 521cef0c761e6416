#pragma once
// Method wrappers: a member function with 0, 1 or 2 parameters becomes a
// CallMethodFunctor that reads its parameters from the script's argument list.
//
//   registerMethod("sign", make_method(this, &MyAPI::sign));

#include "JSExceptions.h"
#include "utf8_tools.h"
#include "variant.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <cstddef>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace FB {

using CallMethodFunctor = std::function<variant(const VariantList&)>;

namespace detail { namespace methods {

inline void checkArgumentCount(const VariantList& in, std::size_t expected) {
    if (in.size() > expected)
        throw invalid_arguments("Too many arguments, expected " + std::to_string(expected) + ".");
}

// Parameter at position (counted from 1). A variant parameter takes the argument as it
// is and is optional; any other type is required and read with convert_cast. A value of
// the right kind that still cannot be converted (a number out of range, text without a
// UTF-8 form) fails like a value of the wrong kind, with the reason.
template <typename T>
T convertArgument(const VariantList& in, std::size_t position) {
    if constexpr (std::is_same<T, variant>::value) {
        return position <= in.size() ? in[position - 1] : variant();
    } else {
        if (position > in.size())
            throw invalid_arguments("Error: Argument " + std::to_string(position) + "is not optional.");
        try {
            return in[position - 1].template convert_cast<T>();
        } catch (const bad_variant_cast& e) {
            throw invalid_arguments("Invalid argument conversion from " + e.from + " to " + e.to +
                                    " at index " + std::to_string(position));
        } catch (const boost::numeric::bad_numeric_cast& e) {
            throw invalid_arguments("Invalid argument conversion at index " + std::to_string(position) + ": " +
                                    e.what());
        } catch (const text_conversion_error& e) {
            throw invalid_arguments("Invalid argument conversion at index " + std::to_string(position) + ": " +
                                    e.what());
        }
    }
}

// Calls f and stores its result; a function without result gives an empty variant.
template <typename R, typename Call>
variant resultOf(Call&& call) {
    if constexpr (std::is_void<R>::value) {
        call();
        return variant();
    } else {
        return variant(call());
    }
}

template <typename C, typename R, typename F>
class method_wrapper0 {
public:
    method_wrapper0(C* instance, F f) : m_instance(instance), m_f(f) {}
    variant operator()(const VariantList& in) const {
        if (!in.empty())
            return variant();
        return resultOf<R>([&]() -> R { return (m_instance->*m_f)(); });
    }

private:
    C* m_instance;
    F m_f;
};

template <typename C, typename R, typename T1, typename F>
class method_wrapper1 {
public:
    method_wrapper1(C* instance, F f) : m_instance(instance), m_f(f) {}
    variant operator()(const VariantList& in) const {
        checkArgumentCount(in, 1);
        T1 a1 = convertArgument<T1>(in, 1);
        return resultOf<R>([&]() -> R { return (m_instance->*m_f)(a1); });
    }

private:
    C* m_instance;
    F m_f;
};

template <typename C, typename R, typename T1, typename T2, typename F>
class method_wrapper2 {
public:
    method_wrapper2(C* instance, F f) : m_instance(instance), m_f(f) {}
    variant operator()(const VariantList& in) const {
        checkArgumentCount(in, 2);
        // The last parameter is read first: its error is the one a caller sees.
        T2 a2 = convertArgument<T2>(in, 2);
        T1 a1 = convertArgument<T1>(in, 1);
        return resultOf<R>([&]() -> R { return (m_instance->*m_f)(a1, a2); });
    }

private:
    C* m_instance;
    F m_f;
};

template <typename F>
struct member_traits;

#define FB_METHODS_MEMBER_TRAITS(qualifiers)                                   \
    template <typename R, typename C, typename... A>                           \
    struct member_traits<R (C::*)(A...) qualifiers> {                          \
        using result = R;                                                      \
        using params = std::tuple<std::decay_t<A>...>;                         \
        static constexpr std::size_t arity = sizeof...(A);                     \
    };
FB_METHODS_MEMBER_TRAITS()
FB_METHODS_MEMBER_TRAITS(const)
FB_METHODS_MEMBER_TRAITS(noexcept)
FB_METHODS_MEMBER_TRAITS(const noexcept)
#undef FB_METHODS_MEMBER_TRAITS

template <typename>
struct always_false : std::false_type {};

}} // namespace detail::methods

// Wraps instance->*f; the instance must outlive the functor (an object registers its own
// members, and its registries die with it).
template <typename C, typename F>
CallMethodFunctor make_method(C* instance, F f) {
    using namespace detail::methods;
    using Traits = member_traits<F>;
    using R = typename Traits::result;
    using Params = typename Traits::params;
    if constexpr (Traits::arity == 0) {
        return method_wrapper0<C, R, F>(instance, f);
    } else if constexpr (Traits::arity == 1) {
        return method_wrapper1<C, R, std::tuple_element_t<0, Params>, F>(instance, f);
    } else if constexpr (Traits::arity == 2) {
        return method_wrapper2<C, R, std::tuple_element_t<0, Params>, std::tuple_element_t<1, Params>, F>(
            instance, f);
    } else {
        static_assert(always_false<F>::value, "script methods take at most two parameters");
    }
}

} // namespace FB

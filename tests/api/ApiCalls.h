#pragma once
// Calls on orvantaAPI the way a page makes them (by name through Invoke, with variant
// arguments), and checks of the one script value each call answers.

#include "api/orvantaAPI.h"

#include <gtest/gtest.h>

#include <string>

namespace orv { namespace test {

inline std::string describe(const FB::variant& v) {
    if (v.empty())
        return "<empty>";
    if (v.is_of_type<bool>())
        return v.cast<bool>() ? "true" : "false";
    if (v.is_of_type<long>())
        return "status " + std::to_string(v.cast<long>());
    if (v.is_of_type<unsigned long>())
        return "count " + std::to_string(v.cast<unsigned long>());
    if (v.is_of_type<std::string>())
        return "\"" + v.cast<std::string>() + "\"";
    return std::string("a ") + v.get_type().name();
}

// A status is a (signed) long, always negative.
inline ::testing::AssertionResult isStatus(const FB::variant& v, long expected) {
    if (v.is_of_type<long>() && v.cast<long>() == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(v) << ", expected status " << expected;
}

inline ::testing::AssertionResult isTrue(const FB::variant& v) {
    if (v.is_of_type<bool>() && v.cast<bool>())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(v) << ", expected true";
}

inline ::testing::AssertionResult isCount(const FB::variant& v, unsigned long expected) {
    if (v.is_of_type<unsigned long>() && v.cast<unsigned long>() == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(v) << ", expected count " << expected;
}

inline ::testing::AssertionResult isText(const FB::variant& v, const std::string& expected) {
    if (v.is_of_type<std::string>() && v.cast<std::string>() == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << describe(v) << ", expected \"" << expected << "\"";
}

// 128 upper-case hex digits: a public key or a signature.
inline ::testing::AssertionResult isKeyText(const FB::variant& v) {
    if (!v.is_of_type<std::string>())
        return ::testing::AssertionFailure() << "got " << describe(v) << ", expected 128 hex digits";
    const std::string& text = v.cast<std::string>();
    if (text.size() != 128 || text.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return ::testing::AssertionFailure() << "got \"" << text << "\", expected 128 hex digits";
    return ::testing::AssertionSuccess();
}

// The message of the script error a call ends with; empty when it answers normally.
template <typename Call>
std::string scriptErrorOf(Call&& call) {
    try {
        call();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return std::string();
}

// The hash text 000102...1F.
inline std::string countingHash() {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        text += digits[i >> 4];
        text += digits[i & 15];
    }
    return text;
}

}} // namespace orv::test

#pragma once
// Reads a fuzzer's bytes as a sequence of choices and values, so one input describes a
// whole call: which method, how many arguments, each argument's script type and value.
// Running out of bytes gives zeros and empty texts, never an error: every input is a case.

#include "APITypes.h"
#include "variant.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace orv { namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    template <typename T> T number() {
        T value{};
        std::uint8_t raw[sizeof(T)] = {};
        for (auto& b : raw)
            b = byte();
        std::memcpy(&value, raw, sizeof(T));
        return value;
    }

    // A text of a length read first (one byte, or two when the length byte is 255), so
    // both short names and texts longer than any field the token layer copies come up.
    std::string text() {
        std::size_t length = byte();
        if (length == 255)
            length = number<std::uint16_t>();
        length = std::min(length, m_size - std::min(m_pos, m_size));
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), length);
        m_pos += length;
        return out;
    }

    std::wstring wideText() {
        std::size_t count = byte();
        std::wstring out;
        for (std::size_t i = 0; i < count && !empty(); ++i)
            out.push_back(static_cast<wchar_t>(number<std::uint32_t>() & 0x1FFFFF));
        return out;
    }

    // A value of any type a page or the framework may hand over (depth bounds the lists).
    FB::variant value(int depth = 0) {
        switch (byte() % 14) {
        case 0: return FB::variant();
        case 1: return FB::variant(FB::variant_detail::null());
        case 2: return FB::variant(static_cast<bool>(byte() & 1));
        case 3: return FB::variant(number<std::int32_t>());
        case 4: return FB::variant(number<double>());
        case 5: return FB::variant(number<std::int64_t>());
        case 6: return FB::variant(number<std::uint32_t>());
        case 7: return FB::variant(text());
        case 8: return FB::variant(wideText());
        case 9: return FB::variant(static_cast<long>(number<std::int64_t>()));
        case 10: return FB::variant(number<float>());
        case 11: {
            FB::VariantList list;
            const int count = depth < 3 ? byte() % 5 : 0;
            for (int i = 0; i < count; ++i)
                list.push_back(value(depth + 1));
            return FB::variant(list);
        }
        case 12: {
            FB::VariantMap map;
            const int count = depth < 3 ? byte() % 5 : 0;
            for (int i = 0; i < count; ++i)
                map[text()] = value(depth + 1);
            return FB::variant(map);
        }
        default: return FB::variant(number<std::int16_t>());
        }
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}} // namespace orv::fuzz

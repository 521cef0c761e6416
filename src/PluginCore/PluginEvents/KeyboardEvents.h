#pragma once
// Key input: the framework's key code (KeyCodes.h) and the platform's own code for the key.

#include "PluginEvent.h"
#include "KeyCodes.h"

#include <cstdint>

namespace FB {

class KeyDownEvent : public PluginEvent {
public:
    KeyDownEvent(std::int32_t key, std::int32_t osKey) : m_key_code(key), m_os_key_code(osKey) {}
    std::int32_t m_key_code;
    std::int32_t m_os_key_code;
};

class KeyUpEvent : public PluginEvent {
public:
    KeyUpEvent(std::int32_t key, std::int32_t osKey) : m_key_code(key), m_os_key_code(osKey) {}
    std::int32_t m_key_code;
    std::int32_t m_os_key_code;
};

} // namespace FB

#pragma once
// FB::TypeIDMap: member names (any variant) to numeric ids and back, handing out fresh ids
// in order. The ActiveX adapter keeps one for the whole process so that a name has the
// same DISPID in every object for the life of the process. Internet Explorer runs each tab
// on its own thread and several tabs share a process, so every operation takes the map's
// lock.

#include "variant.h"

#include <map>
#include <mutex>
#include <stdexcept>

namespace FB {

template <typename IDT>
class TypeIDMap {
public:
    explicit TypeIDMap(IDT startValue) : m_nextId(startValue) {}

    // The id stored for the value; a new one when there is none.
    IDT getIdForValue(const variant& value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_valueToId.find(value);
        if (found != m_valueToId.end())
            return found->second;
        IDT id = m_nextId++;
        m_valueToId[value] = id;
        m_idToValue[id] = value;
        return id;
    }

    bool idExists(IDT id) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_idToValue.find(id) != m_idToValue.end();
    }

    // std::out_of_range for an id never handed out; bad_variant_cast when the stored value
    // has no form of T.
    template <typename T>
    T getValueForId(IDT id) const {
        variant value;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto found = m_idToValue.find(id);
            if (found == m_idToValue.end())
                throw std::out_of_range("Unknown id");
            value = found->second;
        }
        return value.template convert_cast<T>();
    }

    void setIdForValue(IDT id, const variant& value) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_idToValue.find(id) != m_idToValue.end() || m_valueToId.find(value) != m_valueToId.end())
            throw std::runtime_error("ID or value already defined");
        m_valueToId[value] = id;
        m_idToValue[id] = value;
    }

    size_t size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_idToValue.size();
    }

private:
    mutable std::mutex m_mutex;
    std::map<variant, IDT> m_valueToId;
    std::map<IDT, variant> m_idToValue;
    IDT m_nextId;
};

} // namespace FB

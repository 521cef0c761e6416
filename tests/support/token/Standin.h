#pragma once
// The olpkcs11xsg stand-in seen from a test: its control functions (StandinControl.h)
// wrapped in C++ types. The module is loaded once (from the test executables' folder, where
// the plug-in looks for it too) and kept for the life of the process, so faults configured
// before the plug-in loads it apply to the plug-in's calls.

#include <p11-kit/pkcs11.h>

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orv { namespace test {

// One attribute of a recorded template. `value` is empty when the caller's pValue was null.
struct RecordedAttribute {
    CK_ATTRIBUTE_TYPE type = 0;
    CK_ULONG length = 0;
    std::optional<std::vector<unsigned char>> value;

    bool operator==(const RecordedAttribute& o) const
    {
        return type == o.type && length == o.length && value == o.value;
    }
};
std::ostream& operator<<(std::ostream& out, const RecordedAttribute& a);

// An attribute with a value, as a test writes an expected template.
RecordedAttribute attribute(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> value);

class Standin {
public:
    // The process's stand-in; loads it on first use. Throws std::runtime_error when the
    // module or one of its control functions is missing.
    static Standin& instance();
    // Where the build put olpkcs11xsg.so.
    static std::string modulePath();

    // The stand-in's own function list, through its C_GetFunctionList (a recorded call).
    CK_FUNCTION_LIST* functionList() const;

    void reset() const;
    void setTarget(const std::string& modulePath) const;
    void clearTarget() const; // back to the environment variable
    std::optional<std::string> target() const;

    // The nth call of `function` from now on (1 = the next) answers rv without reaching
    // the target; failAlways makes every later call answer it.
    void fail(const std::string& function, unsigned nth, CK_RV rv) const;
    void failAlways(const std::string& function, CK_RV rv) const;
    // what: slotCount(), ckaId(), ckaValue(), signature() below.
    void oversize(const std::string& what, CK_ULONG length) const;
    static const char* slotCount();
    static const char* ckaId();
    static const char* ckaValue();
    static const char* signature();

    int dropSessions() const;
    bool targetInitialized() const;
    bool finalizeTarget() const;

    // The record.
    std::size_t callCount() const;
    std::vector<std::string> calls() const; // names in order
    std::size_t callsOf(const std::string& function) const;
    std::optional<std::size_t> findCall(const std::string& function, unsigned nth = 1) const;
    std::string callName(std::size_t call) const;
    CK_RV rv(std::size_t call) const;
    bool forwarded(std::size_t call) const;
    std::optional<unsigned long> arg(std::size_t call, const std::string& name) const;
    std::optional<std::vector<unsigned char>> bytes(std::size_t call, const std::string& name) const;
    std::optional<std::vector<RecordedAttribute>> recordedTemplate(std::size_t call,
                                                                   const std::string& which) const;

    Standin(const Standin&) = delete;
    Standin& operator=(const Standin&) = delete;

private:
    Standin();
    struct Api;
    const Api* api_;
    CK_C_GetFunctionList getFunctionList_ = nullptr;
};

}} // namespace orv::test

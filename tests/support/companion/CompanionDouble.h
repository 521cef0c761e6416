#pragma once
// Installs one of the olvgui companion doubles (CompanionControl.h) for the rest of the
// process: loaded by full path from the test executables' folder, so that the plug-in's
// own load of "olvgui" by bare name finds it. A process keeps the double it installed
// (the plug-in never frees its companion): cases that need no companion or the other
// double belong in another test executable.

#include <cstdint>
#include <string>

namespace orv { namespace test {

enum class CompanionKind {
    Configurable,  // companion-ok: ShowPinCodeWindow with a configured PIN and result
    WithoutExport, // companion-noexport: no ShowPinCodeWindow
};

class CompanionDouble {
public:
    // Where the build put the double: <executable's folder>/companion-ok/olvgui.so (.dll).
    static std::string path(CompanionKind kind);

    // Loads the double (again: a second install of the same kind is harmless). Throws
    // std::runtime_error when it cannot be loaded, or when a different module named
    // olvgui is already installed in this process.
    static CompanionDouble install(CompanionKind kind);

    CompanionKind kind() const { return kind_; }

    // companion-ok only (throw std::logic_error for the other double).
    // The next calls write `pin` (at most 32 bytes of it), report its length and return
    // `result`.
    void answer(const std::string& pin, std::int32_t result = 1) const;
    // Full control: `pin` as written, `reportedLength` as written to pinLength.
    void answerRaw(const std::string& pin, std::int32_t reportedLength, std::int32_t result) const;
    void cancel() const { answer("", 0); }
    std::int32_t calls() const;
    void reset() const;

private:
    CompanionDouble(CompanionKind kind, void* module) : kind_(kind), module_(module) {}
    void* symbol(const char* name) const;

    CompanionKind kind_;
    void* module_;
};

}} // namespace orv::test

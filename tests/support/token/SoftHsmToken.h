#pragma once
// A fresh SoftHSM token for one test: a temporary token folder and softhsm2.conf
// (SOFTHSM2_CONF points at it while the object lives), one initialised token, and the
// olpkcs11xsg stand-in forwarding to SoftHSM with a cleared record and no faults.
//
// On destruction SoftHSM is finalised if it is still initialised (it crashes at process
// exit otherwise), the folder is removed and SOFTHSM2_CONF is restored.

#include "Standin.h"

#include <string>

namespace orv { namespace test {

class SoftHsmToken {
public:
    static constexpr const char* kLabel = "orvanta test";
    static constexpr const char* kSoPin = "87654321";
    static constexpr const char* kUserPin = "123456";

    // Throws std::runtime_error when SoftHSM is not built or the token cannot be made.
    SoftHsmToken();
    ~SoftHsmToken();
    SoftHsmToken(const SoftHsmToken&) = delete;
    SoftHsmToken& operator=(const SoftHsmToken&) = delete;

    // The cached SoftHSM build (tools/deps/softhsm.sh).
    static std::string prefix();
    static std::string library(); // libsofthsm2.so
    static std::string util();    // softhsm2-util

    const std::string& folder() const { return folder_; }
    const std::string& configPath() const { return config_; }
    Standin& standin() const { return standin_; }

    // Runs softhsm2-util with these arguments against this token folder; returns its exit
    // status and puts its output into `output`.
    int runUtil(const std::string& arguments, std::string& output) const;

private:
    Standin& standin_;
    std::string folder_;
    std::string config_;
    bool hadConfig_ = false;
    std::string previousConfig_;
};

}} // namespace orv::test

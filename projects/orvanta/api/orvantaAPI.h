#pragma once
// orvantaAPI: the scriptable object a page sees. Every olv method turns its arguments into
// bytes, calls the PKCS#11 session layer (or the in-process GOST engine for "olvRepair")
// on the token state of its plug-in object, and answers with one script value: true, a
// count, a text (bytes as upper-case hex) or a negative status. Token failures never
// throw; only the registration machinery's argument checks and failed argument
// conversions end a call with an exception.

#include "JSAPIAuto.h"
#include "api/TokenOwner.h"

#include <string>

namespace orv {

class orvantaAPI : public FB::JSAPIAuto {
public:
    // The object holds its plug-in only weakly: once the plug-in object is gone, every olv
    // method fails with the script error "The plugin is invalid".
    orvantaAPI(const TokenOwnerPtr& plugin, const FB::BrowserHostPtr& host);
    ~orvantaAPI() override;

    std::string get_version();

    FB::variant olvIsTokenPresentAndOK();
    FB::variant olvIsUserLoggedIn();
    FB::variant olvUserLoginDlg();
    FB::variant olvLogout();
    FB::variant olvSign(const FB::variant& name, const FB::variant& hash);
    FB::variant olvGenKeyPair(const FB::variant& name);
    FB::variant olvDestroyContainer(const FB::variant& name);
    FB::variant olvGetNumberOfContainers();
    FB::variant olvGetPublicKey(const FB::variant& name);
    FB::variant olvGetContainerName(const FB::variant& index);
    FB::variant olvRepair(const FB::variant& key, const FB::variant& hash);

private:
    // The plug-in object for the length of one call; throws FB::script_error when it is gone
    // or when the page may not use the token.
    TokenOwnerPtr plugin() const;

    TokenOwnerWeakPtr m_plugin;
    FB::BrowserHostPtr m_host;  // kept for the object's lifetime
};

} // namespace orv

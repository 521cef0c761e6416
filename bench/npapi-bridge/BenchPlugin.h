#pragma once
// The built plug-in as a browser holds it in a benchmark: the module loaded from a path,
// one instance made (given a window when asked, which is when it loads the token module)
// and its root object; all of it let go again in the browser's order at the end.

#include "FakeNpapiBrowser.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>

class BenchPlugin {
public:
    // Throws std::runtime_error when any step fails.
    BenchPlugin(orv::test::FakeNpapiBrowser& browser, const std::string& path, bool withWindow)
        : browser_(browser) {
        module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module_)
            throw std::runtime_error(dlerror());
        auto initialize = reinterpret_cast<NP_InitializeFunc>(dlsym(module_, "NP_Initialize"));
        shutdown_ = reinterpret_cast<NP_ShutdownFunc>(dlsym(module_, "NP_Shutdown"));
        if (!initialize || !shutdown_)
            throw std::runtime_error("an NPAPI export is missing");
        std::memset(&funcs_, 0, sizeof funcs_);
        funcs_.size = sizeof funcs_;
        if (initialize(browser.table(), &funcs_) != NPERR_NO_ERROR)
            throw std::runtime_error("NP_Initialize failed");
        npp_ = browser.instance(0);
        if (funcs_.newp(const_cast<char*>("application/x-orvanta"), npp_, NP_EMBED, 0, nullptr, nullptr, nullptr) !=
            NPERR_NO_ERROR)
            throw std::runtime_error("NPP_New failed");
        if (withWindow) {
            NPWindow window{};
            window.width = 300;
            window.height = 100;
            window.type = NPWindowTypeDrawable;
            if (funcs_.setwindow(npp_, &window) != NPERR_NO_ERROR)
                throw std::runtime_error("NPP_SetWindow failed");
            windowed_ = true;
        }
        if (funcs_.getvalue(npp_, NPPVpluginScriptableNPObject, &root_) != NPERR_NO_ERROR || !root_)
            throw std::runtime_error("no scriptable object");
    }
    ~BenchPlugin() {
        browser_.table()->releaseobject(root_);
        if (windowed_)
            funcs_.setwindow(npp_, nullptr);
        funcs_.destroy(npp_, nullptr);
        browser_.destroyInstance(npp_);
        shutdown_();
        dlclose(module_);
    }
    BenchPlugin(const BenchPlugin&) = delete;
    BenchPlugin& operator=(const BenchPlugin&) = delete;

    NPP npp() const { return npp_; }
    NPObject* root() const { return root_; }

private:
    orv::test::FakeNpapiBrowser& browser_;
    void* module_ = nullptr;
    NP_ShutdownFunc shutdown_ = nullptr;
    NPPluginFuncs funcs_;
    NPP npp_ = nullptr;
    NPObject* root_ = nullptr;
    bool windowed_ = false;
};

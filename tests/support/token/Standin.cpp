#include "Standin.h"

#include "StandinControl.h"

#include <dlfcn.h>

#include <iomanip>
#include <stdexcept>

namespace orv { namespace test {

struct Standin::Api {
    standin_reset_fn reset;
    standin_set_target_fn setTarget;
    standin_target_fn target;
    standin_fail_fn fail;
    standin_oversize_fn oversize;
    standin_drop_sessions_fn dropSessions;
    standin_target_initialized_fn targetInitialized;
    standin_finalize_target_fn finalizeTarget;
    standin_call_count_fn callCount;
    standin_call_name_fn callName;
    standin_calls_of_fn callsOf;
    standin_find_call_fn findCall;
    standin_call_rv_fn callRv;
    standin_call_forwarded_fn callForwarded;
    standin_call_arg_fn callArg;
    standin_call_bytes_fn callBytes;
    standin_template_size_fn templateSize;
    standin_template_attr_fn templateAttr;
};

namespace {

template <typename F> void bind(void* module, const char* name, F& out)
{
    out = reinterpret_cast<F>(dlsym(module, name));
    if (!out)
        throw std::runtime_error(std::string("olpkcs11xsg stand-in lacks ") + name);
}

} // namespace

std::string Standin::modulePath()
{
    return ORV_STANDIN_MODULE_PATH;
}

Standin& Standin::instance()
{
    static Standin standin;
    return standin;
}

Standin::Standin()
{
    // Never closed: the plug-in under test shares this copy of the module.
    void* module = dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        throw std::runtime_error("cannot load the olpkcs11xsg stand-in: " + std::string(dlerror()));
    static Api api;
    bind(module, "standin_reset", api.reset);
    bind(module, "standin_set_target", api.setTarget);
    bind(module, "standin_target", api.target);
    bind(module, "standin_fail", api.fail);
    bind(module, "standin_oversize", api.oversize);
    bind(module, "standin_drop_sessions", api.dropSessions);
    bind(module, "standin_target_initialized", api.targetInitialized);
    bind(module, "standin_finalize_target", api.finalizeTarget);
    bind(module, "standin_call_count", api.callCount);
    bind(module, "standin_call_name", api.callName);
    bind(module, "standin_calls_of", api.callsOf);
    bind(module, "standin_find_call", api.findCall);
    bind(module, "standin_call_rv", api.callRv);
    bind(module, "standin_call_forwarded", api.callForwarded);
    bind(module, "standin_call_arg", api.callArg);
    bind(module, "standin_call_bytes", api.callBytes);
    bind(module, "standin_template_size", api.templateSize);
    bind(module, "standin_template_attr", api.templateAttr);
    api_ = &api;

    bind(module, "C_GetFunctionList", getFunctionList_);
}

CK_FUNCTION_LIST* Standin::functionList() const
{
    CK_FUNCTION_LIST* list = nullptr;
    getFunctionList_(&list);
    return list;
}

void Standin::reset() const { api_->reset(); }
void Standin::setTarget(const std::string& modulePath) const { api_->setTarget(modulePath.c_str()); }
void Standin::clearTarget() const { api_->setTarget(nullptr); }

std::optional<std::string> Standin::target() const
{
    const char* t = api_->target();
    if (!t)
        return std::nullopt;
    return std::string(t);
}

void Standin::fail(const std::string& function, unsigned nth, CK_RV rv) const
{
    if (nth == 0)
        throw std::invalid_argument("Standin::fail counts calls from 1; use failAlways");
    api_->fail(function.c_str(), nth, rv);
}

void Standin::failAlways(const std::string& function, CK_RV rv) const { api_->fail(function.c_str(), 0, rv); }

void Standin::oversize(const std::string& what, CK_ULONG length) const { api_->oversize(what.c_str(), length); }

const char* Standin::slotCount() { return STANDIN_SLOT_COUNT; }
const char* Standin::ckaId() { return STANDIN_CKA_ID; }
const char* Standin::ckaValue() { return STANDIN_CKA_VALUE; }
const char* Standin::signature() { return STANDIN_SIGNATURE; }

int Standin::dropSessions() const { return api_->dropSessions(); }
bool Standin::targetInitialized() const { return api_->targetInitialized() != 0; }
bool Standin::finalizeTarget() const { return api_->finalizeTarget() != 0; }

std::size_t Standin::callCount() const { return api_->callCount(); }

std::vector<std::string> Standin::calls() const
{
    std::vector<std::string> names;
    for (std::size_t i = 0, n = api_->callCount(); i < n; ++i)
        names.push_back(api_->callName(i));
    return names;
}

std::size_t Standin::callsOf(const std::string& function) const { return api_->callsOf(function.c_str()); }

std::optional<std::size_t> Standin::findCall(const std::string& function, unsigned nth) const
{
    std::size_t index = api_->findCall(function.c_str(), nth);
    if (index == static_cast<std::size_t>(-1))
        return std::nullopt;
    return index;
}

std::string Standin::callName(std::size_t call) const
{
    const char* name = api_->callName(call);
    return name ? name : "";
}

CK_RV Standin::rv(std::size_t call) const { return api_->callRv(call); }
bool Standin::forwarded(std::size_t call) const { return api_->callForwarded(call) != 0; }

std::optional<unsigned long> Standin::arg(std::size_t call, const std::string& name) const
{
    unsigned long value = 0;
    if (!api_->callArg(call, name.c_str(), &value))
        return std::nullopt;
    return value;
}

std::optional<std::vector<unsigned char>> Standin::bytes(std::size_t call, const std::string& name) const
{
    std::size_t length = 0;
    const unsigned char* data = api_->callBytes(call, name.c_str(), &length);
    if (!data)
        return std::nullopt;
    return std::vector<unsigned char>(data, data + length);
}

std::optional<std::vector<RecordedAttribute>> Standin::recordedTemplate(std::size_t call,
                                                                        const std::string& which) const
{
    std::size_t size = api_->templateSize(call, which.c_str());
    if (size == static_cast<std::size_t>(-1))
        return std::nullopt;
    std::vector<RecordedAttribute> attributes;
    for (std::size_t i = 0; i < size; ++i) {
        RecordedAttribute a;
        unsigned long type = 0, length = 0;
        const unsigned char* value = nullptr;
        if (!api_->templateAttr(call, which.c_str(), i, &type, &length, &value))
            break;
        a.type = type;
        a.length = length;
        if (value)
            a.value = std::vector<unsigned char>(value, value + length);
        attributes.push_back(std::move(a));
    }
    return attributes;
}

RecordedAttribute attribute(CK_ATTRIBUTE_TYPE type, std::vector<unsigned char> value)
{
    RecordedAttribute a;
    a.type = type;
    a.length = value.size();
    a.value = std::move(value);
    return a;
}

std::ostream& operator<<(std::ostream& out, const RecordedAttribute& a)
{
    out << "{type 0x" << std::hex << a.type << std::dec << ", length " << a.length;
    if (a.value) {
        out << ", value";
        for (unsigned char b : *a.value)
            out << ' ' << std::hex << std::setw(2) << std::setfill('0') << unsigned(b) << std::dec;
    } else {
        out << ", no value";
    }
    return out << '}';
}

}} // namespace orv::test

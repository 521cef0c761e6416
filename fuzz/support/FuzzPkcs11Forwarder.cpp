// The vendor module as the fuzz_pkcs11_session target's session layer loads it (by path, from
// the folder of the executable): its function list is the one the fuzzer itself exports, so
// every answer of the module comes from the fuzzer's input.

#include <p11-kit/pkcs11.h>

#include <dlfcn.h>

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    using GetList = CK_RV (*)(CK_FUNCTION_LIST_PTR_PTR);
    auto get = reinterpret_cast<GetList>(dlsym(RTLD_DEFAULT, "orvFuzzModuleFunctionList"));
    return get ? get(list) : CKR_GENERAL_ERROR;
}

#include "platform/Resource.h"

#include <windows.h>

namespace platform {

namespace {

// The module that holds this function: the DLL when the library is built into one.
HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}

}  // namespace

bool LoadModuleResource(const char* type, const char* name, std::string& bytes) {
    const HMODULE module = OwnModule();
    if (!module) return false;
    const HRSRC info = FindResourceA(module, name, type);
    if (!info) return false;
    const HGLOBAL handle = LoadResource(module, info);
    if (!handle) return false;
    const DWORD size = SizeofResource(module, info);
    const void* data = LockResource(handle);
    if (!data || size == 0) return false;
    bytes.assign(static_cast<const char*>(data), size);
    return true;
}

}  // namespace platform

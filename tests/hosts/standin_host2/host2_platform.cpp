#include "tests/hosts/standin_host2/host2_platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>

#include <fstream>
#endif

namespace lowpass::standin2 {

#if defined(_WIN32)

bool LoadPluginModule(const std::string& path, PluginModule* module, std::string* error) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    HMODULE handle = LoadLibraryW(wide.c_str());
    if (handle == nullptr) {
        *error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
        return false;
    }
    const auto find = [handle](const char* name) { return reinterpret_cast<void*>(GetProcAddress(handle, name)); };
    module->getFilterPluginTable = reinterpret_cast<aviutl2::GetFilterPluginTableFunc>(find("GetFilterPluginTable"));
    module->requiredVersion = reinterpret_cast<aviutl2::RequiredVersionFunc>(find("RequiredVersion"));
    module->initializePlugin = reinterpret_cast<aviutl2::InitializePluginFunc>(find("InitializePlugin"));
    module->uninitializePlugin = reinterpret_cast<aviutl2::UninitializePluginFunc>(find("UninitializePlugin"));
    module->initializeLogger = reinterpret_cast<aviutl2::InitializeLoggerFunc>(find("InitializeLogger"));
    return true;
}

std::uint64_t CommittedMemoryBytes() {
    // Every committed private region of the address space (heap blocks
    // included, which wine's process counters leave out).
    std::uint64_t total = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* at = nullptr;
    while (VirtualQuery(at, &info, sizeof(info)) == sizeof(info)) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

#else

bool LoadPluginModule(const std::string& path, PluginModule* module, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        *error = dlerror();
        return false;
    }
    module->getFilterPluginTable =
        reinterpret_cast<aviutl2::GetFilterPluginTableFunc>(dlsym(handle, "GetFilterPluginTable"));
    module->requiredVersion = reinterpret_cast<aviutl2::RequiredVersionFunc>(dlsym(handle, "RequiredVersion"));
    module->initializePlugin = reinterpret_cast<aviutl2::InitializePluginFunc>(dlsym(handle, "InitializePlugin"));
    module->uninitializePlugin =
        reinterpret_cast<aviutl2::UninitializePluginFunc>(dlsym(handle, "UninitializePlugin"));
    module->initializeLogger = reinterpret_cast<aviutl2::InitializeLoggerFunc>(dlsym(handle, "InitializeLogger"));
    return true;
}

std::uint64_t CommittedMemoryBytes() {
    // Resident memory: the plug-in's copy is written in full by the read.
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            std::uint64_t kib = 0;
            status >> kib;
            return kib * 1024;
        }
        std::getline(status, key);
    }
    return 0;
}

#endif

}  // namespace lowpass::standin2

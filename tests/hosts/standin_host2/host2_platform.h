// What the 64-bit stand-in host needs from the operating system: loading
// the plug-in by its file name (LoadLibraryW on Windows, dlopen on Linux)
// and the memory it holds.
#pragma once

#include <cstdint>
#include <string>

#include "host/aviutl2_api.h"

namespace lowpass::standin2 {

struct PluginModule {
    aviutl2::GetFilterPluginTableFunc getFilterPluginTable = nullptr;
    aviutl2::RequiredVersionFunc requiredVersion = nullptr;
    aviutl2::InitializePluginFunc initializePlugin = nullptr;
    aviutl2::UninitializePluginFunc uninitializePlugin = nullptr;
    aviutl2::InitializeLoggerFunc initializeLogger = nullptr;
};

// Loads the module (it stays loaded) and looks its exports up by name.
// False with a message when the module does not load.
bool LoadPluginModule(const std::string& path, PluginModule* module, std::string* error);

// The memory the process holds now, in bytes: committed private memory on
// Windows (walked with VirtualQuery), resident memory on Linux.
std::uint64_t CommittedMemoryBytes();

}  // namespace lowpass::standin2

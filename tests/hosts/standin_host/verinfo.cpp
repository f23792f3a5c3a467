// lowpass-verinfo: reads a module's version resource back through the
// Windows version API and prints what it finds, one key=value per line,
// for tools/check-auf.sh.
//
//   lowpass-verinfo MODULE
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string HexBytes(const char* bytes, std::size_t size) {
    std::string out;
    char digits[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        out += digits;
    }
    return out;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    std::printf("acp=%u\n", GetACP());

    // The languages the version resource is tagged with.
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::vector<WORD> languages;
    if (module != nullptr) {
        EnumResourceLanguagesA(module, reinterpret_cast<LPCSTR>(RT_VERSION), MAKEINTRESOURCEA(1), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        FreeLibrary(module);
    }
    std::string list;
    for (WORD language : languages) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", language);
        if (!list.empty()) list.push_back(',');
        list.append(text);
    }
    std::printf("resource_languages=%s\n", list.c_str());

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        std::printf("error=GetFileVersionInfoSizeA failed (%lu)\n", GetLastError());
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) {
        std::printf("error=GetFileVersionInfoA failed (%lu)\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        std::printf("fixed_file_version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        std::printf("fixed_product_version=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
                    LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                    LOWORD(fixed->dwProductVersionLS));
    }
    WORD* translation = nullptr;
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4) {
        std::string pairs;
        for (UINT i = 0; i + 4 <= length; i += 4) {
            char text[24];
            std::snprintf(text, sizeof text, "%04x,%u", translation[i / 2], translation[i / 2 + 1]);
            if (!pairs.empty()) pairs.push_back(';');
            pairs.append(text);
        }
        std::printf("translation=%s\n", pairs.c_str());
    }

    const char* const keys[] = {"CompanyName",      "FileDescription", "FileVersion",    "InternalName",
                                "LegalCopyright",   "OriginalFilename", "ProductName",   "ProductVersion"};
    for (const char* key : keys) {
        const std::string query = std::string("\\StringFileInfo\\041103a4\\") + key;
        char* value = nullptr;
        if (VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value != nullptr) {
            std::printf("%s=%s\n", key, value);
            if (std::string(key) == "FileDescription")
                std::printf("FileDescription_cp932_ansi=%s\n", HexBytes(value, std::strlen(value)).c_str());
        }
    }

    // The same text through the wide API, converted to code page 932
    // whatever the process's ANSI code page is.
    std::vector<wchar_t> wide(GetFileVersionInfoSizeW(std::wstring(path, path + std::strlen(path)).c_str(), &handle));
    const std::wstring widePath(path, path + std::strlen(path));
    if (!wide.empty() && GetFileVersionInfoW(widePath.c_str(), 0, static_cast<DWORD>(wide.size()), wide.data())) {
        wchar_t* value = nullptr;
        if (VerQueryValueW(wide.data(), L"\\StringFileInfo\\041103a4\\FileDescription",
                           reinterpret_cast<void**>(&value), &length) &&
            value != nullptr) {
            char bytes[256] = {};
            const int n = WideCharToMultiByte(932, 0, value, -1, bytes, sizeof bytes, nullptr, nullptr);
            std::printf("FileDescription_cp932_wide=%s\n", HexBytes(bytes, n > 0 ? static_cast<std::size_t>(n - 1) : 0).c_str());
            std::string units;
            for (const wchar_t* p = value; *p; ++p) {
                char text[8];
                std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(*p));
                units += text;
            }
            std::printf("FileDescription_utf16=%s\n", units.c_str());
        }
    }
    return 0;
}

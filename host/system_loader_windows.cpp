#include "host/system_loader.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

namespace host::system_loader {

namespace {

// UTF-8 to the UTF-16 the wide Windows functions take; the ANSI ones would lose every
// character outside the user's code page.
std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(std::size_t(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), length);
    return result;
}

std::string narrow(std::wstring_view text) {
    if (text.empty()) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(std::size_t(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

// The system's text for an error code, in UTF-8, with the code itself, since the text may
// be in the user's language or missing.
std::string describeError(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    const std::string number = "error " + std::to_string(code);
    return message.empty() ? number : narrow(message) + " (" + number + ")";
}

// Backslashes throughout: the loader documents no other separator.
std::wstring windowsPath(const std::string& path) {
    std::wstring result = wide(path);
    std::replace(result.begin(), result.end(), L'/', L'\\');
    return result;
}

}  // namespace

std::string whyNotAFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(windowsPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return describeError(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "it is a directory";
    return {};
}

void* openLibrary(const std::string& path, std::string& reason) {
    // LoadLibrary searches the system's folders for a bare name, so the path is made absolute
    // first; the library's own dependencies are then looked for beside it.
    const std::wstring given = windowsPath(path);
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring absolute(size, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), size, absolute.data(), nullptr);
    if (length == 0 || length >= size) {
        reason = describeError(GetLastError());
        return nullptr;
    }
    absolute.resize(length);
    // No message box for a file that is not a library: the host's user would have to click
    // it away, and a test run would hang on it.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE library = LoadLibraryExW(absolute.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    SetThreadErrorMode(previousMode, nullptr);
    if (library == nullptr) reason = describeError(error);
    return reinterpret_cast<void*>(library);
}

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace host::system_loader

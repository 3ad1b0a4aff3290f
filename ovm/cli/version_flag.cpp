// ovm --version: what a bug report needs to know about this ovm. The first line is
// "ovm VERSION" alone, as help2man and packaging scripts read it; the compiler and the
// bundled library follow on lines of their own.

#include <array>
#include <string>

#include "host/module_library.h"
#include "ovm/cli/commands.h"

namespace ovm::cli {

namespace {

// The compiler that built this file, from its own predefined macros. clang also defines
// __GNUC__ (as 4.2), so it is asked first.
std::string compiler() {
    auto version = [](int major, int minor, int patch) {
        return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    };
#if defined(__clang__)
    return "clang " + version(__clang_major__, __clang_minor__, __clang_patchlevel__);
#elif defined(__GNUC__)
    return "GCC " + version(__GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
#else
    (void)version;
    return "unknown";
#endif
}

// The library's text comes from foreign code: anything but printable ASCII becomes '?', so
// that it cannot steer the terminal.
std::string printable(const char16_t* text) {
    std::string out;
    for (; *text != u'\0'; ++text) out += *text >= 0x20 && *text < 0x7f ? char(*text) : '?';
    return out;
}

std::string libraryLine(const std::string& path) {
    try {
        const host::ModuleLibrary library(path);
        const auto factory = library.factory();
        if (!factory) return "library: " + path + ": the factory does not answer the factory interface";
        int32_t sdkVersion = 0;
        // One unit more than the library may fill, and zeroed: the text ends even if the
        // library ignores the capacity's terminator.
        std::array<char16_t, 257> text{};
        const int32_t result = factory->getSdkInfo(&sdkVersion, int32_t(text.size() - 1), text.data());
        if (result != mp::kResultOk)
            return "library: " + path + ": getSdkInfo failed (" + std::to_string(result) + ")";
        return "library: " + path + ": " + printable(text.data()) + ", interface version " +
               std::to_string(sdkVersion);
    } catch (const std::exception& error) {
        return std::string("library: not loaded: ") + error.what();
    }
}

std::string versionText() {
    return "ovm " OVM_VERSION "\ncompiler: " + compiler() + "\n" + libraryLine(defaultLibraryPath());
}

}  // namespace

void addVersionFlag(CLI::App& app) {
    app.set_version_flag(
        "--version", versionText,
        "Print the version, the compiler that built ovm and the bundled library's build text");
}

}  // namespace ovm::cli

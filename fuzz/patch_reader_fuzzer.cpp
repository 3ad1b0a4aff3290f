// Reads the input as a patch file, then builds an engine from each patch that reads well,
// against the built Dynamics.ovm and its description: module names, pins, values,
// connections and automation are checked and the module objects created, but no audio runs.
// A wrong patch must end in an ovm::Error of the patch class (or the library class, when
// the library refuses a module); anything else escaping, or a crash, is a fault.

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "description/library_description_reader.h"
#include "engine/engine.h"
#include "engine/engine_defaults.h"
#include "engine/errors.h"
#include "ovm/core/patch_reader.h"
#include "tests/support/dynamics_library.h"

namespace {

const ovm::LibraryDescription& description() {
    static const auto* loaded =
        new ovm::LibraryDescription(ovm::readLibraryDescription(DYNAMICS_LIBRARY_PATH));
    return *loaded;
}

void expectClass(const ovm::Error& error, bool libraryAllowed) {
    if (error.code() == ovm::ExitCode::patch || (libraryAllowed && error.code() == ovm::ExitCode::library))
        return;
    std::fprintf(stderr, "patch_reader_fuzzer: error of class %d: %s\n", int(error.code()), error.what());
    std::abort();
}

void buildEngine(const ovm::Patch& patch) {
    ovm::EngineConfig config;
    config.blockSize = patch.blockSize.value_or(ovm::kDefaultBlockSize);
    config.inputChannels = 2;
    try {
        const ovm::Engine engine(patch, description(), testing_support::dynamicsFactory(), config);
    } catch (const ovm::Error& error) {
        expectClass(error, true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        buildEngine(ovm::parsePatch(text, "fuzz.toml"));
    } catch (const ovm::Error& error) {
        expectClass(error, false);
    }
    return 0;
}

// Writes the bundle's Turtle from the library's description and the limiter patch, at build
// time, so that nothing the description says is written twice.
//
//   dynamics-lv2-turtle DESCRIPTION.toml BINARY_NAME BUNDLE_FOLDER

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>

#include "description/library_description_reader.h"
#include "lv2/limiter_patch.h"
#include "lv2/turtle.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DESCRIPTION.toml BINARY_NAME BUNDLE_FOLDER\n", argv[0]);
        return 2;
    }
    try {
        const auto layouts = dynamics_lv2::bundleLayouts(ovm::readLibraryDescription(argv[1]),
                                                         dynamics_lv2::limiterPatch());
        const std::string folder = argv[3];
        writeFile(folder + "/manifest.ttl", dynamics_lv2::manifestTurtle(layouts, argv[2]));
        writeFile(folder + "/" + dynamics_lv2::kPluginsFile, dynamics_lv2::pluginsTurtle(layouts));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
}

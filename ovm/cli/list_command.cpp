// ovm list [LIB] and ovm info MODULE: the modules a library describes, confirmed through
// its factory.

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "host/module_library.h"
#include "host/module_driver.h"
#include "ovm/cli/commands.h"
#include "engine/errors.h"
#include "ovm/core/library_lookup.h"
#include "description/library_description_reader.h"

namespace ovm::cli {

std::string defaultLibraryPath() { return bundledLibraryFolder() + "/Dynamics.ovm"; }

namespace {

struct LibraryOptions {
    std::string path;
    bool json = false;
};

std::unique_ptr<host::ModuleLibrary> openLibrary(const std::string& path) {
    try {
        return std::make_unique<host::ModuleLibrary>(path);
    } catch (const host::LibraryError& error) {
        throw libraryError(error.what());
    }
}

// Creates the module through the factory: 0 when it exists, else the factory's result.
int32_t confirmModule(mp::IMpFactory2* factory, const std::string& id) {
    if (factory == nullptr) return mp::kResultNoInterface;
    host::ComPtr<mp::IMpPlugin2> object;
    const int32_t result = factory->createInstance(host::toModuleId(id).c_str(), 0, object.put());
    return result == mp::kResultOk && !object ? mp::kResultFail : result;
}

nlohmann::json pinJson(const PinDescription& pin, int id) {
    return {{"id", id},
            {"name", pin.name},
            {"direction", pin.output ? "out" : "in"},
            {"datatype", pin.audio ? "audio" : "float"},
            {"unit", pin.unit},
            {"default", pin.defaultValue}};
}

nlohmann::json moduleJson(const ModuleDescription& module, int32_t created) {
    nlohmann::json pins = nlohmann::json::array();
    for (std::size_t i = 0; i < module.pins.size(); ++i) pins.push_back(pinJson(module.pins[i], int(i)));
    return {{"id", module.id},         {"name", module.name}, {"summary", module.summary},
            {"created", created == 0}, {"result", created},   {"pins", pins}};
}

std::string pinLine(const PinDescription& pin, std::size_t id) {
    std::string line = "    " + std::to_string(id) + "  " + pin.name;
    line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
    line += std::string(pin.output ? "out " : "in  ") + (pin.audio ? "audio" : "float");
    if (!pin.unit.empty()) line += "  " + pin.unit;
    if (!pin.audio) {
        char number[32];
        std::snprintf(number, sizeof number, "%g", pin.defaultValue);
        line += std::string("  default ") + number;
    }
    return line;
}

void printModule(const ModuleDescription& module, int32_t created, bool withPins) {
    std::printf(
        "  %-16s %-12s %s%s\n", module.id.c_str(), module.name.c_str(), module.summary.c_str(),
        created == 0 ? "" : ("  [NOT CREATED: factory result " + std::to_string(created) + "]").c_str());
    if (withPins)
        for (std::size_t i = 0; i < module.pins.size(); ++i)
            std::printf("%s\n", pinLine(module.pins[i], i).c_str());
}

void listModules(const LibraryOptions& options) {
    const auto library = openLibrary(options.path);
    const LibraryDescription description = readLibraryDescription(options.path);
    const auto factory = library->factory();
    nlohmann::json modules = nlohmann::json::array();
    int failed = 0;
    if (!options.json) std::printf("%s (%s)\n", options.path.c_str(), description.path.c_str());
    for (const ModuleDescription& module : description.modules) {
        const int32_t created = confirmModule(factory.get(), module.id);
        failed += created != 0;
        if (options.json)
            modules.push_back(moduleJson(module, created));
        else
            printModule(module, created, true);
    }
    if (options.json)
        std::printf("%s\n", nlohmann::json{{"library", options.path}, {"modules", modules}}.dump(2).c_str());
    if (failed > 0) throw libraryError(std::to_string(failed) + " described module(s) could not be created");
}

void showModule(const LibraryOptions& options, const std::string& name) {
    const auto library = openLibrary(options.path);
    const LibraryDescription description = readLibraryDescription(options.path);
    const ModuleDescription* module = description.find(name);
    if (module == nullptr)
        throw usageError("no module '" + name + "' in " + description.path + " ('ovm list' shows them)");
    const int32_t created = confirmModule(library->factory().get(), module->id);
    if (options.json)
        std::printf("%s\n", moduleJson(*module, created).dump(2).c_str());
    else
        printModule(*module, created, true);
    if (created != 0)
        throw libraryError("'" + module->id + "' is described but could not be created (factory result " +
                           std::to_string(created) + ")");
}

}  // namespace

void addListCommand(CLI::App& app) {
    auto options = std::make_shared<LibraryOptions>();
    options->path = defaultLibraryPath();
    CLI::App* list =
        app.add_subcommand("list", "List the modules of a library and confirm each through its factory");
    list->add_option("LIB", options->path, "Module library (default: the Dynamics.ovm ovm ships with)");
    list->add_flag("--json", options->json, "Print JSON for machines");
    list->callback([options] { listModules(*options); });
}

void addInfoCommand(CLI::App& app) {
    auto options = std::make_shared<LibraryOptions>();
    options->path = defaultLibraryPath();
    auto name = std::make_shared<std::string>();
    CLI::App* info = app.add_subcommand("info", "Show one module and its pins");
    info->add_option("MODULE", *name, "Module identifier or short name")->required();
    info->add_option("--library,-l", options->path, "Module library (default: the Dynamics.ovm ovm ships with)");
    info->add_flag("--json", options->json, "Print JSON for machines");
    info->callback([options, name] { showModule(*options, *name); });
}

}  // namespace ovm::cli

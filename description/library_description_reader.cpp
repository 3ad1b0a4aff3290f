#include "description/library_description_reader.h"

#include <toml++/toml.h>

#include <filesystem>

#include "description/text_file.h"
#include "description/toml_fields.h"
#include "engine/errors.h"

namespace ovm {

std::string descriptionPathFor(const std::string& libraryPath) {
    return std::filesystem::path(libraryPath).replace_extension(".toml").string();
}

namespace {

PinDescription readPin(const TomlFields& pin) {
    PinDescription d;
    d.name = pin.requiredString("name");
    const std::string direction = pin.requiredString("direction");
    if (direction != "in" && direction != "out") pin.fail("direction", "must be \"in\" or \"out\"");
    d.output = direction == "out";
    const std::string datatype = pin.requiredString("datatype");
    if (datatype != "audio" && datatype != "float") pin.fail("datatype", "must be \"audio\" or \"float\"");
    d.audio = datatype == "audio";
    d.unit = pin.optionalString("unit").value_or("");
    d.defaultValue = pin.optionalNumber("default").value_or(0.0);
    d.maxSamples = pin.optionalNumber("max_samples");
    d.minimum = pin.optionalNumber("minimum");
    d.maximum = pin.optionalNumber("maximum");
    return d;
}

ModuleDescription readModule(const TomlFields& module) {
    ModuleDescription d;
    d.id = module.requiredString("id");
    d.name = module.optionalString("name").value_or(d.id);
    d.summary = module.optionalString("summary").value_or("");
    for (const TomlFields& pin : module.tables("pin")) d.pins.push_back(readPin(pin));
    return d;
}

}  // namespace

LibraryDescription parseLibraryDescription(std::string_view text, const std::string& path) {
    const TomlFields root = TomlFields::parse(text, path, ExitCode::library);
    LibraryDescription description;
    description.path = path;
    description.libraryName = root.optionalString("library").value_or("");
    for (const TomlFields& module : root.tables("module")) description.modules.push_back(readModule(module));
    if (description.modules.empty()) root.fail("module", "the description lists no modules");
    return description;
}

LibraryDescription readLibraryDescription(const std::string& libraryPath) {
    const std::string path = descriptionPathFor(libraryPath);
    return parseLibraryDescription(readTextFile(path, "the module description", ExitCode::library), path);
}

}  // namespace ovm

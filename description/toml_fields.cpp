#include "description/toml_fields.h"

#include <algorithm>
#include <sstream>

namespace ovm {

std::string tomlValueText(const toml::node& value) {
    if (const auto* text = value.as_string()) return text->get();
    if (const auto* integer = value.as_integer()) return std::to_string(integer->get());
    if (const auto* number = value.as_floating_point()) {
        std::ostringstream out;
        out.precision(17);
        out << number->get();
        return out.str();
    }
    if (const auto* flag = value.as_boolean()) return flag->get() ? "true" : "false";
    return "(a table or array)";
}

TomlFields TomlFields::parse(std::string_view text, const std::string& path, ExitCode errorClass) {
    try {
        auto document = std::make_shared<const toml::table>(toml::parse(text, path));
        const toml::table& root = *document;
        return TomlFields(std::move(document), root, path, "", errorClass);
    } catch (const toml::parse_error& error) {
        const auto& at = error.source().begin;
        throw Error(errorClass, path + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
                                    ": " + std::string(error.description()));
    }
}

TomlFields::TomlFields(std::shared_ptr<const toml::table> document, const toml::table& table,
                       std::string path, std::string context, ExitCode errorClass)
    : document(std::move(document)),
      node(&table),
      path(std::move(path)),
      context(std::move(context)),
      errorClass(errorClass) {}

std::string TomlFields::where(std::string_view key) const {
    const toml::node* at = key.empty() ? nullptr : node->get(key);
    const auto line = at != nullptr ? at->source().begin.line : node->source().begin.line;
    return path + ":" + std::to_string(line);
}

void TomlFields::fail(std::string_view key, const std::string& message) const {
    std::string field = context;
    if (!key.empty()) field += (field.empty() ? "" : ".") + std::string(key);
    throw Error(errorClass, where(key) + ": " + (field.empty() ? "" : "'" + field + "': ") + message);
}

std::string TomlFields::requiredString(std::string_view key) const {
    auto value = optionalString(key);
    if (!value) fail(key, "missing (a text is required)");
    return *value;
}

std::optional<std::string> TomlFields::optionalString(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) fail(key, "must be a text");
    return value->as_string()->get();
}

std::optional<double> TomlFields::optionalNumber(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_number()) fail(key, "must be a number");
    return value->value<double>();
}

std::optional<long long> TomlFields::optionalInteger(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_integer()) fail(key, "must be a whole number");
    return value->as_integer()->get();
}

std::optional<std::string> TomlFields::optionalQuantity(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string() && !value->is_number()) fail(key, "must be a number or a text such as \"5 ms\"");
    return tomlValueText(*value);
}

std::vector<std::string> TomlFields::stringArray(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return {};
    const toml::array* array = value->as_array();
    if (array == nullptr) fail(key, "must be an array of texts");
    std::vector<std::string> out;
    for (const toml::node& element : *array) {
        if (!element.is_string()) fail(key, "must be an array of texts");
        out.push_back(element.as_string()->get());
    }
    return out;
}

std::vector<TomlFields> TomlFields::tables(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return {};
    const toml::array* array = value->as_array();
    if (array == nullptr) fail(key, "must be an array of tables ([[" + std::string(key) + "]])");
    std::vector<TomlFields> out;
    for (std::size_t i = 0; i < array->size(); ++i) {
        const toml::table* table = (*array)[i].as_table();
        if (table == nullptr) fail(key, "must be an array of tables ([[" + std::string(key) + "]])");
        out.emplace_back(document, *table, path, std::string(key) + "[" + std::to_string(i + 1) + "]",
                         errorClass);
    }
    return out;
}

std::vector<std::pair<std::string, TomlFields>> TomlFields::namedTables(std::string_view key) const {
    const toml::node* value = node->get(key);
    if (value == nullptr) return {};
    const toml::table* table = value->as_table();
    if (table == nullptr) fail(key, "must be a table of tables ([" + std::string(key) + ".name])");
    std::vector<std::pair<std::string, TomlFields>> out;
    for (const auto& [name, child] : *table) {
        const toml::table* childTable = child.as_table();
        const std::string childName(name.str());
        if (childTable == nullptr) fail(key, "'" + childName + "' must be a table");
        out.emplace_back(childName, TomlFields(document, *childTable, path, childName, errorClass));
    }
    // Tables come in key order; sort by their line so messages follow the file.
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return a.second.table().source().begin.line < b.second.table().source().begin.line;
    });
    return out;
}

void TomlFields::allowOnly(std::initializer_list<std::string_view> keys) const {
    for (const auto& [key, value] : *node) {
        const std::string_view name = key.str();
        if (std::find(keys.begin(), keys.end(), name) == keys.end())
            fail(name, "unknown key (expected one of the documented keys)");
    }
}

}  // namespace ovm

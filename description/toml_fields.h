#pragma once

#include <toml++/toml.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/errors.h"

namespace ovm {

// Typed access to one TOML table that reports every problem as an ovm::Error of one
// class, naming the file, the line and the field.
class TomlFields {
public:
    // Parses a whole document; syntax errors name the line and column.
    static TomlFields parse(std::string_view text, const std::string& path, ExitCode errorClass);

    TomlFields(std::shared_ptr<const toml::table> document, const toml::table& table, std::string path,
               std::string context, ExitCode errorClass);

    std::string requiredString(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;
    std::optional<double> optionalNumber(std::string_view key) const;
    std::optional<long long> optionalInteger(std::string_view key) const;
    // A value written either as a number or as a text with a unit; empty when absent.
    std::optional<std::string> optionalQuantity(std::string_view key) const;
    std::vector<std::string> stringArray(std::string_view key) const;
    // The tables of an array of tables ([[key]]); empty when absent.
    std::vector<TomlFields> tables(std::string_view key) const;
    // The sub-tables of a table ([key.name]), with their names.
    std::vector<std::pair<std::string, TomlFields>> namedTables(std::string_view key) const;

    const toml::table& table() const { return *node; }
    // "file:line" of the key, or of the table when the key is absent.
    std::string where(std::string_view key = {}) const;
    [[noreturn]] void fail(std::string_view key, const std::string& message) const;
    // Every key must be one of the allowed ones: a misspelt key is an error, not a silent default.
    void allowOnly(std::initializer_list<std::string_view> keys) const;

private:
    // Keeps a parsed document alive for the tables that point into it.
    std::shared_ptr<const toml::table> document;
    const toml::table* node;
    std::string path;
    std::string context;
    ExitCode errorClass;
};

// A TOML value as the text a user would write for it: strings as they are, numbers in
// their shortest form.
std::string tomlValueText(const toml::node& value);

}  // namespace ovm

#include "engine/patch_variables.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "engine/errors.h"
#include "engine/message_text.h"

namespace ovm {

bool isVariableName(std::string_view name) {
    const auto wordChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    return !name.empty() && !std::isdigit(static_cast<unsigned char>(name.front())) &&
           std::all_of(name.begin(), name.end(), wordChar);
}

namespace {

class Variables {
public:
    Variables(const Patch& patch, const std::vector<ValueOverride>& overrides) {
        for (const auto& [name, value] : patch.variables) values[name] = checked(value);
        for (const ValueOverride& o : overrides)
            if (o.setsVariable()) set(o);
    }

    void resolve(SourceText& text) const {
        if (text.text.empty() || text.text.front() != '$') return;
        const std::string name = text.text.substr(1);
        const auto found = values.find(name);
        if (found == values.end())
            throw patchError(text.where + ": '" + text.text + "': the patch defines no variable '" + name +
                             "' (" + defined() + ")");
        text = {found->second.text, text.where + " ($" + name + " = " + found->second.where + ")"};
    }

private:
    void set(const ValueOverride& o) {
        const auto found = values.find(o.target.pin);
        if (found == values.end())
            throw patchError(o.value.where + ": the patch defines no variable '" + o.target.pin + "' (" +
                             defined() + "; a pin is set as node.pin=value)");
        found->second = checked(o.value);
    }

    // One level of naming keeps every value one look-up from its text, and resolving twice
    // harmless.
    static const SourceText& checked(const SourceText& value) {
        if (!value.text.empty() && value.text.front() == '$')
            throw patchError(value.where + ": '" + value.text +
                             "': a variable's value cannot name a variable");
        return value;
    }

    std::string defined() const {
        if (values.empty()) return "it has no [vars]";
        std::vector<std::string> names;
        for (const auto& entry : values) names.push_back(entry.first);
        return "[vars] has " + listed(names, "and");
    }

    std::map<std::string, SourceText> values;
};

}  // namespace

Patch resolveVariables(const Patch& patch, const std::vector<ValueOverride>& overrides) {
    const Variables variables(patch, overrides);
    Patch resolved = patch;
    for (NodeEntry& node : resolved.nodes)
        for (auto& entry : node.values) variables.resolve(entry.second);
    for (AutomationEntry& automation : resolved.automation) {
        variables.resolve(automation.at);
        variables.resolve(automation.value);
    }
    if (resolved.latency) variables.resolve(*resolved.latency);
    return resolved;
}

}  // namespace ovm

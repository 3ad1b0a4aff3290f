// ovm --bash-completion (hidden): prints ovm's bash completion, written from the command
// line's own definition, so that a command or option added to ovm is completed without a
// list elsewhere to keep. The build runs it to make the installed completion file.
//
// What a value completes to follows from how its option is declared: the choices of a set
// of allowed values, folders for a DIR, nothing for a number, and file names for anything
// else (in ovm most values are paths: patches, audio, libraries, plots, reports).

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ovm/cli/commands.h"

namespace ovm::cli {

namespace {

bool hidden(const CLI::Option& option) { return option.get_group().empty(); }
bool isFlag(const CLI::Option& option) {
    return option.get_expected_max() == 0 || option.get_type_size_max() == 0;
}

// The allowed values when the option's type names a set of them: "TEXT:{wav,flac}", or
// "{a->1,b->2}" for a mapping, whose keys are what the user types.
std::vector<std::string> choices(const std::string& typeName) {
    const auto open = typeName.find('{');
    const auto close = typeName.find('}', open);
    if (open == std::string::npos || close == std::string::npos) return {};
    std::vector<std::string> values;
    std::string rest = typeName.substr(open + 1, close - open - 1);
    for (std::size_t start = 0; start <= rest.size();) {
        const std::size_t end = std::min(rest.find(',', start), rest.size());
        std::string value = rest.substr(start, end - start);
        value = value.substr(0, value.find("->"));
        if (!value.empty()) values.push_back(value);
        start = end + 1;
    }
    return values;
}

// How the completion offers an option's or a positional's value: "file", "dir", "none" or
// "choice:A,B,C".
std::string valueKind(const CLI::Option& option) {
    const std::string typeName = option.get_type_name();
    if (const auto values = choices(typeName); !values.empty()) {
        std::string kind = "choice:";
        for (const std::string& value : values) kind += (kind.back() == ':' ? "" : ",") + value;
        return kind;
    }
    if (typeName.find("DIR") != std::string::npos) return "dir";
    const std::string base = typeName.substr(0, typeName.find(':'));
    for (const char* number : {"INT", "UINT", "FLOAT", "NUMBER", "BOOLEAN"})
        if (base == number) return "none";
    return "file";
}

// A word for a bash script in single quotes, whatever it holds.
std::string shellWord(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> optionNames(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const std::string& name : option.get_snames()) names.push_back("-" + name);
    for (const std::string& name : option.get_lnames()) names.push_back("--" + name);
    return names;
}

// The tables the completion function reads, for one command ("ovm" for ovm itself).
struct CommandTables {
    std::string options;      // every option name, space-separated
    std::string positionals;  // each positional's kind in order; "..." after one that repeats
    std::map<std::string, std::string> values;  // option name to the kind of its value
};

CommandTables tablesOf(const CLI::App& command) {
    CommandTables tables;
    for (const CLI::Option* option : command.get_options()) {
        if (hidden(*option)) continue;
        if (option->get_positional() && !option->nonpositional()) {
            std::string kind = valueKind(*option);
            if (option->get_items_expected_max() > 1) kind += "...";
            tables.positionals += (tables.positionals.empty() ? "" : " ") + kind;
            continue;
        }
        for (const std::string& name : optionNames(*option)) {
            tables.options += (tables.options.empty() ? "" : " ") + name;
            if (!isFlag(*option)) tables.values[name] = valueKind(*option);
        }
    }
    return tables;
}

const char* const kFunctionBody = R"(
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # Bash splits "--library=FILE" at the '=', so the option may be a word further back.
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    local command=ovm word positional=0 skip=0 i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == = ]]; then skip=1; continue; fi
        if ((skip)); then skip=0; continue; fi
        if [[ $word == -* ]]; then
            [[ -n ${values["$command $word"]+set} ]] && skip=1
        elif [[ $command == ovm ]]; then
            command=$word
        else
            ((positional++))
        fi
    done

    local kind=""
    if [[ $prev == -* && -n ${values["$command $prev"]+set} ]]; then
        kind=${values["$command $prev"]}
    elif [[ $cur == -* ]]; then
        kind="choice:${options["$command"]}"
    elif [[ $command == ovm ]]; then
        kind="choice:$commands"
    else
        local -a kinds
        read -ra kinds <<<"${positionals["$command"]}"
        if ((positional < ${#kinds[@]})); then
            kind=${kinds[positional]}
        elif ((${#kinds[@]} > 0)) && [[ ${kinds[-1]} == *... ]]; then
            kind=${kinds[-1]}
        fi
    fi

    COMPREPLY=()
    case ${kind%...} in
        choice:*)
            local words=${kind#choice:}
            mapfile -t COMPREPLY < <(compgen -W "${words//,/ }" -- "$cur")
            ;;
        file) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
        dir) compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    esac
}
complete -F _ovm ovm
)";

std::string completionScript(const CLI::App& app) {
    std::string commands, options, positionals, values;
    auto addTables = [&](const std::string& key, const CommandTables& tables) {
        options += "        [" + shellWord(key) + "]=" + shellWord(tables.options) + "\n";
        positionals += "        [" + shellWord(key) + "]=" + shellWord(tables.positionals) + "\n";
        for (const auto& [name, kind] : tables.values)
            values += "        [" + shellWord(key + " " + name) + "]=" + shellWord(kind) + "\n";
    };
    addTables("ovm", tablesOf(app));
    for (const CLI::App* command : app.get_subcommands(std::function<bool(const CLI::App*)>())) {
        if (command->get_group().empty()) continue;
        commands += (commands.empty() ? "" : " ") + command->get_name();
        addTables(command->get_name(), tablesOf(*command));
    }
    std::string script =
        "# bash completion for ovm, written by `ovm --bash-completion` from its command-line definition\n";
    script += "_ovm() {\n";
    script += "    local commands=" + shellWord(commands) + "\n";
    script += "    local -A options=(\n" + options + "    )\n";
    script += "    # Each positional's kind: file, dir, none or choice:A,B; '...' when it repeats.\n";
    script += "    local -A positionals=(\n" + positionals + "    )\n";
    script += "    # The options that take a value, by command, and what the value completes to.\n";
    script += "    local -A values=(\n" + values + "    )";
    return script + kFunctionBody;
}

}  // namespace

void addBashCompletionFlag(CLI::App& app) {
    app.add_flag_callback(
           "--bash-completion",
           [&app] {
               std::fputs(completionScript(app).c_str(), stdout);
               throw CLI::Success();
           },
           "Print the bash completion script")
        ->group("");
}

}  // namespace ovm::cli

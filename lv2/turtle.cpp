#include "lv2/turtle.h"

#include <cstdio>
#include <string_view>

namespace dynamics_lv2 {

namespace {

constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

// A Turtle number literal (a decimal point or an exponent makes it a real, not an integer).
std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    std::string literal = text;
    if (literal.find_first_of(".e") == std::string::npos) literal += ".0";
    return literal;
}

std::string quoted(std::string_view text) {
    std::string literal = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') literal += '\\';
        literal += c;
    }
    return literal + "\"";
}

// The description's units as the LV2 units vocabulary names them; empty for none.
std::string unitOf(const std::string& unit) {
    if (unit == "ms") return "units:ms";
    if (unit == "linear") return "units:coef";
    if (unit == "dB") return "units:db";
    return "";
}

std::string portTurtle(const Port& port, std::size_t index) {
    std::string kind;
    switch (port.kind) {
        case Port::Kind::audioIn: kind = "lv2:InputPort, lv2:AudioPort"; break;
        case Port::Kind::audioOut: kind = "lv2:OutputPort, lv2:AudioPort"; break;
        case Port::Kind::controlIn: kind = "lv2:InputPort, lv2:ControlPort"; break;
        case Port::Kind::latencyOut: kind = "lv2:OutputPort, lv2:ControlPort"; break;
    }
    std::string text = "[\n    a " + kind + " ;\n    lv2:index " + std::to_string(index) + " ;\n    lv2:symbol " +
                       quoted(port.symbol) + " ;\n    lv2:name " + quoted(port.name);
    if (port.kind == Port::Kind::controlIn) {
        text += " ;\n    lv2:default " + number(port.defaultValue);
        if (port.minimum) text += " ;\n    lv2:minimum " + number(*port.minimum);
        if (port.maximum) text += " ;\n    lv2:maximum " + number(*port.maximum);
        if (const std::string unit = unitOf(port.unit); !unit.empty()) text += " ;\n    units:unit " + unit;
    }
    if (port.kind == Port::Kind::latencyOut)
        text += " ;\n    lv2:portProperty lv2:reportsLatency, lv2:integer ;\n    units:unit units:frame";
    return text + "\n  ]";
}

std::string pluginTurtle(const PluginLayout& layout) {
    const bool limiter = layout.count(Port::Kind::latencyOut) > 0;
    std::string text = "<" + layout.uri + ">\n  a lv2:Plugin, " +
                       (limiter ? "lv2:LimiterPlugin" : "lv2:UtilityPlugin") + " ;\n  doap:name " +
                       quoted(layout.name) + " ;\n  rdfs:comment " + quoted(layout.summary) +
                       " ;\n  lv2:optionalFeature urid:map, opts:options ;\n";
    // A module may allocate when one of its controls changes (a longer window), so only the
    // limiter, whose running control (the ceiling) never makes one, promises real time.
    // Its look-ahead and release rebuild the engine on the host's worker thread.
    if (limiter)
        text += "  lv2:optionalFeature lv2:hardRTCapable, work:schedule ;\n  lv2:extensionData work:interface ;\n";
    text += "  lv2:port ";
    for (std::size_t i = 0; i < layout.ports.size(); ++i)
        text += (i == 0 ? "" : " , ") + portTurtle(layout.ports[i], i);
    return text + " .\n";
}

}  // namespace

std::string manifestTurtle(const std::vector<PluginLayout>& layouts, const std::string& binaryName) {
    std::string text = kPrefixes;
    for (const PluginLayout& layout : layouts)
        text += "<" + layout.uri + ">\n  a lv2:Plugin ;\n  lv2:binary <" + binaryName + "> ;\n  rdfs:seeAlso <" +
                kPluginsFile + "> .\n\n";
    return text;
}

std::string pluginsTurtle(const std::vector<PluginLayout>& layouts) {
    std::string text = kPrefixes;
    for (const PluginLayout& layout : layouts) text += pluginTurtle(layout) + "\n";
    return text;
}

}  // namespace dynamics_lv2

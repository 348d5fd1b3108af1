// SPDX-License-Identifier: Apache-2.0
// `tweenora knobs` lists the node's panel; `tweenora info` shows its GPU and build texts.
#include "cli/commands.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <DDImage/Knob.h>

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/session.h"
#include "host/HostKnob.h"

namespace tweenora::cli {

namespace {

using DD::Image::Knob;

const char* const kKnobsUsage =
    "usage: tweenora knobs [--json]\n"
    "\n"
    "Lists the Tweenora node's panel in declaration order: name, label, kind,\n"
    "default, flags, visible and enabled state, tooltip.\n"
    "\n"
    "  --json   one JSON array, an object per knob\n";

const char* const kInfoUsage =
    "usage: tweenora info\n"
    "\n"
    "Shows the GPU and build texts of the Tweenora node's panel.\n";

// Every flag of the SDK, in bit order.
const std::pair<Knob::FlagMask, const char*> kFlagNames[] = {
    {Knob::SLIDER, "SLIDER"},
    {Knob::LOG_SLIDER, "LOG_SLIDER"},
    {Knob::DISABLED, "DISABLED"},
    {Knob::NO_ANIMATION, "NO_ANIMATION"},
    {Knob::DO_NOT_WRITE, "DO_NOT_WRITE"},
    {Knob::INVISIBLE, "INVISIBLE"},
    {Knob::RESIZABLE, "RESIZABLE"},
    {Knob::STARTLINE, "STARTLINE"},
    {Knob::ENDLINE, "ENDLINE"},
    {Knob::NO_RERENDER, "NO_RERENDER"},
    {Knob::NO_HANDLES, "NO_HANDLES"},
    {Knob::KNOB_CHANGED_ALWAYS, "KNOB_CHANGED_ALWAYS"},
    {Knob::NO_KNOB_CHANGED, "NO_KNOB_CHANGED"},
    {Knob::HIDDEN, "HIDDEN"},
    {Knob::NO_UNDO, "NO_UNDO"},
    {Knob::ALWAYS_SAVE, "ALWAYS_SAVE"},
    {Knob::NODE_KNOB, "NODE_KNOB"},
    {Knob::HANDLES_ANYWAY, "HANDLES_ANYWAY"},
    {Knob::SAVE_MENU, "SAVE_MENU"},
    {Knob::READ_ONLY, "READ_ONLY"},
    {Knob::EARLY_STORE, "EARLY_STORE"},
};

//! The names of the flags set on knob; bits the SDK does not name as hex.
std::vector<std::string> flagNames(const host::HostKnob& knob) {
    std::vector<std::string> names;
    Knob::FlagMask rest = knob.flags();
    for (const auto& [flag, name] : kFlagNames) {
        if (knob.all_of(flag)) {
            names.emplace_back(name);
            rest &= ~flag;
        }
    }
    for (int bit = 0; bit < 64; ++bit) {
        const Knob::FlagMask flag = Knob::FlagMask(1) << bit;
        if (rest & flag) {
            char hex[24];
            std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(flag));
            names.emplace_back(hex);
        }
    }
    return names;
}

bool isText(const host::HostKnob& knob) {
    return knob.kind() == "text";
}

std::string defaultJson(const host::HostKnob& knob) {
    const std::string kind = knob.kind();
    const std::string text = knob.defaultText();
    if (kind == "boolean")
        return text == "true" ? "true" : "false";
    if (kind == "integer" || kind == "float")
        return jsonNumberOrString(text);
    return jsonString(text);
}

void printJson(const std::vector<host::HostKnob*>& knobs, std::ostream& out) {
    out << "[\n";
    for (size_t i = 0; i < knobs.size(); ++i) {
        const host::HostKnob& knob = *knobs[i];
        out << "  {\"name\": " << (knob.name().empty() ? "null" : jsonString(knob.name()))
            << ", \"label\": " << (knob.label() ? jsonString(knob.label()) : "null")
            << ", \"kind\": " << jsonString(knob.kind());
        if (knob.hasValue())
            out << ", \"default\": " << defaultJson(knob);
        out << ", \"flags\": [";
        const std::vector<std::string> flags = flagNames(knob);
        for (size_t f = 0; f < flags.size(); ++f)
            out << (f ? ", " : "") << jsonString(flags[f]);
        out << "], \"visible\": " << (knob.isVisible() ? "true" : "false")
            << ", \"enabled\": " << (knob.isEnabled() ? "true" : "false")
            << ", \"tooltip\": " << (knob.tooltip().empty() ? "null" : jsonString(knob.tooltip()));
        if (isText(knob))
            out << ", \"text\": " << jsonString(knob.text());
        if (!knob.entries().empty()) {
            out << ", \"entries\": [";
            for (size_t e = 0; e < knob.entries().size(); ++e)
                out << (e ? ", " : "") << jsonString(knob.entries()[e]);
            out << "]";
        }
        if (knob.kind() == "python script button")
            out << ", \"script\": " << jsonString(knob.script());
        out << "}" << (i + 1 < knobs.size() ? "," : "") << "\n";
    }
    out << "]\n";
}

// One line for texts that hold line breaks or tabs.
std::string oneLine(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string padded(std::string text, size_t width) {
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text + " ";
}

void printTable(const std::vector<host::HostKnob*>& knobs, std::ostream& out) {
    out << padded("#", 3) << padded("name", 20) << padded("label", 28) << padded("kind", 20)
        << padded("default", 14) << padded("state", 16) << "flags\n";
    for (size_t i = 0; i < knobs.size(); ++i) {
        const host::HostKnob& knob = *knobs[i];
        std::string flags;
        for (const std::string& flag : flagNames(knob))
            flags += (flags.empty() ? "" : " ") + flag;
        std::string state = knob.isVisible() ? "visible" : "hidden";
        state += knob.isEnabled() ? "" : ",disabled";
        out << padded(std::to_string(i + 1), 3)
            << padded(knob.name().empty() ? "-" : knob.name(), 20)
            << padded(knob.label() ? "\"" + std::string(knob.label()) + "\"" : "-", 28)
            << padded(knob.kind(), 20) << padded(knob.hasValue() ? knob.defaultText() : "", 14)
            << padded(state, 16) << (flags.empty() ? "-" : flags) << "\n";
        if (isText(knob) && !knob.text().empty())
            out << "      text: \"" << oneLine(knob.text()) << "\"\n";
        if (!knob.entries().empty()) {
            out << "      entries:";
            for (const std::string& entry : knob.entries())
                out << " \"" << entry << "\"";
            out << "\n";
        }
        if (knob.kind() == "python script button")
            out << "      script: \"" << oneLine(knob.script()) << "\"\n";
        if (!knob.tooltip().empty())
            out << "      tooltip: " << oneLine(knob.tooltip()) << "\n";
    }
}

// The panel draws a few texts as HTML; a terminal shows them plain.
std::string plainText(const std::string& html) {
    std::string out;
    for (size_t i = 0; i < html.size();) {
        if (html.compare(i, 6, "&nbsp;") == 0) {
            out += ' ';
            i += 6;
        } else if (html[i] == '<' && html.find('>', i) != std::string::npos) {
            i = html.find('>', i) + 1;
        } else {
            out += html[i++];
        }
    }
    return out;
}

std::string blankIfSpaces(const std::string& text) {
    return text.find_first_not_of(' ') == std::string::npos ? std::string() : text;
}

bool wantsHelp(const Args& args) {
    for (const std::string& arg : args)
        if (arg == "-h" || arg == "--help")
            return true;
    return false;
}

}  // namespace

int runKnobs(const Args& args) {
    if (wantsHelp(args)) {
        std::cout << kKnobsUsage;
        return kExitOk;
    }
    bool json = false;
    for (const std::string& arg : args) {
        if (arg != "--json")
            throw unknownOption("knobs", arg);
        json = true;
    }
    Session session;
    host::HostNode& node = session.createTweenora();
    if (json)
        printJson(node.knobs(), std::cout);
    else
        printTable(node.knobs(), std::cout);
    return kExitOk;
}

int runInfo(const Args& args) {
    if (wantsHelp(args)) {
        std::cout << kInfoUsage;
        return kExitOk;
    }
    if (!args.empty())
        throw unknownOption("info", args.front());
    Session session;
    host::HostNode& node = session.createTweenora();
    std::ostringstream out;
    if (const host::HostKnob* name = node.knob("gpuName"))
        out << "Local GPU: " << name->text() << "\n";
    if (const host::HostKnob* memory = node.knob("gpuMemory"); memory && !memory->text().empty())
        out << "GPU memory: " << plainText(memory->text()) << "\n";
    out << "\n";
    // The About tab's texts, in panel order.
    bool inAbout = false;
    for (const host::HostKnob* knob : node.knobs()) {
        if (knob->kind() == "tab")
            inAbout = knob->label() && std::string(knob->label()) == "About";
        else if (inAbout && isText(*knob))
            out << blankIfSpaces(plainText(knob->text())) << "\n";
    }
    std::cout << out.str();
    return kExitOk;
}

}  // namespace tweenora::cli

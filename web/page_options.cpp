#include "web/page_options.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <utility>

#include "display/display.hpp"
#include "display/options.hpp"

namespace tolvane {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Form decoding: "+" is a space, %XX a byte; a stray "%" stays as it is.
std::string decodeComponent(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// Parameters that hand their value to the renderer's option of the same name.
constexpr std::array<std::string_view, 4> kValueParameters = {"seed", "time", "view", "pattern-width"};
// Switches of the renderer.
constexpr std::array<std::string_view, 3> kRendererSwitches = {"cross-eyed", "grey-dots", "echo-free"};

template <std::size_t N>
bool isOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
    for (std::string_view candidate : names) {
        if (name == candidate) return true;
    }
    return false;
}

// A switch's value: absent or empty and "1" turn it on, "0" off.
bool readSwitch(std::string_view value, bool hasValue, bool& on) {
    if (!hasValue || value.empty() || value == "1") {
        on = true;
        return true;
    }
    if (value == "0") {
        on = false;
        return true;
    }
    return false;
}

// What the renderer says about one option, with the parameter's name in
// place of the option's.
bool checkWithRenderer(std::vector<std::string> arguments, std::string& error) {
    arguments.insert(arguments.begin(), "page.png");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    RenderOptions ignored;
    if (parseRenderArguments(static_cast<int>(argv.size()), argv.data(), ignored, error)) return true;
    if (error.rfind("--", 0) == 0) error.erase(0, 2);
    return false;
}

}  // namespace

PageOptions parsePageQuery(std::string_view query) {
    PageOptions options;
    if (!query.empty() && query.front() == '?') query.remove_prefix(1);
    // The renderer's arguments of every accepted parameter, by name, so a
    // later one replaces an earlier one.
    std::vector<std::pair<std::string, std::vector<std::string>>> accepted;
    auto accept = [&](const std::string& name, std::vector<std::string> arguments) {
        for (auto& [known, values] : accepted) {
            if (known == name) {
                values = std::move(arguments);
                return;
            }
        }
        accepted.emplace_back(name, std::move(arguments));
    };

    while (!query.empty()) {
        const std::size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        query.remove_prefix(end == std::string_view::npos ? query.size() : end + 1);
        if (pair.empty()) continue;
        const std::size_t equals = pair.find('=');
        const bool hasValue = equals != std::string_view::npos;
        const std::string name = decodeComponent(pair.substr(0, equals));
        const std::string value = hasValue ? decodeComponent(pair.substr(equals + 1)) : std::string();
        const std::string shown = hasValue ? name + "=" + value : name;
        auto ignore = [&](const std::string& why) { options.problems.push_back("Ignored " + shown + ": " + why); };

        std::string error;
        if (isOneOf(name, kValueParameters)) {
            if (!hasValue || value.empty()) {
                ignore(name + " needs a value");
            } else if (checkWithRenderer({"--" + name, value}, error)) {
                accept(name, {"--" + name, value});
                if (name == "view") options.viewGiven = true;
            } else {
                ignore(error);
            }
        } else if (name == "camera") {
            const std::size_t comma = value.find(',');
            if (comma == std::string::npos) {
                ignore("camera needs two whole numbers as X,Y");
            } else if (checkWithRenderer({"--camera", value.substr(0, comma), value.substr(comma + 1)}, error)) {
                accept(name, {"--camera", value.substr(0, comma), value.substr(comma + 1)});
            } else {
                ignore(error);
            }
        } else if (isOneOf(name, kRendererSwitches)) {
            bool on = false;
            if (!readSwitch(value, hasValue, on)) {
                ignore(name + " takes no value, 1 or 0");
            } else {
                accept(name, on ? std::vector<std::string>{"--" + name} : std::vector<std::string>{});
            }
        } else if (name == "paused" || name == "frozen") {
            bool on = false;
            if (!readSwitch(value, hasValue, on)) {
                ignore(name + " takes no value, 1 or 0");
            } else {
                (name == "paused" ? options.paused : options.frozen) = on;
            }
        } else if (name == "scale") {
            int scale = 0;
            const auto [last, status] = std::from_chars(value.data(), value.data() + value.size(), scale);
            if (status != std::errc() || last != value.data() + value.size() || scale < 1 || scale > kMaxWindowScale) {
                ignore("scale needs a whole number from 1 to " + std::to_string(kMaxWindowScale));
            } else {
                options.scale = scale;
            }
        } else {
            ignore("unknown parameter");
        }
    }

    std::vector<std::string> arguments;
    for (const auto& [name, values] : accepted) arguments.insert(arguments.end(), values.begin(), values.end());
    std::string error;
    std::vector<const char*> argv{"page.png"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    // Every part was accepted on its own, so together they are too.
    parseRenderArguments(static_cast<int>(argv.size()), argv.data(), options.render, error);
    return options;
}

std::string pageStatus(const DisplayState& display, bool paused) {
    const std::int32_t flags = getOption(display, OptionSlot::PaletteFlags);
    std::string palette;
    if (flags == paletteBits(PaletteFlag::GreyRamp)) {
        palette = "grey";
    } else if (flags == paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots)) {
        palette = "grey dots";
    } else if (flags == paletteBits(PaletteFlag::Red | PaletteFlag::Green | PaletteFlag::Blue)) {
        palette = "colours";
    } else {
        palette = "flags " + std::to_string(flags);
    }
    auto onOff = [&display](OptionSlot slot) { return getOption(display, slot) != 0 ? "on" : "off"; };
    return std::string(getOption(display, OptionSlot::DepthView) != 0 ? "Depth view" : "Stereogram") +
           " | time: " + (paused ? "paused" : "running") +
           " | dots: " + (getOption(display, OptionSlot::PatternEveryFrame) == 1 ? "renewed" : "frozen") +
           " | palette: " + palette + " | pattern width: " + std::to_string(getOption(display, OptionSlot::PatternWidth)) +
           " | cross-eyed: " + onOff(OptionSlot::CrossEyed) + " | echo-free: " + onOff(OptionSlot::EchoFree);
}

}  // namespace tolvane

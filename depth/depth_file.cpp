#include "depth/depth_file.hpp"

#include <array>
#include <cstdint>
#include <vector>

#include "depth/bitmap_file.hpp"
#include "depth/compressed_file.hpp"
#include "depth/file_io.hpp"
#include "depth/text_file.hpp"
#include "markup/text.hpp"

namespace {

using Reader = DepthMapPtr (*)(const char*, std::string*);

struct Format {
    const char* extension;
    Reader read;
};

// Loading tries bitmaps first, the conversion compressed files first: a
// name such as "a.bmp.schm" loads as a bitmap but converts as ".schm".
constexpr std::array<Format, 4> kLoadOrder{{
    {".bmp", loadBitmapDepthMap},
    {".schm", loadSchm},
    {".scmhm", loadScmhm},
    {".txt", loadTextDepthMap},
}};
constexpr std::array<Format, 4> kConvertOrder{{
    {".scmhm", loadScmhm},
    {".schm", loadSchm},
    {".bmp", loadBitmapDepthMap},
    {".txt", loadTextDepthMap},
}};

template <std::size_t n>
const Format* matchExtension(const char* fileName, const std::array<Format, n>& order) {
    const TextBuffer name(fileName);
    for (const Format& format : order) {
        if (name.find(format.extension) >= 0) return &format;
    }
    return nullptr;
}

struct Output {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// Swaps the first occurrence of `from` in `name` for `to` at the end.
void renameExtension(TextBuffer& name, const char* from, const char* to) {
    name.removeFirst(from);
    name.append(to);
}

bool encodeOutputs(const DepthMap& map, const char* fileName, const char* extension,
                   std::vector<Output>& outputs, std::string* why) {
    TextBuffer name(fileName);
    if (std::string(extension) == ".bmp") {
        renameExtension(name, ".bmp", ".schm");
        outputs.push_back({name.data(), encodeSchm(map)});
        // The second name is made from the first: ".schm" comes off again
        // and ".scmhm" goes on.
        renameExtension(name, ".schm", ".scmhm");
        outputs.push_back({name.data(), encodeScmhm(map)});
        return true;
    }
    if (std::string(extension) == ".txt") {
        renameExtension(name, ".txt", ".schm");
        outputs.push_back({name.data(), encodeSchm(map)});
        return true;
    }
    renameExtension(name, extension, ".bmp");
    Output bitmap{name.data(), {}};
    std::string reason;
    if (!encodeDepthMapBitmap(map, bitmap.bytes, &reason)) {
        setReason(why, bitmap.name + ": " + reason);
        return false;
    }
    outputs.push_back(std::move(bitmap));
    return true;
}

}  // namespace

DepthMapPtr loadDepthMap(const char* fileName, std::string* why) {
    const Format* format = matchExtension(fileName, kLoadOrder);
    if (format == nullptr) {
        setReason(why, "the name contains none of \".bmp\", \".schm\", \".scmhm\", \".txt\"");
        return nullptr;
    }
    return format->read(fileName, why);
}

ConvertResult convertDepthFile(const char* fileName, std::string* why) {
    const Format* format = matchExtension(fileName, kConvertOrder);
    if (format == nullptr) {
        setReason(why, std::string(fileName) +
                           ": nothing converted: the name contains none of \".bmp\", "
                           "\".schm\", \".scmhm\", \".txt\"");
        return ConvertResult::UnknownExtension;
    }
    std::string reason;
    const DepthMapPtr map = format->read(fileName, &reason);
    if (!map) {
        setReason(why, std::string(fileName) + ": " + reason);
        return ConvertResult::Failed;
    }
    std::vector<Output> outputs;
    if (!encodeOutputs(*map, fileName, format->extension, outputs, why)) {
        return ConvertResult::Failed;
    }
    // All outputs are staged before the first is renamed into place: a
    // bitmap's ".scmhm" that cannot be written must not leave a fresh ".schm"
    // beside an old ".scmhm".
    std::vector<StagedFile> staged(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!staged[i].stage(outputs[i].name.c_str(), outputs[i].bytes, &reason)) {
            setReason(why, outputs[i].name + ": " + reason);
            return ConvertResult::Failed;
        }
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!staged[i].commit(&reason)) {
            std::string message = outputs[i].name + ": " + reason;
            // Only a rename can fail here, and only for the rarest causes;
            // say plainly what was already replaced.
            for (std::size_t done = 0; done < i; ++done) {
                message += "; " + outputs[done].name + " was already written";
            }
            setReason(why, message);
            return ConvertResult::Failed;
        }
    }
    return ConvertResult::Converted;
}

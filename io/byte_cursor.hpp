#pragma once
// Little-endian reading of untrusted bytes. Every read goes through the
// cursor, which gives 0 for any byte past the end and remembers that it ran
// out, so a format reader can read a whole header first and ask once
// whether it was all there.

#include <cstddef>
#include <cstdint>
#include <span>

namespace tolvane {

inline std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void storeLe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value >> 16);
    p[3] = std::uint8_t(value >> 24);
}

class ByteCursor {
public:
    explicit ByteCursor(std::span<const std::uint8_t> bytes, std::size_t at = 0)
        : bytes_(bytes), at_(at) {}

    std::uint8_t u8() {
        if (at_ >= bytes_.size()) {
            ranOut_ = true;
            return 0;
        }
        return bytes_[at_++];
    }
    std::uint16_t le16() {
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | u8() << 8);
    }
    std::uint32_t le32() {
        const std::uint32_t low = le16();
        return low | std::uint32_t(le16()) << 16;
    }
    // Moves to `at`; past the end counts as running out.
    void seek(std::size_t at) {
        if (at > bytes_.size()) ranOut_ = true;
        at_ = at;
    }
    void skip(std::size_t count) { seek(count > bytes_.size() - position() ? bytes_.size() + 1 : at_ + count); }

    std::size_t position() const { return at_ < bytes_.size() ? at_ : bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - position(); }
    std::span<const std::uint8_t> rest() const { return bytes_.subspan(position()); }
    // True once any read or move went past the end.
    bool ranOut() const { return ranOut_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_;
    bool ranOut_ = false;
};

}  // namespace tolvane

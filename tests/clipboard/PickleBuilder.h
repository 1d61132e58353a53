#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// Builds containers by hand, independently of the encoder, so that tests can
// also write the malformed ones.
class PickleBuilder {
public:
    PickleBuilder& u32(std::uint32_t v) {
        for (int s = 0; s < 32; s += 8) bytes_.push_back(char((v >> s) & 0xFF));
        return *this;
    }
    // Length, code units and (unless dropped) padding.
    PickleBuilder& str(std::u16string_view units, bool pad = true) {
        u32(std::uint32_t(units.size()));
        for (char16_t u : units) {
            bytes_.push_back(char(u & 0xFF));
            bytes_.push_back(char(u >> 8));
        }
        if (pad && units.size() % 2) bytes_.append(2, '\0');
        return *this;
    }
    PickleBuilder& raw(std::initializer_list<int> values) {
        for (int v : values) bytes_.push_back(char(v));
        return *this;
    }
    // The container with a correct payload-size field in front.
    std::string sized() const { return PickleBuilder().u32(std::uint32_t(bytes_.size())).bytes_ + bytes_; }
    // The container with the given payload-size field in front.
    std::string sizedAs(std::uint32_t size) const { return PickleBuilder().u32(size).bytes_ + bytes_; }

private:
    std::string bytes_;
};

inline std::string hexBytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(char(v));
    return out;
}

#pragma once

#include <cstdint>
#include <string>

namespace quillant::hotkey {

// The hot-key service's modifier mask (what registration takes).
namespace carbon {
inline constexpr std::uint32_t cmdKey = 0x100;       // 256
inline constexpr std::uint32_t shiftKey = 0x200;     // 512
inline constexpr std::uint32_t optionKey = 0x800;    // 2048
inline constexpr std::uint32_t controlKey = 0x1000;  // 4096
}  // namespace carbon

// A keyboard event's modifier flags: a 64-bit set with the macOS bit values,
// so that flags read from any platform's events mean the same thing.
class ModifierFlags {
public:
    using RawValue = std::uint64_t;

    constexpr ModifierFlags() noexcept = default;
    constexpr explicit ModifierFlags(RawValue raw) noexcept : raw_(raw) {}

    // Keeps command, option, control and shift of a hot-key mask; other bits are dropped.
    static ModifierFlags fromCarbonFlags(std::uint32_t carbonFlags) noexcept;

    static const ModifierFlags capsLock;
    static const ModifierFlags shift;
    static const ModifierFlags control;
    static const ModifierFlags option;
    static const ModifierFlags command;
    static const ModifierFlags numericPad;
    static const ModifierFlags help;
    static const ModifierFlags function;
    // Every flag that does not depend on the physical device (left or right key).
    static const ModifierFlags deviceIndependentFlagsMask;

    constexpr RawValue rawValue() const noexcept { return raw_; }
    constexpr bool isEmpty() const noexcept { return raw_ == 0; }
    // True when every flag of `other` is present.
    constexpr bool contains(ModifierFlags other) const noexcept { return (raw_ & other.raw_) == other.raw_; }
    constexpr bool intersects(ModifierFlags other) const noexcept { return (raw_ & other.raw_) != 0; }
    constexpr void insert(ModifierFlags other) noexcept { raw_ |= other.raw_; }
    constexpr void remove(ModifierFlags other) noexcept { raw_ &= ~other.raw_; }

    constexpr ModifierFlags operator|(ModifierFlags other) const noexcept { return ModifierFlags(raw_ | other.raw_); }
    constexpr ModifierFlags operator&(ModifierFlags other) const noexcept { return ModifierFlags(raw_ & other.raw_); }
    constexpr ModifierFlags& operator|=(ModifierFlags other) noexcept {
        raw_ |= other.raw_;
        return *this;
    }
    constexpr ModifierFlags& operator&=(ModifierFlags other) noexcept {
        raw_ &= other.raw_;
        return *this;
    }
    constexpr bool operator==(const ModifierFlags&) const noexcept = default;

    // The hot-key mask of command, option, control and shift; everything else is dropped.
    std::uint32_t carbonFlags() const noexcept;

    // "⌃", "⌥", "⇧", "⌘" for the modifiers present, always in that order, no separator.
    std::string description() const;

private:
    RawValue raw_ = 0;
};

inline constexpr ModifierFlags ModifierFlags::capsLock{RawValue{1} << 16};
inline constexpr ModifierFlags ModifierFlags::shift{RawValue{1} << 17};
inline constexpr ModifierFlags ModifierFlags::control{RawValue{1} << 18};
inline constexpr ModifierFlags ModifierFlags::option{RawValue{1} << 19};
inline constexpr ModifierFlags ModifierFlags::command{RawValue{1} << 20};
inline constexpr ModifierFlags ModifierFlags::numericPad{RawValue{1} << 21};
inline constexpr ModifierFlags ModifierFlags::help{RawValue{1} << 22};
inline constexpr ModifierFlags ModifierFlags::function{RawValue{1} << 23};
inline constexpr ModifierFlags ModifierFlags::deviceIndependentFlagsMask{0xFFFF0000};

}  // namespace quillant::hotkey

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hotkey/DefaultsStore.h"
#include "hotkey/Key.h"
#include "hotkey/ModifierFlags.h"

namespace quillant::hotkey {

// A keyboard shortcut in the numeric form hot-key registration takes: a
// virtual key code and a hot-key modifier mask (command 256, shift 512,
// option 2048, control 4096; other bits are carried along unread).
struct KeyCombo {
    std::uint32_t carbonKeyCode;
    std::uint32_t carbonModifiers;

    constexpr KeyCombo(std::uint32_t carbonKeyCode, std::uint32_t carbonModifiers) noexcept
        : carbonKeyCode(carbonKeyCode), carbonModifiers(carbonModifiers) {}
    // Only command, option, control and shift of `modifiers` survive.
    KeyCombo(Key key, ModifierFlags modifiers) noexcept;

    // Reads {"keyCode", "modifiers"}: both must be integers within 0…4294967295,
    // otherwise none. Other entries are ignored.
    static std::optional<KeyCombo> fromDictionary(const DefaultsDictionary& dictionary) noexcept;

    static constexpr std::string_view keyCodeKey = "keyCode";
    static constexpr std::string_view modifiersKey = "modifiers";

    // The key of the code, or none for a code without a key.
    std::optional<Key> key() const noexcept;
    // Stores the key's code; none stores 0.
    void setKey(std::optional<Key> key) noexcept;

    ModifierFlags modifiers() const noexcept;
    void setModifiers(ModifierFlags modifiers) noexcept;

    constexpr bool isValid() const noexcept { return true; }

    // Modifier glyphs then the key's text, e.g. "⌃⌥⌘K"; a code without a key adds nothing.
    std::string description() const;

    // {"keyCode": code, "modifiers": mask}, both as integers.
    DefaultsDictionary dictionary() const;

    constexpr bool operator==(const KeyCombo&) const noexcept = default;
};

}  // namespace quillant::hotkey

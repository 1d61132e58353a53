#include "hotkey/KeyCombo.h"

#include <limits>

namespace quillant::hotkey {

namespace {
std::optional<std::uint32_t> uint32Entry(const DefaultsDictionary& dictionary, std::string_view name) noexcept {
    auto found = dictionary.find(name);
    if (found == dictionary.end()) return std::nullopt;
    const auto* value = std::get_if<std::int64_t>(&found->second);
    if (!value || *value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}
}  // namespace

KeyCombo::KeyCombo(Key key, ModifierFlags modifiers) noexcept
    : carbonKeyCode(key.carbonKeyCode()), carbonModifiers(modifiers.carbonFlags()) {}

std::optional<KeyCombo> KeyCombo::fromDictionary(const DefaultsDictionary& dictionary) noexcept {
    auto code = uint32Entry(dictionary, keyCodeKey);
    if (!code) return std::nullopt;
    auto mask = uint32Entry(dictionary, modifiersKey);
    if (!mask) return std::nullopt;
    return KeyCombo(*code, *mask);
}

std::optional<Key> KeyCombo::key() const noexcept { return Key::fromCarbonKeyCode(carbonKeyCode); }

void KeyCombo::setKey(std::optional<Key> key) noexcept { carbonKeyCode = key ? key->carbonKeyCode() : 0; }

ModifierFlags KeyCombo::modifiers() const noexcept { return ModifierFlags::fromCarbonFlags(carbonModifiers); }

void KeyCombo::setModifiers(ModifierFlags modifiers) noexcept { carbonModifiers = modifiers.carbonFlags(); }

std::string KeyCombo::description() const {
    std::string text = modifiers().description();
    if (auto k = key()) text += k->description();
    return text;
}

DefaultsDictionary KeyCombo::dictionary() const {
    return {{std::string(keyCodeKey), std::int64_t{carbonKeyCode}},
            {std::string(modifiersKey), std::int64_t{carbonModifiers}}};
}

}  // namespace quillant::hotkey

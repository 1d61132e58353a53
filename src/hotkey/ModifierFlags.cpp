#include "hotkey/ModifierFlags.h"

#include <array>
#include <utility>

namespace quillant::hotkey {

namespace {
// The four modifiers the hot-key mask knows, in display order.
struct Pair {
    ModifierFlags flag;
    std::uint32_t carbon;
    const char* glyph;
};
constexpr std::array<Pair, 4> kModifiers{{
    {ModifierFlags::control, carbon::controlKey, "⌃"},
    {ModifierFlags::option, carbon::optionKey, "⌥"},
    {ModifierFlags::shift, carbon::shiftKey, "⇧"},
    {ModifierFlags::command, carbon::cmdKey, "⌘"},
}};
}  // namespace

ModifierFlags ModifierFlags::fromCarbonFlags(std::uint32_t carbonFlags) noexcept {
    ModifierFlags flags;
    for (const auto& m : kModifiers)
        if (carbonFlags & m.carbon) flags.insert(m.flag);
    return flags;
}

std::uint32_t ModifierFlags::carbonFlags() const noexcept {
    std::uint32_t mask = 0;
    for (const auto& m : kModifiers)
        if (contains(m.flag)) mask |= m.carbon;
    return mask;
}

std::string ModifierFlags::description() const {
    std::string text;
    for (const auto& m : kModifiers)
        if (contains(m.flag)) text += m.glyph;
    return text;
}

}  // namespace quillant::hotkey

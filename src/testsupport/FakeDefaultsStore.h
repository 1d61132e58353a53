#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>

#include "hotkey/DefaultsStore.h"

namespace quillant::testing {

// An in-memory settings store. An entry may hold a plain value instead of a
// dictionary, as a store written by someone else might.
class FakeDefaultsStore final : public hotkey::DefaultsStore {
public:
    using Entry = std::variant<hotkey::DefaultsDictionary, hotkey::DefaultsValue>;

    std::optional<hotkey::DefaultsDictionary> dictionaryForKey(const std::string& key) override {
        ++reads;
        auto found = entries.find(key);
        if (found == entries.end()) return std::nullopt;
        if (const auto* dictionary = std::get_if<hotkey::DefaultsDictionary>(&found->second)) return *dictionary;
        return std::nullopt;
    }
    void setObject(const hotkey::DefaultsDictionary& value, const std::string& key) override {
        ++writes;
        entries[key] = value;
    }

    std::map<std::string, Entry> entries;
    int reads = 0;
    int writes = 0;
};

}  // namespace quillant::testing

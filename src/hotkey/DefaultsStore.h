#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace quillant::hotkey {

// One value of a stored dictionary. Integers and reals stay apart: readers
// that want an integer do not accept 5.0.
using DefaultsValue = std::variant<std::int64_t, double, bool, std::string>;
using DefaultsDictionary = std::map<std::string, DefaultsValue, std::less<>>;

// The user's settings store, a map from keys to values. Main thread only.
// Realised by a settings file on Linux and an in-memory substitute in tests.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The dictionary stored under `key`; none when nothing is stored there,
    // when the entry is not a dictionary, or when the store cannot be read.
    virtual std::optional<DefaultsDictionary> dictionaryForKey(const std::string& key) = 0;

    // Stores `value` under `key`, replacing what was there. A failure to persist
    // is the store's to log; callers carry on.
    virtual void setObject(const DefaultsDictionary& value, const std::string& key) = 0;
};

}  // namespace quillant::hotkey

#pragma once

#include <optional>
#include <string>

#include "clipboard/SlackDelta.h"

using quillant::clipboard::SlackDelta;
using Op = SlackDelta::Op;

inline Op plain(std::string text) { return Op{std::move(text), std::nullopt}; }
inline Op styled(std::string text) { return Op{std::move(text), SlackDelta::Attributes{}}; }
inline Op mentionOp(std::string insert, std::string id, std::string label, std::optional<bool> mention = std::nullopt,
                    std::optional<bool> unverified = std::nullopt) {
    return Op{std::move(insert),
              SlackDelta::Attributes{SlackDelta::SlackMention{std::move(id), std::move(label), mention, unverified}}};
}

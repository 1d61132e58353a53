#pragma once

// Realistic inputs for the benchmarks, built deterministically.

#include <cstddef>
#include <string>
#include <vector>

#include "clipboard/SlackDelta.h"

namespace quillant::bench {

inline const std::vector<std::string>& asciiWords() {
    static const std::vector<std::string> words = {
        "the", "quick", "report", "is", "due", "on", "Friday,", "so", "please", "send", "me",
        "your", "notes", "before", "lunch.", "I", "think", "we", "should", "also", "review",
        "the", "budget", "and", "the", "schedule", "for", "next", "quarter."};
    return words;
}

inline const std::vector<std::string>& mixedWords() {
    static const std::vector<std::string> words = {
        "Grüße", "aus", "Zürich,", "naïve", "café", "crème", "brûlée", "—", "Привет,", "как",
        "дела?", "Ελληνικά", "日本語の", "テキスト", "😀", "👍🏽", "🇩🇪", "👨‍👩‍👧", "ok."};
    return words;
}

// Words from the list, space-separated, cut at `bytes` bytes on a word boundary.
inline std::string prose(const std::vector<std::string>& words, std::size_t bytes) {
    std::string out;
    for (std::size_t i = 0;; ++i) {
        const std::string& w = words[i % words.size()];
        if (out.size() + w.size() + 1 > bytes) break;
        if (!out.empty()) out += ' ';
        out += w;
    }
    return out;
}

// A 1500-character Slack message with 50 mentions, spaced evenly, and its
// plain text as the service would return it (a few words corrected).
struct SlackMessage {
    clipboard::SlackDelta delta;
    std::string text;
    std::string corrected;
};

inline SlackMessage slackMessage() {
    SlackMessage m;
    const std::string filler = "teh meeting went well ";  // 22 characters
    for (int i = 0; i < 50; ++i) {
        std::string label = "@user" + std::to_string(10 + i);  // 7 characters
        clipboard::SlackDelta::SlackMention mention{"U0" + std::to_string(1000 + i), label, true, std::nullopt};
        m.delta.ops.push_back({filler, std::nullopt});
        m.delta.ops.push_back({label, clipboard::SlackDelta::Attributes{mention}});
        m.text += filler + label;
    }
    m.text.resize(1500 - 1, ' ');  // 50 × 29 = 1450; pad to the cap
    m.text += '\n';
    m.delta.ops.push_back({m.text.substr(1450), std::nullopt});
    m.corrected = m.text;
    for (std::size_t at = 0; (at = m.corrected.find("teh ", at)) != std::string::npos; at += 4)
        m.corrected.replace(at, 4, "the ");
    return m;
}

}  // namespace quillant::bench

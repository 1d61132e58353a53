#include "platform/linux/x11/SelectionPolicy.h"

#include <algorithm>
#include <array>

namespace quillant::linux_platform {

bool isContentTarget(std::string_view name) {
    static constexpr std::array<std::string_view, 16> kNotContent = {
        "TARGETS",          "MULTIPLE",        "TIMESTAMP", "SAVE_TARGETS", "INCR",     "DELETE",
        "INSERT_SELECTION", "INSERT_PROPERTY", "PIXMAP",    "BITMAP",       "DRAWABLE", "COLORMAP",
        "WINDOW",           "LENGTH",          "ATOM",      "ATOM_PAIR"};
    if (name.empty()) return false;
    return std::find(kNotContent.begin(), kNotContent.end(), name) == kNotContent.end();
}

std::vector<std::string> plainTextFallbacks(std::string_view type) {
    if (type == "text/plain;charset=utf-8") return {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING"};
    if (type == "UTF8_STRING") return {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING"};
    return {};
}

bool carriesText(std::string_view name) {
    return name == "UTF8_STRING" || name == "STRING" || name == "TEXT" || name == "COMPOUND_TEXT" ||
           name.starts_with("text/plain") || name == "chromium/x-web-custom-data";
}

std::string latin1ToUTF8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out.push_back(char(c));
        } else {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

ReadPass::ReadPass(Duration timeout, std::size_t maxBytes, Duration pauseThatEndsPass)
    : timeout_(timeout), maxBytes_(maxBytes), pause_(pauseThatEndsPass) {}

void ReadPass::begin(TimePoint now, std::int64_t owner) {
    if (depth_++ > 0) return;
    if (!lastEnd_ || now - *lastEnd_ >= pause_ || owner != owner_) {
        owner_ = owner;
        ++generation_;
        deadline_ = now + timeout_;
        used_ = 0;
    }
}

void ReadPass::end(TimePoint now) {
    if (depth_ > 0 && --depth_ == 0) lastEnd_ = now;
}

TimePoint ReadPass::waitDeadline(TimePoint now, Duration requestTimeout) const {
    return std::min(now + requestTimeout, deadline_);
}

std::size_t ReadPass::allowance(std::size_t maxTargetBytes) const {
    return std::min(maxTargetBytes, maxBytes_ > used_ ? maxBytes_ - used_ : 0);
}

void ReadPass::consume(std::size_t bytes) { used_ += bytes; }

}  // namespace quillant::linux_platform

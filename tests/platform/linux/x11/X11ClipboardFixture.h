#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "clipboard/Pasteboard.h"
#include "platform/linux/RunLoop.h"
#include "platform/linux/x11/X11Clipboard.h"
#include "testsupport/ClipboardPeerFiles.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/X11TestHarness.h"

namespace quillant::testing {

// One target a peer owner offers.
struct OfferedTarget {
    std::string name;
    std::string type;
    int format;
    std::string bytes;
};

inline std::vector<std::string> namesOf(const std::vector<OfferedTarget>& targets) {
    std::vector<std::string> out;
    for (auto& t : targets) out.push_back(t.name);
    return out;
}

// Deterministic filler that starts like a PNG file.
inline std::string imageBytes(std::size_t size, std::uint32_t seed) {
    std::string out = "\x89PNG\r\n\x1a\n";
    out.reserve(size);
    std::uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        out.push_back(char(x >> 24));
    }
    out.resize(size);
    return out;
}

inline std::string utf16le(std::u16string_view s, bool bom) {
    std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (char16_t c : s) {
        out.push_back(char(c & 0xff));
        out.push_back(char(c >> 8));
    }
    return out;
}

// What the exact reader peer found on the clipboard.
struct ReadBack {
    int status = -1;
    std::vector<std::string> targets;
    std::string targetsType;
    // Per target: its bytes and "TYPE FORMAT".
    std::map<std::string, std::pair<std::string, std::string>> data;
    std::set<std::string> refused;
    std::string multiple;
    std::map<std::string, std::string> multipleData;
};

// The snapshot as the broker takes it: one item, every listed type's bytes.
inline std::vector<std::pair<std::string, clipboard::Bytes>> snapshotOf(clipboard::Pasteboard& pb) {
    std::vector<std::pair<std::string, clipboard::Bytes>> out;
    if (pb.itemCount() == 0) return out;
    for (auto& type : pb.types(0))
        if (auto b = pb.data(0, type)) out.emplace_back(type, *b);
    return out;
}

inline clipboard::PasteboardItemData itemOf(const std::vector<std::pair<std::string, clipboard::Bytes>>& snapshot) {
    clipboard::PasteboardItemData item;
    for (auto& [t, b] : snapshot) item.set(t, b);
    return item;
}

class X11ClipboardFixture : public ::testing::Test {
protected:
    Xvfb xvfb;
    TempDir tmp;
    RecordingLogger log;
    std::unique_ptr<linux_platform::X11Clipboard> clip;
    int counter = 0;

    void SetUp() override { reopen({}); }

    void reopen(linux_platform::X11ClipboardLimits limits) {
        clip.reset();
        clip = std::make_unique<linux_platform::X11Clipboard>(log, xvfb.display(), limits);
    }

    std::filesystem::path fresh(const std::string& stem) { return tmp.path() / (stem + std::to_string(++counter)); }

    Process peer(std::vector<std::string> args) {
        args.insert(args.begin(), QUILLANT_X11CLIP_PEER);
        return Process::start(args, xvfb.env());
    }

    Process startOwner(const std::vector<OfferedTarget>& targets, std::vector<std::string> extra = {}) {
        auto list = fresh("targets");
        std::string lines;
        for (auto& t : targets) {
            auto file = fresh("data");
            writeFile(file, t.bytes);
            lines += t.name + "\t" + t.type + "\t" + std::to_string(t.format) + "\t" + file.string() + "\n";
        }
        writeFile(list, lines);
        std::vector<std::string> args{"own", "--targets", list.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto p = peer(args);
        EXPECT_EQ(p.readLine(std::chrono::seconds(10)), "ready");
        return p;
    }

    // xclip owning the clipboard in the foreground with `text`.
    Process startXclip(const std::string& text) {
        auto file = fresh("xclip");
        writeFile(file, text);
        return Process::start({"xclip", "-quiet", "-selection", "clipboard", "-i", file.string()}, xvfb.env(), true);
    }

    // Runs our event handling as the host loop would, until `done` or the bound.
    bool pump(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(30),
              std::vector<int> extraFds = {}) {
        linux_platform::RunLoop loop;
        if (clip) loop.watchReadable(clip->fd(), [this] { clip->processPendingEvents(); });
        for (int fd : extraFds)
            if (fd >= 0) loop.watchReadable(fd, [] {});
        return loop.runUntil(done, bound);
    }

    int pumpUntilExit(Process& p, std::chrono::milliseconds bound = std::chrono::seconds(40)) {
        pump([&] { return !p.running(); }, bound, {p.exitFd()});
        return p.wait(std::chrono::seconds(1));
    }

    // Lets the host loop run for a while (to take in late events).
    void settle(std::chrono::milliseconds d = std::chrono::milliseconds(200)) {
        pump([] { return false; }, d);
    }

    ReadBack readBack(std::vector<std::string> extra = {}) {
        auto dir = fresh("read");
        std::vector<std::string> args{"read", "--out", dir.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto p = peer(args);
        ReadBack out;
        out.status = pumpUntilExit(p);
        if (out.status != 0) return out;
        std::string names = readFile(dir / "TARGETS.txt");
        for (std::size_t pos = 0; pos < names.size();) {
            auto nl = names.find('\n', pos);
            out.targets.push_back(names.substr(pos, nl - pos));
            pos = nl + 1;
        }
        out.targetsType = readFile(dir / "TARGETS.type");
        for (auto& name : out.targets) {
            auto base = dir / peerFileName(name);
            if (std::filesystem::exists(base.string() + ".refused")) out.refused.insert(name);
            if (std::filesystem::exists(base.string() + ".bin"))
                out.data[name] = {readFile(base.string() + ".bin"), readFile(base.string() + ".type")};
        }
        if (std::filesystem::exists(dir / "multiple.txt")) {
            out.multiple = readFile(dir / "multiple.txt");
            for (auto& entry : std::filesystem::directory_iterator(dir / "multiple"))
                if (entry.path().extension() == ".bin")
                    out.multipleData[entry.path().stem().string()] = readFile(entry);
        }
        return out;
    }
};

}  // namespace quillant::testing

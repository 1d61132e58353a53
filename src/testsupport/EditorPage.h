#pragma once

// The text application of the end-to-end tests: Chromium with a textarea
// whose text is selected once loaded, and whose every change shows in the
// window's title ("v:" and the text), where the test reads it.
#include <filesystem>
#include <string>

namespace quillant::testing {

inline std::string editorPage(bool reselectOnFocus = false) {
    return std::string(R"(<!doctype html>
<title>loading</title>
<textarea id="t" style="width:90%;height:200px"></textarea>
<script>
const t = document.getElementById('t');
t.addEventListener('input', () => { document.title = 'v:' + t.value; });
window.onload = () => {
  t.value = 'teh cat sat .';
  t.focus();
  t.select();
  document.title = 'ready';
};
)") + (reselectOnFocus ? "window.onfocus = () => { t.focus(); t.select(); };\n" : "") + "</script>\n";
}

inline std::string chromiumPath() {
    for (auto p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (std::filesystem::exists(p)) return p;
    return {};
}

}  // namespace quillant::testing

// The release archive and the installer, run as a user would: the real
// scripts, zip/unzip, bash, desktop-file-validate and GLib's launcher (gio),
// in a real temporary home.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "desktop/cli/Commands.h"
#include "platform/linux/PosixProcess.h"
#include "testsupport/TempDir.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using quillant::linux_platform::runAndWait;
using quillant::testing::readFile;
using quillant::testing::TempDir;

namespace {

const fs::path kSource = QUILLANT_SOURCE_DIR;
const fs::path kBinary = QUILLANT_EXE;
const fs::path kService = QUILLANT_SERVICE_EXE;
constexpr const char* kId = "com.vostel.quillant";

struct Run {
    int status;
    std::string out;  // standard output and error together
};

// Runs a bash snippet with HOME (and nothing of ours from the caller's
// environment); positional parameters are passed as they are.
Run bash(const fs::path& home, const std::string& script, const std::vector<std::string>& args = {}) {
    const TempDir scratch;
    const fs::path out = scratch / "output";
    std::vector<std::string> argv{"-c",
                                  "unset XDG_DATA_HOME XDG_CONFIG_HOME DISPLAY; export HOME=\"$1\"; "
                                  "out=\"$2\"; shift 2; { " + script + "\n} >\"$out\" 2>&1 </dev/null",
                                  "bash", home.string(), out.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    int status = runAndWait("/bin/bash", argv);
    return {status, readFile(out)};
}

// Every path below `root`, relative, with its kind.
std::set<std::string> tree(const fs::path& root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.insert(fs::relative(it->path(), root).string() + (it->is_directory() ? "/" : ""));
    return out;
}

std::string execLine(const fs::path& entry) {
    std::istringstream in(readFile(entry));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Exec=", 0) == 0) return line.substr(5);
    return {};
}

// GLib's launcher starts the entry; `program` is swapped for a stub that
// records the path it was started as.
std::string launchedPath(const fs::path& entry, const fs::path& program, const fs::path& scratch) {
    const fs::path record = scratch / "launched";
    fs::remove(record);
    {
        std::ofstream stub(program, std::ios::trunc);
        // Written aside and renamed, as the last thing the stub does: once the
        // record is there it is whole, and the shell has read all of its script
        // (the caller overwrites the program next).
        const std::string r = record.string();
        stub << "#!/bin/sh\nprintf '%s' \"$0\" > '" << r << ".tmp' && mv '" << r << ".tmp' '" << r << "'\n";
    }
    fs::permissions(program, fs::perms(0755));
    EXPECT_EQ(runAndWait("/bin/sh", {"-c", "gio launch \"$1\" </dev/null", "sh", entry.string()}), 0);
    for (int i = 0; i < 400 && !fs::exists(record); ++i) std::this_thread::sleep_for(25ms);
    return readFile(record);
}

// A release archive made once from the built program.
struct Archive {
    TempDir dir;
    fs::path zip;
    Archive() {
        auto r = bash(dir.path(), "SOURCE_DATE_EPOCH=1700000000 \"$1\"/scripts/make-bundle --zip \"$2\" \"$3\"",
                      {kSource.string(), kBinary.string(), (dir.path() / "out").string()});
        EXPECT_EQ(r.status, 0) << r.out;
        for (auto& e : fs::directory_iterator(dir.path() / "out"))
            if (e.path().extension() == ".zip") zip = e.path();
    }
};

const Archive& archive() {
    static Archive* a = new Archive();
    return *a;
}

// An unpacked download, ready to install from.
fs::path unpack(const fs::path& where) {
    fs::create_directories(where);
    EXPECT_EQ(runAndWait("/usr/bin/unzip", {"-q", archive().zip.string(), "-d", where.string()}), 0);
    return where / "quillant.app";
}

}  // namespace

TEST(ReleaseArchive, HoldsTheBundleAtItsTopLevelAndVerifies) {
    const auto& a = archive();
    ASSERT_FALSE(a.zip.empty());
    EXPECT_EQ(a.zip.filename().string().rfind("quillant-", 0), 0u);
    EXPECT_TRUE(a.zip.filename().string().ends_with("-linux-x86_64.zip"));

    TempDir t;
    auto r = bash(t.path(), "cd \"$1\" && sha256sum -c -- \"$2\".sha256 && unzip -Z1 -- \"$2\"",
                  {a.zip.parent_path().string(), a.zip.filename().string()});
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream names(r.out.substr(r.out.find('\n') + 1));
    std::string name;
    std::set<std::string> entries;
    while (std::getline(names, name)) {
        EXPECT_EQ(name.rfind("quillant.app/", 0), 0u) << name;
        entries.insert(name);
    }
    for (std::string needed : {"bin/quillant", "bin/quillant-service", ".quillant-bundle", "VERSION", "install.sh", "share/doc/quillant/README.md",
                               "share/applications/com.vostel.quillant.desktop",
                               "share/icons/hicolor/48x48/apps/com.vostel.quillant.png",
                               "share/quillant/debian-packages"})
        EXPECT_TRUE(entries.count("quillant.app/" + needed)) << needed;

    const fs::path app = unpack(t.path() / "x");
    EXPECT_EQ(fs::status(app / "bin/quillant").permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(app / "install.sh").permissions(), fs::perms(0755));
    EXPECT_EQ(readFile(app / "bin/quillant"), readFile(kBinary));
    EXPECT_EQ(fs::status(app / "bin/quillant-service").permissions(), fs::perms(0755));
    EXPECT_EQ(readFile(app / "bin/quillant-service"), readFile(kService));
    r = bash(t.path(), "desktop-file-validate \"$1\"", {(app / "share/applications" / (std::string(kId) + ".desktop")).string()});
    EXPECT_EQ(r.status, 0) << r.out;
}

TEST(ReleaseArchive, TheSameInputsGiveTheSameBytes) {
    TempDir t;
    // Another umask, another moment: neither may show in the archive.
    auto r = bash(t.path(), "umask 077; "
                          "SOURCE_DATE_EPOCH=1700000000 \"$1\"/scripts/make-bundle --zip \"$2\" \"$3\" >/dev/null",
                  {kSource.string(), kBinary.string(), (t.path() / "again").string()});
    ASSERT_EQ(r.status, 0) << r.out;
    const fs::path again = t.path() / "again" / archive().zip.filename();
    EXPECT_EQ(readFile(again), readFile(archive().zip));
    EXPECT_EQ(readFile(again.string() + ".sha256"), readFile(archive().zip.string() + ".sha256"));
}

// A missing library on a user's machine would only show when quillant fails to start.
TEST(ReleaseArchive, NamesThePackageOfEveryLibraryTheProgramLinks) {
    TempDir t;
    auto r = bash(t.path(),
                  "for exe in \"$@\"; do objdump -p \"$exe\" | awk '/NEEDED/{print $2}' | while read -r lib; do "
                  "  path=$(ldd \"$exe\" | awk -v l=\"$lib\" '$1==l{print $3}'); "
                  "  dpkg -S \"$(realpath \"$path\")\" 2>/dev/null || dpkg -S \"$path\"; "
                  "done; done | cut -d: -f1 | sort -u",
                  {kBinary.string(), kService.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    std::set<std::string> listed;
    std::istringstream list(readFile(kSource / "packaging/debian-packages"));
    for (std::string p; std::getline(list, p);) listed.insert(p);
    // What the listed packages bring along themselves is covered too.
    std::string listArgs;
    for (const auto& p : listed) listArgs += " " + p;
    auto deps = bash(t.path(), "dpkg-query -W -f='${Depends}\\n'" + listArgs + " | tr ',|' '\\n\\n' | "
                             "sed 's/^ *//; s/[ :].*//' | sort -u");
    ASSERT_EQ(deps.status, 0) << deps.out;
    std::set<std::string> broughtAlong;
    std::istringstream depLines(deps.out);
    for (std::string p; std::getline(depLines, p);) broughtAlong.insert(p);
    std::istringstream needed(r.out);
    for (std::string p; std::getline(needed, p);) {
        if (p == "libc6" || p == "libgcc-s1") continue;  // essential: on every Debian system
        if (p.rfind("libasan", 0) == 0 || p.rfind("libubsan", 0) == 0) continue;  // sanitizer builds only
        EXPECT_TRUE(listed.count(p) || broughtAlong.count(p)) << p << " is linked but not in packaging/debian-packages";
    }
    EXPECT_TRUE(listed.count("unzip"));  // the self-update unpacks with it
    // The local corrector's dictionaries: the ones it loads, and what "en_GB" asks for.
    for (const auto& dictionary : {"/usr/share/hunspell/en_US.dic", "/usr/share/hunspell/en_GB.dic"}) {
        auto owner = bash(t.path(), "dpkg -S \"$(realpath \"$1\")\" | cut -d: -f1", {dictionary});
        ASSERT_EQ(owner.status, 0) << owner.out;
        EXPECT_TRUE(listed.count(owner.out.substr(0, owner.out.find('\n')))) << dictionary << " " << owner.out;
    }

    // The README's one command installs exactly these.
    std::string command = "sudo apt-get install --no-install-recommends";
    for (const auto& p : listed) command += " " + p;
    EXPECT_NE(readFile(kSource / "README.md").find(command + "\n"), std::string::npos) << command;
}

struct HomeRow {
    const char* name;
    std::string homeName;  // the home folder's own name
};

void PrintTo(const HomeRow& row, std::ostream* os) { *os << row.name; }

class Installer : public ::testing::TestWithParam<HomeRow> {};

TEST_P(Installer, InstallsLaunchesAndUninstallsExactlyWhatItMade) {
    TempDir t;
    const fs::path home = t.path() / GetParam().homeName;
    // What was there before, including another application's launcher.
    fs::create_directories(home / ".local/share/applications");
    std::ofstream(home / ".local/share/applications/other.desktop") << "[Desktop Entry]\n";
    const auto before = tree(home);
    const fs::path app = unpack(t.path() / "download");

    auto r = bash(home, "\"$1\"/install.sh --autostart", {app.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    const fs::path dest = home / ".local/opt/quillant";
    EXPECT_TRUE(fs::exists(dest / ".quillant-bundle"));
    const fs::path launcher = home / ".local/share/applications" / (std::string(kId) + ".desktop");
    const fs::path login = home / ".config/autostart" / (std::string(kId) + ".desktop");
    EXPECT_TRUE(fs::exists(home / ".local/share/icons/hicolor/256x256/apps" / (std::string(kId) + ".png")));
    for (const auto& entry : {launcher, login}) {
        auto v = bash(home, "desktop-file-validate \"$1\"", {entry.string()});
        EXPECT_EQ(v.status, 0) << entry << ": " << v.out;
        // The shell installer and the program quote the same way.
        EXPECT_EQ(execLine(entry), quillant::desktop::cli::desktopExecArgument(dest / "bin/quillant").value_or("?"));
    }
    r = bash(home, "\"$1\"/bin/quillant autostart status", {dest.string()});
    EXPECT_EQ(r.out, "on\n");

    // A second install (with no flag) keeps the login entry the user chose.
    r = bash(home, "\"$1\"/install.sh", {app.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(login));

    // The entries start the installed program, as a GLib desktop would.
    EXPECT_EQ(launchedPath(launcher, dest / "bin/quillant", t.path()), (dest / "bin/quillant").string());
    EXPECT_EQ(launchedPath(login, dest / "bin/quillant", t.path()), (dest / "bin/quillant").string());

    r = bash(home, "\"$1\"/install.sh --uninstall", {dest.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(tree(home), before);
}

INSTANTIATE_TEST_SUITE_P(Homes, Installer,
                         ::testing::Values(HomeRow{"plain", "home"}, HomeRow{"with_a_blank", "my home"},
                                           HomeRow{"shell_specials", "we\"ird $HOME `x` \\ dir"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Installer, RefusesFoldersThatAreNotItsOwn) {
    TempDir t;
    const fs::path home = t.path() / "home";
    fs::create_directories(home / "Documents");
    std::ofstream(home / "Documents/thesis.txt") << "years of work";
    // An empty folder too: adopted, it would later be removed with whatever the user put in it.
    fs::create_directories(home / "Apps/quillant");
    const fs::path app = unpack(t.path() / "download");
    for (std::string dest : {home.string(), (home / "Documents").string(), std::string("/usr"),
                             (home / "Apps/quillant").string()}) {
        auto r = bash(home, "\"$1\"/install.sh \"$2\"", {app.string(), dest});
        EXPECT_EQ(r.status, 2) << dest << ": " << r.out;
    }
    EXPECT_EQ(readFile(home / "Documents/thesis.txt"), "years of work");
    EXPECT_TRUE(fs::is_empty(home / "Apps/quillant"));
    EXPECT_FALSE(fs::exists(home / ".local"));
}

// A damaged manifest names the user's files: the uninstall removes only what
// an install writes.
TEST(Installer, UninstallRemovesOnlyWhatAnInstallWrites) {
    TempDir t;
    const fs::path home = t.path() / "home";
    fs::create_directories(home / "Documents");
    std::ofstream(home / "Documents/thesis.txt") << "years of work";
    std::ofstream(home / "Documents/.quillant-bundle") << "";
    const fs::path app = unpack(t.path() / "download");
    auto r = bash(home, "\"$1\"/install.sh", {app.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    std::ofstream(home / ".local/share/quillant/install-manifest", std::ios::app)
        << "file " << (home / "Documents/thesis.txt").string() << "\n"
        << "bundle " << (home / "Documents").string() << "\n"
        << "file " << (home / ".local/share/icons/hicolor/../../../../Documents/thesis.txt").string() << "\n";
    r = bash(home, "\"$1\"/install.sh --uninstall", {(home / ".local/opt/quillant").string()});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readFile(home / "Documents/thesis.txt"), "years of work");
    EXPECT_FALSE(fs::exists(home / ".local/opt/quillant"));
}

// Entries for programs in odd places: desktop-file-validate accepts them and
// GLib starts exactly that program. (A "%" is written "%%" as desktop entries
// require; GLib cannot start such a path, so it is not launched here.)
TEST(AutostartCommand, WritesAnEntryThatStartsThisVeryProgram) {
    for (std::string folder : {"plain", "a blank", "q\"uote", "dol$lar", "back`tick", "back\\slash", "'single'"}) {
        SCOPED_TRACE(folder);
        TempDir t;
        const fs::path home = t.path() / "home";
        const fs::path program = t.path() / folder / "quillant";
        fs::create_directories(program.parent_path());
        fs::copy_file(kBinary, program);
        auto r = bash(home, "\"$1\" autostart status; \"$1\" autostart on && \"$1\" autostart status", {program.string()});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "off\non\non\n");
        const fs::path entry = home / ".config/autostart" / quillant::desktop::cli::kAutostartFileName;
        r = bash(home, "desktop-file-validate \"$1\"", {entry.string()});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(launchedPath(entry, program, t.path()), program.string());

        // A desktop's own switch turns it off without removing it.
        std::ofstream(entry, std::ios::app) << "Hidden=true\n";
        fs::copy_file(kBinary, program, fs::copy_options::overwrite_existing);
        r = bash(home, "\"$1\" autostart status; \"$1\" autostart off; \"$1\" autostart status", {program.string()});
        EXPECT_EQ(r.out, "off\noff\noff\n");
        EXPECT_FALSE(fs::exists(entry));
    }
}

TEST(AutostartCommand, ControlCharactersCannotBeNamed) {
    EXPECT_FALSE(quillant::desktop::cli::desktopExecArgument("/home/a\nb/quillant"));
    EXPECT_EQ(quillant::desktop::cli::desktopExecArgument("/opt/q 100%/quillant"), "\"/opt/q 100%%/quillant\"");
}

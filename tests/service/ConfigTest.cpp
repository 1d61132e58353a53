#include "ServiceTestSupport.h"

#include "platform/linux/PrivateRuntimeDir.h"
#include "service/Config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>

using namespace quillant::service;
using namespace quillant::service::testing;
using ::testing::HasSubstr;

namespace {

class ConfigTest : public ::testing::Test {
protected:
    Invocation parse(std::vector<std::string> args) {
        return parseCommandLine(args, [this](const std::string& name) -> std::optional<std::string> {
            auto it = env.find(name);
            if (it == env.end()) return std::nullopt;
            return it->second;
        });
    }
    std::string errorOf(std::vector<std::string> args) {
        try {
            parse(std::move(args));
        } catch (const ConfigError& e) {
            return e.what();
        }
        return "no error";
    }

    TempDir dir;
    std::map<std::string, std::string> env{{"HOME", "/home/ann"}};
};

TEST_F(ConfigTest, DefaultsServeRulesOnLoopback8787WhenTcpIsChosen) {
    auto inv = parse({"--host", "127.0.0.1"});
    EXPECT_EQ(inv.action, Action::serve);
    EXPECT_EQ(inv.config.host, "127.0.0.1");
    EXPECT_EQ(inv.config.port, 8787);
    EXPECT_FALSE(inv.config.tls);
    EXPECT_EQ(inv.config.keysFile, "/home/ann/.config/quillant/service-keys");
    EXPECT_EQ(inv.config.maxChars, 1500u);
    EXPECT_EQ(inv.config.corrector, CorrectorKind::rules);
    EXPECT_EQ(inv.config.quota.limit, 1000u);
    EXPECT_EQ(inv.config.quota.window, std::chrono::hours(24));
    EXPECT_FALSE(inv.config.release);
    EXPECT_FALSE(inv.config.logText);
}

TEST_F(ConfigTest, ThePrivateSocketUnlessTcpIsAskedFor) {
    struct Row {
        std::vector<std::string> args;
        std::optional<std::string> runtimeDir;
        std::optional<std::string> socket;  // none: TCP
    };
    const std::string uidFolder = (quillant::linux_platform::runtimeFolder(nullptr) / "service.sock").string();
    const Row rows[] = {
        {{}, "/run/user/1000", "/run/user/1000/quillant/service.sock"},
        {{}, std::nullopt, uidFolder},
        {{}, "relative/dir", uidFolder},  // only an absolute runtime directory counts
        {{"--socket", "/srv/q/s.sock"}, "/run/user/1000", "/srv/q/s.sock"},
        {{"--port", "0"}, "/run/user/1000", std::nullopt},
        {{"--host", "127.0.0.2"}, "/run/user/1000", std::nullopt},
    };
    for (const auto& row : rows) {
        env.erase("XDG_RUNTIME_DIR");
        if (row.runtimeDir) env["XDG_RUNTIME_DIR"] = *row.runtimeDir;
        auto config = parse(row.args).config;
        EXPECT_EQ(config.socketPath ? std::optional<std::string>(config.socketPath->string()) : std::nullopt, row.socket)
            << (row.args.empty() ? "(no args)" : row.args[0]);
    }
    writeFile(dir / "s.conf", "socket = /srv/q/s.sock\nport = 9000\n");
    EXPECT_THAT(errorOf({"--config", (dir / "s.conf").string()}), HasSubstr("--socket cannot be combined"));
    EXPECT_THAT(errorOf({"--socket", ""}), HasSubstr("needs a path"));
}

TEST_F(ConfigTest, LanguageNamesADictionary) {
    EXPECT_EQ(parse({}).config.language, "auto");
    EXPECT_EQ(parse({"--language", "en_GB"}).config.language, "en_GB");
    writeFile(dir / "service.conf", "language = de_DE_frami\n");
    EXPECT_EQ(parse({"--config", (dir / "service.conf").string()}).config.language, "de_DE_frami");
    for (std::string bad : {"", "../en_US", "en US", "/usr/share/hunspell/en_US"})
        EXPECT_THAT(errorOf({"--language", bad}), HasSubstr("expected a dictionary name such as en_US")) << bad;
}

TEST_F(ConfigTest, KeysFileFollowsXdgConfigHome) {
    env["XDG_CONFIG_HOME"] = "/cfg";
    EXPECT_EQ(parse({}).config.keysFile, "/cfg/quillant/service-keys");
}

TEST_F(ConfigTest, ReadsEveryFlagInBothSpellings) {
    writeFile(dir / "up.key", "  sk-upstream\n");
    auto inv = parse({"--host", "::1", "--port=0", "--keys-file", "/k", "--max-chars", "20", "--quota=5",
                      "--quota-window", "3600", "--corrector", "upstream", "--upstream-url",
                      "http://localhost:11434/v1/", "--upstream-model", "llama3.2", "--upstream-key-file",
                      (dir / "up.key").string(), "--upstream-timeout", "2.5", "--release-version", "1.2.0",
                      "--release-url", "https://example.com/q.zip", "--threads", "4", "--io-timeout", "7",
                      "--log-text"});
    const auto& c = inv.config;
    EXPECT_EQ(c.host, "::1");
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(c.keysFile, "/k");
    EXPECT_EQ(c.maxChars, 20u);
    EXPECT_EQ(c.quota.limit, 5u);
    EXPECT_EQ(c.quota.window, std::chrono::hours(1));
    EXPECT_EQ(c.corrector, CorrectorKind::upstream);
    EXPECT_EQ(c.upstream.baseURL, "http://localhost:11434/v1");
    EXPECT_EQ(c.upstream.model, "llama3.2");
    EXPECT_EQ(c.upstream.apiKey, "sk-upstream");
    EXPECT_EQ(c.upstream.timeout, std::chrono::milliseconds(2500));
    ASSERT_TRUE(c.release);
    EXPECT_EQ(c.release->version, "1.2.0");
    EXPECT_EQ(c.release->downloadURL, "https://example.com/q.zip");
    EXPECT_EQ(c.threads, 4u);
    EXPECT_EQ(c.ioTimeout, std::chrono::seconds(7));
    EXPECT_TRUE(c.logText);
}

TEST_F(ConfigTest, UpstreamKeyMayComeFromTheEnvironment) {
    env["QUILLANT_UPSTREAM_KEY"] = "sk-env\n";
    auto inv = parse({"--corrector", "upstream", "--upstream-url", "https://api.example.com/v1", "--upstream-model", "m"});
    EXPECT_EQ(inv.config.upstream.apiKey, "sk-env");
}

TEST_F(ConfigTest, ConfigFileIsReadAndCommandLineWins) {
    writeFile(dir / "service.conf", "# local service\nport = 9000\nmax-chars=100\n\nrelease-version = 2.0\n"
                                    "release-url = https://example.com/2.zip\nlog-text = true\n");
    auto inv = parse({"--port", "9100", "--config", (dir / "service.conf").string()});
    EXPECT_EQ(inv.config.port, 9100);
    EXPECT_EQ(inv.config.maxChars, 100u);
    EXPECT_TRUE(inv.config.logText);
    ASSERT_TRUE(inv.config.release);
    EXPECT_EQ(inv.config.release->version, "2.0");
}

TEST_F(ConfigTest, TlsAllowsOtherAddresses) {
    auto inv = parse({"--host", "0.0.0.0", "--tls-cert", "/c.pem", "--tls-key", "/k.pem"});
    ASSERT_TRUE(inv.config.tls);
    EXPECT_EQ(inv.config.tls->certificate, "/c.pem");
    EXPECT_EQ(inv.config.tls->privateKey, "/k.pem");
}

TEST_F(ConfigTest, ActionsAreRecognised) {
    EXPECT_EQ(parse({"--help"}).action, Action::help);
    EXPECT_EQ(parse({"--port", "x", "-h"}).action, Action::help);
    EXPECT_EQ(parse({"--version"}).action, Action::version);
    auto add = parse({"--add-key", "--keys-file", "/tmp/k"});
    EXPECT_EQ(add.action, Action::addKey);
    EXPECT_EQ(add.config.keysFile, "/tmp/k");
}

struct ErrorCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

class ConfigErrors : public ConfigTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ConfigErrors, AreExplained) { EXPECT_THAT(errorOf(GetParam().args), HasSubstr(GetParam().message)); }

INSTANTIATE_TEST_SUITE_P(
    Config, ConfigErrors,
    ::testing::Values(
        ErrorCase{"unknown_option", {"--colour"}, "unknown option --colour"},
        ErrorCase{"missing_value", {"--port"}, "--port needs a value"},
        ErrorCase{"port_range", {"--port", "70000"}, "--port: expected a whole number from 0 to 65535"},
        ErrorCase{"bad_timeout", {"--upstream-timeout", "-1"}, "--upstream-timeout: expected a number of seconds"},
        ErrorCase{"plain_http_on_all_addresses", {"--host", "0.0.0.0"}, "plain HTTP is served on loopback addresses only"},
        ErrorCase{"plain_http_on_lan", {"--host", "192.168.1.5"}, "give --tls-cert and --tls-key"},
        ErrorCase{"cert_without_key", {"--tls-cert", "/c.pem"}, "TLS needs both --tls-cert and --tls-key"},
        ErrorCase{"corrector_kind", {"--corrector", "gpt"}, "the corrector is \"rules\" or \"upstream\""},
        ErrorCase{"upstream_without_model", {"--corrector", "upstream", "--upstream-url", "http://127.0.0.1:1/v1"},
                  "needs --upstream-url and --upstream-model"},
        ErrorCase{"upstream_not_http", {"--corrector", "upstream", "--upstream-url", "ftp://x/v1", "--upstream-model", "m"},
                  "must be an http:// or https:// URL"},
        ErrorCase{"upstream_plain_http_remote",
                  {"--corrector", "upstream", "--upstream-url", "http://10.0.0.2:11434/v1", "--upstream-model", "m"},
                  "unencrypted to 10.0.0.2"},
        ErrorCase{"upstream_key_file_missing", {"--upstream-key-file", "/nonexistent/key"}, "cannot read /nonexistent/key"},
        ErrorCase{"release_half", {"--release-version", "1.0"}, "needs both --release-version and --release-url"},
        // What quillant installs never comes over plain http, not even from loopback.
        ErrorCase{"release_plain_http_loopback", {"--release-version", "1.0", "--release-url", "http://127.0.0.1:8/q.zip"},
                  "--release-url must be an https:// URL"},
        ErrorCase{"release_relative_socket", {"--release-version", "1.0", "--release-url", "http+unix://q.sock/q.zip"},
                  "--release-url must be an https:// URL"},
        ErrorCase{"config_missing", {"--config", "/nonexistent.conf"}, "cannot read the config file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigTest, InsecureUpstreamCanBeAllowedExplicitly) {
    auto inv = parse({"--corrector", "upstream", "--upstream-url", "http://10.0.0.2:11434/v1", "--upstream-model", "m",
                      "--allow-insecure-upstream"});
    EXPECT_EQ(inv.config.upstream.baseURL, "http://10.0.0.2:11434/v1");
}

TEST_F(ConfigTest, ConfigFileErrorsNameTheLine) {
    writeFile(dir / "bad.conf", "port = 1\nhelp = true\n");
    EXPECT_THAT(errorOf({"--config", (dir / "bad.conf").string()}), HasSubstr("bad.conf:2: unknown setting \"help\""));
    writeFile(dir / "bad.conf", "port\n");
    EXPECT_THAT(errorOf({"--config", (dir / "bad.conf").string()}), HasSubstr("bad.conf:1: \"port\" needs a value"));
}

TEST(Loopback, RecognisesLoopbackHosts) {
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "[::1]", "localhost"}) EXPECT_TRUE(isLoopbackHost(host)) << host;
    for (const char* host : {"0.0.0.0", "::", "128.0.0.1", "10.0.0.1", "example.com", "localhost.example.com", ""})
        EXPECT_FALSE(isLoopbackHost(host)) << host;
}

}  // namespace

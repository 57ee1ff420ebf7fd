// The logger's command line: long options with their value after '=' or as the next argument, and
// an option error said in one line with where to find the usage.

#include <gtest/gtest.h>

#include <filesystem>

#include "logger/http_endpoint.h"
#include "logger/logger_app.h"
#include "program_run.h"

namespace quorna {
namespace {

std::optional<LoggerOptions> parse(std::vector<const char*> args, std::string* error) {
    args.insert(args.begin(), "quorna-logger");
    return parseLoggerOptions(static_cast<int>(args.size()), args.data(), error);
}

TEST(LoggerOptions, ValuesAfterAnEqualsSignOrAsTheNextArgumentAndOneLineErrors) {
    std::string error;
    auto options = parse({"--config=/etc/quorna/x=y.cfg", "--rescan=15", "--once"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->configFile, "/etc/quorna/x=y.cfg");
    EXPECT_EQ(options->rescanMinutes, 15);
    EXPECT_TRUE(options->once);
    options = parse({"--config", "--odd=name.cfg", "--rescan", "2"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->configFile, "--odd=name.cfg");
    EXPECT_EQ(options->rescanMinutes, 2);

    const std::vector<std::pair<std::vector<const char*>, std::string>> refused = {
        {{"--config="}, "--config needs a file name"},
        {{"--config"}, "--config needs a value"},
        {{"--rescan=0"}, "--rescan takes a number of minutes from 1 to 10080"},
        {{"--rescan=", "5"}, "--rescan takes a number of minutes from 1 to 10080"},
        {{"--once=yes"}, "--once takes no value"},
        {{"--help=me"}, "--help takes no value"},
        {{"--colour"}, "unknown option --colour"},
        {{"--colour=red"}, "unknown option --colour"},
    };
    for (const auto& [args, why] : refused) {
        error.clear();
        EXPECT_FALSE(parse(args, &error)) << args[0];
        EXPECT_EQ(error, why) << args[0];
    }
}

// --live and --http: the address with or without a host (127.0.0.1 then), an IPv6 one in brackets.
TEST(LoggerOptions, LivePollingAndTheHttpAddress) {
    std::string error;
    auto options = parse({"--live", "--http=:9750"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->live);
    EXPECT_EQ(options->http, ":9750");
    options = parse({"--http", "0.0.0.0:80"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->live);
    EXPECT_EQ(options->http, "0.0.0.0:80");

    const auto local = parseHttpAddress(":9750");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->host, "127.0.0.1");
    EXPECT_EQ(local->port, 9750);
    const auto v6 = parseHttpAddress("[::1]:8080");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 8080);
    for (const char* bad : {"9750", "host:", ":0", ":65536", "::1:80", "[]:80", "a b:80", ":80x"}) {
        EXPECT_FALSE(parseHttpAddress(bad)) << bad;
        error.clear();
        EXPECT_FALSE(parse({"--http", bad}, &error)) << bad;
        EXPECT_EQ(error, "--http takes ADDRESS:PORT or :PORT (for example 127.0.0.1:9750)");
    }
    error.clear();
    EXPECT_FALSE(parse({"--live=yes"}, &error));
    EXPECT_EQ(error, "--live takes no value");
}

TEST(LoggerOptions, AsAProcessAnErrorIsOneLineAndAPointerToTheHelp) {
    const test::ProgramRun bad = test::runProgram(QUORNA_LOGGER_PATH, {"--once", "--colour"});
    EXPECT_EQ(bad.code, kLoggerExitUnusable);
    EXPECT_EQ(bad.err, "quorna-logger: unknown option --colour\nTry 'quorna-logger --help' for more information.\n");
    EXPECT_EQ(bad.out, "");

    // --config=FILE names the settings file: the logger says it cannot read that one.
    const std::string missing = (std::filesystem::temp_directory_path() / "quorna-no-such-dir" / "x.cfg").string();
    const test::ProgramRun config = test::runProgram(QUORNA_LOGGER_PATH, {"--once", "--config=" + missing});
    EXPECT_EQ(config.code, kLoggerExitUnusable);
    EXPECT_NE(config.err.find(" error the settings file " + missing + " cannot be read: No such file or directory\n"),
              std::string::npos) << config.err;

    const test::ProgramRun help = test::runProgram(QUORNA_LOGGER_PATH, {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out, loggerUsage());
    const test::ProgramRun version = test::runProgram(QUORNA_LOGGER_PATH, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("quorna-logger ", 0), 0U) << version.out;
}

}  // namespace
}  // namespace quorna

// quorna --help and --version on a box without a display: they print and exit 0 before Qt looks
// for one.

#include <gtest/gtest.h>

#include "program_run.h"

namespace quorna::test {
namespace {

TEST(WindowCommandLine, HelpAndVersionNeedNoDisplay) {
    const std::vector<std::string> noDisplay = {"-QT_QPA_PLATFORM", "-DISPLAY", "-WAYLAND_DISPLAY", "-XDG_SESSION_TYPE"};
    const ProgramRun help = runProgram(QUORNA_WINDOW_PATH, {"--help"}, noDisplay);
    EXPECT_EQ(help.code, 0) << help.err;
    EXPECT_EQ(help.out.rfind("Usage: quorna [--help] [--version]\n", 0), 0U) << help.out;
    EXPECT_NE(help.out.find("quorna-logger(1)"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const ProgramRun version = runProgram(QUORNA_WINDOW_PATH, {"--version"}, noDisplay);
    EXPECT_EQ(version.code, 0) << version.err;
    EXPECT_EQ(version.out, "quorna " QUORNA_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

}  // namespace
}  // namespace quorna::test

// "Quorna.cfg": what the reader takes from hand-edited and written files, what the writer writes,
// and that a failed save neither reports success nor touches the old file.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bus/serial_link.h"
#include "recording_operator.h"
#include "spooled_station.h"
#include "settings/configuration.h"

namespace quorna::test {
namespace {

namespace fs = std::filesystem;

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_station.fresh();
        m_previous = fs::current_path();
        m_dir = fs::temp_directory_path() / ("quorna-cfg-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
    }
    void TearDown() override {
        fs::current_path(m_previous);
        fs::permissions(m_dir, fs::perms::owner_all);
        fs::remove_all(m_dir);
        m_station.drop();
    }

    // The test's station, made in SetUp.
    Station& station() { return m_station.get(); }
    // A restart: the station so far is destroyed first, then a fresh one is made on op.
    Station& freshStation() { return m_station.fresh(); }

    static void writeFile(const std::string& text) {
        std::ofstream out("Quorna.cfg", std::ios::binary);
        out << text;
    }
    static std::string readFile() {
        std::ifstream in("Quorna.cfg", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void read(const std::string& text) {
        writeFile(text);
        readConfiguration(station().settings(), station().bus().link());
    }

    RecordingOperator op;
    fs::path m_dir;
    fs::path m_previous;

private:
    HeldStation m_station{op};
};

TEST_F(ConfigurationTest, NoFileOrOnlyCommentsKeepTheDefaults) {
    readConfiguration(station().settings(), station().bus().link());
    const ConfigurationRecord& cfg = station().settings();
    EXPECT_EQ(cfg.locationName, "Here");
    EXPECT_EQ(cfg.loggingInterval, 5);
    EXPECT_EQ(cfg.scanDepth, 16);
    EXPECT_EQ(cfg.fileFormat, 1);
    EXPECT_FALSE(cfg.fileLoggingEnabled);
    EXPECT_EQ(station().bus().link().speed, 2048);
    EXPECT_EQ(station().bus().link().parity, 0);
    EXPECT_FALSE(station().bus().link().reopenRequested);

    read("# comment\n\n# another\r\n\r\n");
    EXPECT_EQ(station().settings().locationName, "Here");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ConfigurationTest, ValuesAreTakenAsTheyStand) {
    read("location North Plant  \n"
         "scan 40\n"
         "port COM3:\n"
         "speed 8192\r\n"
         "parity 1\n"
         "save_file /tmp/logs/plant a.csv\n"
         "format 2\n"
         "scan 8\n"
         "interval5\n");
    const ConfigurationRecord& cfg = station().settings();
    EXPECT_EQ(cfg.locationName, "North Plant  ") << "inner and trailing blanks stay";
    EXPECT_EQ(cfg.scanDepth, 8) << "the last of several lines wins";
    EXPECT_EQ(station().bus().link().portName, "COM3:");
    EXPECT_TRUE(station().bus().link().reopenRequested);
    EXPECT_FALSE(station().bus().link().portOpen) << "reading never opens the port";
    EXPECT_EQ(station().bus().link().speed, 8192);
    EXPECT_EQ(station().bus().link().parity, 1);
    EXPECT_EQ(cfg.logFilePath, "/tmp/logs/plant a.csv");
    EXPECT_TRUE(cfg.fileLoggingEnabled);
    EXPECT_EQ(cfg.fileFormat, 2);
    EXPECT_EQ(cfg.loggingInterval, 5) << "no blank is needed between key and value";
}

TEST_F(ConfigurationTest, MalformedLinesAreIgnored) {
    read("interval\ninterval abc\ninterval 7\nspeed fast\nlocation\nbogus 12\n"
         "interval 0\ninterval -3\nscan 0\nscan 248\nscan -1\n");
    EXPECT_EQ(station().settings().loggingInterval, 7);
    EXPECT_EQ(station().settings().scanDepth, 16) << "depths outside 1 to 247 keep the default";
    EXPECT_EQ(station().bus().link().speed, 2048);
    EXPECT_EQ(station().settings().locationName, "Here");
}

TEST_F(ConfigurationTest, TheLastLineCountsWithoutItsLineEnd) {
    // A file written by hand often ends without a line end.
    read("scan 30\nscan 9");
    EXPECT_EQ(station().settings().scanDepth, 9);
    read("speed 19200\nport COM1:");
    EXPECT_EQ(station().bus().link().portName, "COM1:");
    EXPECT_EQ(station().bus().link().speed, 19200);
    read("port COM3:\r");
    EXPECT_EQ(station().bus().link().portName, "COM3:");
    // A last piece of a long line is a line of its own too.
    read("location " + std::string(502, 'y') + "scan 12");
    EXPECT_EQ(station().settings().scanDepth, 12);
}

TEST_F(ConfigurationTest, LongLinesAreReadInPiecesAndLongValuesAreCut) {
    // A 600-character location: the first 511 characters are one line, the rest another;
    // the name keeps what fits its 255 characters.
    std::string longName(600, 'x');
    read("location " + longName + "\nport " + std::string(40, 'P') + "\n");
    EXPECT_EQ(station().settings().locationName, std::string(kLocationCapacity, 'x'));
    EXPECT_EQ(station().bus().link().portName.size(), kPortNameCapacity);
    // A line cut into pieces: the second piece is a line of its own and is read as one.
    read("location " + std::string(502, 'y') + "scan 12\n");
    EXPECT_EQ(station().settings().scanDepth, 12);
}

TEST_F(ConfigurationTest, DatabaseLoggingNeedsASourceATableAndALink) {
    read("dsn Plant\ntable Readings\nlink 3 6 Amps1\n");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    ASSERT_EQ(station().settings().database.links.size(), 1U);
    EXPECT_EQ(station().settings().database.links[0].variable, 3);
    EXPECT_EQ(station().settings().database.links[0].sqlType, 6);
    EXPECT_EQ(station().settings().database.links[0].columnName, "Amps1");

    freshStation();
    read("dsn Plant\nlink 3 6 Amps1\nuser bob\n");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off);
    EXPECT_TRUE(station().settings().database.links.empty());
    EXPECT_EQ(station().settings().database.dsn, "") << "an incomplete setup is cleared";
    EXPECT_EQ(station().settings().database.user, "");

    freshStation();
    read("dsn Plant\ntable Readings\nlink 3 6\n");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Off) << "two items do not make a link";

    freshStation();
    read("dsn Plant\ntable [Readings]\nlink 0 -5 [Meter] trailing words\nlink 2 70011 Date_Time\n");
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
    ASSERT_EQ(station().settings().database.links.size(), 2U);
    EXPECT_EQ(station().settings().database.links[0].sqlType, -5);
    EXPECT_EQ(station().settings().database.links[0].columnName, "[Meter]");
    EXPECT_EQ(station().settings().database.links[1].sqlType, static_cast<std::int16_t>(70011 & 0xFFFF));
}

TEST_F(ConfigurationTest, WrittenFileHasTheExactLinesAndOwnerOnlyAccess) {
    station().bus().link().portName = "COM1:";
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"Here", 4}));
    EXPECT_EQ(readFile(),
              "# Panelboard Metering Configuration setup file\n"
              "# This file is generated automatically\n"
              "# DO NOT manually edit \n"
              "\n"
              "location Here\n"
              "interval 5\n"
              "port COM1:\n"
              "speed 2048\n"
              "parity 0\n"
              "scan 16\n");
    struct stat st {};
    ASSERT_EQ(::stat("Quorna.cfg", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    ASSERT_EQ(op.messages.size(), 1U);
    EXPECT_EQ(op.messages[0].text,
              "Current settings saved to \"Quorna.cfg\"\nThis file will be read when the program is restarted");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) ++files;
    EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

TEST_F(ConfigurationTest, QuotedColumnNamesMayHoldBlanks) {
    read("dsn Plant\ntable Readings\nlink 2 93 \"date time\" trailing\nlink 7 8 [Amps 5]\nlink 3 8 Amps1 x\n");
    const auto& links = station().settings().database.links;
    ASSERT_EQ(links.size(), 3U);
    EXPECT_EQ(links[0].columnName, "\"date time\"");
    EXPECT_EQ(links[1].columnName, "[Amps 5]");
    EXPECT_EQ(links[2].columnName, "Amps1");

    freshStation();
    read("dsn Plant\ntable Readings\nlink 2 93 \"A " + std::string(300, 'x') + "\"\n");
    ASSERT_EQ(station().settings().database.links.size(), 1U);
    EXPECT_EQ(station().settings().database.links[0].columnName, "\"A") << "too long to keep whole: one word";

    freshStation();
    read("dsn Plant\ntable Readings\nlink 2 93 \"A\"B x\n");
    EXPECT_EQ(station().settings().database.links[0].columnName, "\"A\"B") << "a quote inside a word ends no name";
}

TEST_F(ConfigurationTest, ValuesEndingInCarriageReturnsKeepTheirValueThroughASave) {
    read("port COM2:\r\r\r\nlocation Plant\r\n");
    EXPECT_EQ(station().bus().link().portName, "COM2:\r\r") << "the reader takes off the line end only";
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), SaveRequest{"Plant", 4}));
    const std::string written = readFile();
    EXPECT_NE(written.find("\nport COM2:\n"), std::string::npos) << written;
    readConfiguration(station().settings(), station().bus().link());
    EXPECT_EQ(station().bus().link().portName, "COM2:");
}

TEST_F(ConfigurationTest, RoundTripKeepsEverySetting) {
    ConfigurationRecord& cfg = station().settings();
    station().bus().link().portName = "COM2:";
    station().bus().link().speed = 512;
    station().bus().link().parity = 2;
    cfg.scanDepth = 33;
    cfg.logFilePath = "/var/log/quorna data.csv";
    cfg.fileFormat = 3;
    cfg.database.dsn = "Plant DSN";
    cfg.database.table = "[Readings]";
    cfg.database.user = "operator";
    cfg.database.password = "s3cret word";
    cfg.database.kludgeFlags = 5;
    cfg.database.links = {{0, 4, "[Meter]"}, {2, 11, "[Date_Time]"}, {3, -5, "[Amps1]"}};
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"Plant 7", 8}));

    freshStation();
    readConfiguration(station().settings(), station().bus().link());
    EXPECT_EQ(station().settings().locationName, "Plant 7");
    EXPECT_EQ(station().settings().loggingInterval, 15);
    EXPECT_EQ(station().bus().link().portName, "COM2:");
    EXPECT_TRUE(station().bus().link().reopenRequested);
    EXPECT_EQ(station().bus().link().speed, 512);
    EXPECT_EQ(station().bus().link().parity, 2);
    EXPECT_EQ(station().settings().scanDepth, 33);
    EXPECT_EQ(station().settings().logFilePath, "/var/log/quorna data.csv");
    EXPECT_TRUE(station().settings().fileLoggingEnabled);
    EXPECT_EQ(station().settings().fileFormat, 3);
    EXPECT_EQ(station().settings().database.dsn, "Plant DSN");
    EXPECT_EQ(station().settings().database.table, "[Readings]");
    EXPECT_EQ(station().settings().database.user, "operator");
    EXPECT_EQ(station().settings().database.password, "s3cret word");
    EXPECT_EQ(station().settings().database.kludgeFlags, 5);
    ASSERT_EQ(station().settings().database.links.size(), 3U);
    EXPECT_EQ(station().settings().database.links[2].sqlType, -5);
    EXPECT_NE(readFile().find("link 3 -5 [Amps1]\n"), std::string::npos);
    EXPECT_EQ(station().settings().databaseLogging, DatabaseLoggingState::Active);
}

// The logger's gateway lines are settings of their own: a save by the window program keeps them,
// and "gateway_writers" and "gateway_read_only" are not taken for "gateway".
TEST_F(ConfigurationTest, TheGatewayLinesSurviveASave) {
    read("port COM2:\ngateway_writers 10.0.4.0/24 fd00::/8\ngateway 0.0.0.0:1502\ngateway_read_only on\n");
    EXPECT_EQ(station().settings().gateway, "0.0.0.0:1502");
    EXPECT_EQ(station().settings().gatewayWriters, "10.0.4.0/24 fd00::/8");
    EXPECT_TRUE(station().settings().gatewayReadOnly);
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"Plant 7", 4}));
    const std::string text = readFile();
    EXPECT_NE(text.find("\ngateway 0.0.0.0:1502\ngateway_writers 10.0.4.0/24 fd00::/8\ngateway_read_only on\n"),
              std::string::npos)
        << text;
    freshStation();
    read("gateway :1502\ngateway_read_only off\n");
    EXPECT_EQ(station().settings().gateway, ":1502");
    EXPECT_TRUE(station().settings().gatewayWriters.empty());
    EXPECT_FALSE(station().settings().gatewayReadOnly);
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"", 4}));
    EXPECT_EQ(readFile().find("gateway_"), std::string::npos);
}

TEST_F(ConfigurationTest, EmptyValuesAreNotWritten) {
    station().settings().fileFormat = 3;
    ASSERT_TRUE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"", 0}));
    const std::string text = readFile();
    EXPECT_EQ(text.find("location"), std::string::npos);
    EXPECT_EQ(text.find("port"), std::string::npos);
    EXPECT_EQ(text.find("save_file"), std::string::npos);
    EXPECT_EQ(text.find("format"), std::string::npos) << "no format without a log file";
    EXPECT_EQ(text.find("kludge_flags"), std::string::npos);
    EXPECT_NE(text.find("interval 1\n"), std::string::npos);

    freshStation();
    readConfiguration(station().settings(), station().bus().link());
    EXPECT_FALSE(station().bus().link().reopenRequested) << "no port line, no automatic open at the next start";
}

TEST_F(ConfigurationTest, AFailedSaveSaysSoAndLeavesTheOldFile) {
    writeFile("scan 12\n");
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(m_dir.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore directory permissions";
    EXPECT_FALSE(writeConfiguration(station().settings(), station().bus().link(), station().op(), {"Here", 4}));
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Couldn't write file \"Quorna.cfg\""});
    EXPECT_EQ(readFile(), "scan 12\n");
}

TEST_F(ConfigurationTest, ADiskThatFillsUpPartWayLeavesTheOldFile) {
    // A file size limit makes the new file's write fail part-way, as a full disk would (also as root).
    writeFile("# old settings\nscan 12\n");
    struct rlimit previous {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeConfiguration(station().settings(), station().bus().link(), station().op(), {"Here", 4});
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(op.texts(), std::vector<std::string>{"Couldn't write file \"Quorna.cfg\""});
    EXPECT_EQ(readFile(), "# old settings\nscan 12\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) ++files;
    EXPECT_EQ(files, 1) << "the unfinished new file is removed";
}

// The logger's lines: live polling and the HTTP address are read, and a save by the window program
// keeps them (a file without them stays without them).
TEST(LoggerLines, LiveAndHttpAreReadAndKeptBySaving) {
    ConfigurationRecord cfg;
    SerialLink link;
    parseConfiguration("port COM2:\nlive on\nhttp 0.0.0.0:9750\n", cfg, link);
    EXPECT_TRUE(cfg.livePolling);
    EXPECT_EQ(cfg.httpAddress, "0.0.0.0:9750");
    const std::string saved = configurationText(cfg, link, SaveRequest{"Here", 4});
    EXPECT_NE(saved.find("\nlive on\nhttp 0.0.0.0:9750\n"), std::string::npos) << saved;
    ConfigurationRecord again;
    SerialLink againLink;
    parseConfiguration(saved, again, againLink);
    EXPECT_TRUE(again.livePolling);
    EXPECT_EQ(again.httpAddress, "0.0.0.0:9750");

    ConfigurationRecord plain;
    parseConfiguration("port COM2:\nlive off\n", plain, link);
    EXPECT_FALSE(plain.livePolling);
    const std::string plainSaved = configurationText(plain, link, SaveRequest{"Here", 4});
    EXPECT_EQ(plainSaved.find("live"), std::string::npos);
    EXPECT_EQ(plainSaved.find("http"), std::string::npos);
}

TEST(NearestInterval, MidpointsGoToTheLargerChoice) {
    EXPECT_EQ(nearestInterval(0), 0);
    EXPECT_EQ(nearestInterval(-4), 0);
    EXPECT_EQ(nearestInterval(1.49), 0);
    EXPECT_EQ(nearestInterval(1.5), 1);
    EXPECT_EQ(nearestInterval(7), 5);
    EXPECT_EQ(nearestInterval(8), 6);
    EXPECT_EQ(nearestInterval(44.9), 10);
    EXPECT_EQ(nearestInterval(45), 11);
    EXPECT_EQ(nearestInterval(1000), 11);
    for (std::size_t i = 0; i < IntervalChoices.size(); ++i) EXPECT_EQ(nearestInterval(IntervalChoices[i]), static_cast<int>(i));
}

TEST(ValueAfterKey, KeyMustBeFollowedByAValue) {
    EXPECT_EQ(valueAfterKey("interval 5", "interval").value_or("?"), "5");
    EXPECT_EQ(valueAfterKey("locationX", "location").value_or("?"), "X");
    EXPECT_EQ(valueAfterKey("location \t North", "location").value_or("?"), "North");
    EXPECT_FALSE(valueAfterKey("interval", "interval"));
    EXPECT_FALSE(valueAfterKey("interval   ", "interval"));
    EXPECT_FALSE(valueAfterKey("Interval 5", "interval"));
    EXPECT_FALSE(valueAfterKey("int", "interval"));
}

}  // namespace
}  // namespace quorna::test

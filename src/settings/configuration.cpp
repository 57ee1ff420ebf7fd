#include "settings/configuration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/operator.h"
#include "bus/serial_link.h"

namespace quorna {
namespace {

// A line is read in pieces of at most this many characters; each piece counts as a line.
constexpr int kLinePieceLength = 511;
constexpr int kMaxScanDepth = 247;

void copyCapped(std::string& field, std::string_view value, std::size_t capacity) {
    field.assign(value.substr(0, capacity));
}

// A decimal integer at the start of the text, as the C library reads one: leading white space
// and a sign are allowed; a value beyond the int range is held at its limit.
std::optional<int> leadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || std::isdigit(static_cast<unsigned char>(text[i])) == 0) return std::nullopt;
    long long value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0) {
        value = value * 10 + (text[i++] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return static_cast<int>(value);
}

std::string_view nextWord(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    std::size_t end = i;
    while (end < text.size() && std::isspace(static_cast<unsigned char>(text[end])) == 0) ++end;
    const std::string_view word = text.substr(i, end - i);
    text.remove_prefix(end);
    return word;
}

// A column name as links store it: a word, or a quoted name that may hold blanks ("Amps 1", `x y`,
// [a b]) up to the last closing quote that ends a word. A quoted name too long to keep whole is
// taken as a word, as it always was: cut short, it would lose its closing quote and read
// differently next time.
std::string_view columnWord(std::string_view& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) ++i;
    if (i < text.size() && (text[i] == '"' || text[i] == '`' || text[i] == '[')) {
        const char close = text[i] == '[' ? ']' : text[i];
        for (std::size_t end = text.size(); end-- > i + 1;) {
            const bool endsWord = end + 1 == text.size() || std::isspace(static_cast<unsigned char>(text[end + 1])) != 0;
            if (text[end] != close || !endsWord || end + 1 - i > kColumnNameCapacity) continue;
            const std::string_view quoted = text.substr(i, end + 1 - i);
            text.remove_prefix(end + 1);
            return quoted;
        }
    }
    return nextWord(text);
}

// "link VARIABLE TYPE COLUMN": two integers and a column name; text after it is ignored.
std::optional<ColumnLink> parseLink(std::string_view value) {
    std::string_view rest = value;
    const std::string_view first = nextWord(rest);
    const std::string_view second = nextWord(rest);
    const std::string_view column = columnWord(rest);
    const auto variable = leadingInteger(first);
    const auto type = leadingInteger(second);
    if (!variable || !type || column.empty()) return std::nullopt;
    // A number must be followed directly by the white space before the next item.
    const auto isNumber = [](std::string_view word) {
        std::size_t i = word[0] == '+' || word[0] == '-' ? 1 : 0;
        return i < word.size() && word.find_first_not_of("0123456789", i) == std::string_view::npos;
    };
    if (!isNumber(first) || !isNumber(second)) return std::nullopt;
    ColumnLink link;
    link.variable = *variable;
    link.sqlType = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned>(*type) & 0xFFFFU));
    copyCapped(link.columnName, column, kColumnNameCapacity);
    return link;
}

struct SeenMarkers {
    bool dsn = false;
    bool table = false;
    bool link = false;
};

void applyLine(std::string_view line, SeenMarkers& seen, ConfigurationRecord& cfg, SerialLink& link) {
    static constexpr std::string_view kKeys[] = {"location", "interval", "port",   "speed",  "parity",
                                                 "scan",     "save_file", "format", "dsn",    "table",
                                                 "user",     "passwd",   "kludge_flags", "link",
                                                 "live",     "http",
                                                 // longer keys before the key they begin with
                                                 "gateway_writers", "gateway_read_only", "gateway"};
    for (const std::string_view key : kKeys) {
        const auto found = valueAfterKey(line, key);
        if (!found) continue;
        const std::string_view value = *found;
        const auto number = leadingInteger(value);
        if (key == "location") {
            copyCapped(cfg.locationName, value, kLocationCapacity);
        } else if (key == "interval") {
            // The logging cycle divides by the interval: less than a minute is never taken.
            if (number && *number >= 1) cfg.loggingInterval = *number;
        } else if (key == "port") {
            copyCapped(link.portName, value, portNameCapacity(value));
            link.reopenRequested = true;
        } else if (key == "speed") {
            if (number) link.speed = *number;
        } else if (key == "parity") {
            if (number) link.parity = *number;
        } else if (key == "scan") {
            // The scan must not ask beyond the 247 addresses the directory holds.
            if (number && *number >= 1 && *number <= kMaxScanDepth) cfg.scanDepth = *number;
        } else if (key == "save_file") {
            copyCapped(cfg.logFilePath, value, kLogPathCapacity);
            cfg.fileLoggingEnabled = true;
        } else if (key == "format") {
            if (number) cfg.fileFormat = *number;
        } else if (key == "dsn") {
            copyCapped(cfg.database.dsn, value, kDsnCapacity);
            seen.dsn = true;
        } else if (key == "table") {
            copyCapped(cfg.database.table, value, kTableCapacity);
            seen.table = true;
        } else if (key == "user") {
            copyCapped(cfg.database.user, value, kUserCapacity);
        } else if (key == "passwd") {
            copyCapped(cfg.database.password, value, kPasswordCapacity);
        } else if (key == "kludge_flags") {
            if (number) cfg.database.kludgeFlags = *number;
        } else if (key == "live") {
            cfg.livePolling = value.substr(0, 2) == "on";
        } else if (key == "http") {
            copyCapped(cfg.httpAddress, value, kHttpAddressCapacity);
        } else if (key == "link") {
            if (auto parsed = parseLink(value)) {
                seen.link = true;
                cfg.database.links.push_back(std::move(*parsed));
            }
        } else if (key == "gateway_writers") {
            copyCapped(cfg.gatewayWriters, value, kGatewayWritersCapacity);
        } else if (key == "gateway_read_only") {
            cfg.gatewayReadOnly = value.substr(0, 2) == "on";
        } else if (key == "gateway") {
            copyCapped(cfg.gateway, value, kGatewayCapacity);
        }
        return;  // the first key that yields a value handles the line
    }
}

bool trimLineEnd(std::string& line) {
    if (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return !line.empty();
}

}  // namespace

int nearestInterval(double minutes) {
    const float m = static_cast<float>(minutes);
    const auto midpoint = [](std::size_t i) {
        return static_cast<float>(IntervalChoices[i] + IntervalChoices[i + 1]) / 2.0F;
    };
    if (!(m >= midpoint(0))) return 0;  // below 1.5, or not a number
    if (m >= midpoint(10)) return 11;
    for (std::size_t i = 1; i <= 10; ++i) {
        if (m >= midpoint(i - 1) && m < midpoint(i)) return static_cast<int>(i);
    }
    return 11;
}

std::optional<std::string_view> valueAfterKey(std::string_view line, std::string_view key) {
    if (line.substr(0, key.size()) != key) return std::nullopt;
    std::size_t i = key.size();
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) ++i;
    if (i >= line.size()) return std::nullopt;
    return line.substr(i);
}

void parseConfiguration(std::string_view text, ConfigurationRecord& cfg, SerialLink& link) {
    SeenMarkers seen;
    std::size_t position = 0;
    while (position < text.size()) {
        // A piece ends after its line end or at kLinePieceLength characters, whichever is first.
        const std::size_t limit = std::min(text.size(), position + kLinePieceLength);
        std::size_t end = position;
        while (end < limit && text[end] != '\n') ++end;
        const bool lineEnd = end < limit;
        if (lineEnd) ++end;
        // A last line without its line end counts as well: the file is often written by hand.
        std::string line(text.substr(position, end - position));
        position = end;
        line.resize(std::strlen(line.c_str()));  // a zero byte ends the piece's text
        if (line.empty() || line[0] == '#') continue;
        if (!trimLineEnd(line) || !trimLineEnd(line)) continue;
        applyLine(line, seen, cfg, link);
    }
    if (seen.dsn && seen.table && seen.link) {
        cfg.databaseLogging = DatabaseLoggingState::Active;
    } else {
        cfg.databaseLogging = DatabaseLoggingState::Off;
        cfg.database.clear();
    }
}

bool readConfiguration(ConfigurationRecord& cfg, SerialLink& link, const char* fileName) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) return false;
    std::string text;
    char buffer[4096];
    // What could be read before a read error still counts, as line by line it would have.
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
    parseConfiguration(text, cfg, link);
    return true;
}

namespace {

// One line of the file, printf-style. Formatted through a va_list so that the compiler does not
// guess at the sizes of a buffer that is sized from the text itself.
__attribute__((format(printf, 1, 2))) std::string formattedLine(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string piece;
    if (n > 0) {
        piece.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(piece.data(), piece.size(), format, again);
        piece.resize(static_cast<std::size_t>(n));
    }
    va_end(again);
    return piece;
}

}  // namespace

std::string configurationText(const ConfigurationRecord& cfg, const SerialLink& link, const SaveRequest& request) {
    std::string text;
    const auto line = [&](const char* format, auto... args) {
        std::string piece = formattedLine(format, args...);
        // A value that ended in carriage returns (a file edited with CR LF lines and more) would
        // lose one at every reading: they are not written.
        while (piece.size() >= 2 && piece[piece.size() - 2] == '\r') piece.erase(piece.size() - 2, 1);
        text += piece;
    };
    text += "# Panelboard Metering Configuration setup file\n";
    text += "# This file is generated automatically\n";
    text += "# DO NOT manually edit \n\n";
    if (!request.locationText.empty()) line("location %s\n", request.locationText.c_str());
    const int choice = request.intervalChoice < 0 ? 0 : request.intervalChoice > 11 ? 11 : request.intervalChoice;
    line("interval %d\n", IntervalChoices[static_cast<std::size_t>(choice)]);
    if (!link.portName.empty()) line("port %s\n", link.portName.c_str());
    line("speed %d\n", link.speed);
    line("parity %d\n", link.parity);
    line("scan %d\n", cfg.scanDepth);
    if (!cfg.logFilePath.empty()) {
        line("save_file %s\n", cfg.logFilePath.c_str());
        line("format %d\n", cfg.fileFormat);
    }
    if (!cfg.database.dsn.empty()) line("dsn %s\n", cfg.database.dsn.c_str());
    if (!cfg.database.table.empty()) line("table %s\n", cfg.database.table.c_str());
    if (!cfg.database.user.empty()) line("user %s\n", cfg.database.user.c_str());
    if (!cfg.database.password.empty()) line("passwd %s\n", cfg.database.password.c_str());
    if (cfg.database.kludgeFlags != 0) line("kludge_flags %d\n", cfg.database.kludgeFlags);
    for (const ColumnLink& l : cfg.database.links) {
        line("link %d %d %s\n", l.variable, static_cast<int>(l.sqlType), l.columnName.c_str());
    }
    if (!cfg.gateway.empty()) line("gateway %s\n", cfg.gateway.c_str());
    if (!cfg.gatewayWriters.empty()) line("gateway_writers %s\n", cfg.gatewayWriters.c_str());
    if (cfg.gatewayReadOnly) text += "gateway_read_only on\n";
    if (cfg.livePolling) text += "live on\n";
    if (!cfg.httpAddress.empty()) line("http %s\n", cfg.httpAddress.c_str());
    return text;
}

namespace {

// Writes the text to a new file beside the old one and renames it over the old one, so that a
// failure part-way leaves the old file as it was. The file holds a password: owner only.
bool replaceFile(const std::string& text) {
    std::string temporary = std::string(kConfigurationFileName) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    std::size_t written = 0;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else written += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), kConfigurationFileName) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

bool writeConfiguration(const ConfigurationRecord& cfg, const SerialLink& link, Operator& op,
                        const SaveRequest& request) {
    if (!replaceFile(configurationText(cfg, link, request))) {
        op.error("Couldn't write file \"Quorna.cfg\"");
        return false;
    }
    op.info("Current settings saved to \"Quorna.cfg\"\nThis file will be read when the program is restarted");
    return true;
}

}  // namespace quorna

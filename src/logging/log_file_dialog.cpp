#include "logging/log_file_dialog.h"

#include "app/operator.h"
#include "logging/readings_record.h"
#include "settings/configuration.h"

namespace quorna {

LogFileDialog::LogFileDialog()
    : m_savedPath(configuration().logFilePath),
      m_savedEnabled(configuration().fileLoggingEnabled),
      m_savedFormat(configuration().fileFormat) {}

const std::string& LogFileDialog::path() const { return configuration().logFilePath; }

bool LogFileDialog::loggingActive() const { return configuration().fileLoggingEnabled; }

int LogFileDialog::markedFormat() const {
    const int format = configuration().fileFormat;
    return format == kFormatTab || format == kFormatSpace ? format : kFormatComma;
}

bool LogFileDialog::setLoggingActive(bool checked) {
    ConfigurationRecord& cfg = configuration();
    if (!checked) {
        cfg.fileLoggingEnabled = false;
        return false;
    }
    if (cfg.logFilePath.empty()) {
        cfg.fileLoggingEnabled = false;
        ui().messageBox(kNoFileChosenMessage, "");
        return false;
    }
    cfg.fileLoggingEnabled = true;
    return true;
}

void LogFileDialog::chooseFormat(int format) { configuration().fileFormat = format; }

void LogFileDialog::chooseFile(const std::string& name) {
    if (name.empty()) return;
    configuration().logFilePath = withDefaultExtension(name);
}

void LogFileDialog::ok() { fileQueue().clear(); }

void LogFileDialog::cancel() {
    ConfigurationRecord& cfg = configuration();
    cfg.logFilePath = m_savedPath;
    cfg.fileLoggingEnabled = m_savedEnabled;
    cfg.fileFormat = m_savedFormat;
}

std::string withDefaultExtension(const std::string& name) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > base) return name;
    return name + "." + kDefaultLogFileExtension;
}

}  // namespace quorna

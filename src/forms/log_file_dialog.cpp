#include "forms/log_file_dialog.h"


namespace quorna {

LogFileDialog::LogFileDialog(Logging& logging)
    : m_logging(logging),
      m_savedPath(logging.settings().logFilePath),
      m_savedEnabled(logging.settings().fileLoggingEnabled),
      m_savedFormat(logging.settings().fileFormat) {}

const std::string& LogFileDialog::path() const { return m_logging.settings().logFilePath; }

bool LogFileDialog::loggingActive() const { return m_logging.settings().fileLoggingEnabled; }

int LogFileDialog::markedFormat() const {
    const int format = m_logging.settings().fileFormat;
    return format == kFormatTab || format == kFormatSpace ? format : kFormatComma;
}

bool LogFileDialog::setLoggingActive(bool checked) {
    ConfigurationRecord& cfg = m_logging.settings();
    if (!checked) {
        cfg.fileLoggingEnabled = false;
        return false;
    }
    if (cfg.logFilePath.empty()) {
        cfg.fileLoggingEnabled = false;
        m_logging.op().warning(kNoFileChosenMessage);
        return false;
    }
    cfg.fileLoggingEnabled = true;
    return true;
}

void LogFileDialog::chooseFormat(int format) { m_logging.settings().fileFormat = format; }

void LogFileDialog::chooseFile(const std::string& name) {
    if (name.empty()) return;
    m_logging.settings().logFilePath = withDefaultExtension(name);
}

void LogFileDialog::ok() {
    m_logging.discardFileRecords();
}

void LogFileDialog::cancel() {
    ConfigurationRecord& cfg = m_logging.settings();
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

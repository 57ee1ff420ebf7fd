#include "gui/logging/log_file_window.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quorna {

QString chooseLogFile(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Lines are appended to an existing file, never replace it: no overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters({QStringLiteral("Text (Comma Delimited) (*.csv)"), QStringLiteral("Text (Tab Delimited) (*.txt)"),
                           QStringLiteral("All Files (*.*)")});
    dialog.setDefaultSuffix(QString::fromLatin1(kDefaultLogFileExtension));
    dialog.selectFile(QString::fromLatin1(kDefaultLogFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

LogFileWindow::LogFileWindow(LogFileDialog& logic, QWidget* parent)
    : QDialog(parent), m_logic(logic), m_chooser(chooseLogFile) {
    setWindowTitle(QStringLiteral("Logging File Setup"));

    auto* fileGroup = new QGroupBox(QStringLiteral("Data is currently being logged to:"));
    auto* fileRow = new QHBoxLayout(fileGroup);
    fileRow->addWidget(new QLabel(QStringLiteral("Filename:")));
    m_path = new QLineEdit;
    m_path->setObjectName(QStringLiteral("path"));
    m_path->setReadOnly(true);
    m_path->setMinimumWidth(320);
    fileRow->addWidget(m_path);

    m_active = new QCheckBox(QStringLiteral("Logging Active"));
    m_active->setObjectName(QStringLiteral("loggingActive"));
    m_active->setWhatsThis(QStringLiteral("Appends every listed meter's readings to the file at each logging moment."));
    auto* select = new QPushButton(QStringLiteral("Select Output File"));
    select->setObjectName(QStringLiteral("selectOutputFile"));
    select->setAutoDefault(false);

    auto* formatGroup = new QGroupBox(QStringLiteral("File Format"));
    auto* formats = new QVBoxLayout(formatGroup);
    m_comma = new QRadioButton(QStringLiteral(".CSV (Comma-Separated Variable)"));
    m_tab = new QRadioButton(QStringLiteral(".TXT (Tab-delimited)"));
    m_space = new QRadioButton(QStringLiteral(".TXT (Space-delimited)"));
    m_comma->setObjectName(QStringLiteral("formatComma"));
    m_tab->setObjectName(QStringLiteral("formatTab"));
    m_space->setObjectName(QStringLiteral("formatSpace"));
    formats->addWidget(m_comma);
    formats->addWidget(m_tab);
    formats->addWidget(m_space);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help,
                                         Qt::Vertical);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ok"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancel"));

    auto* left = new QVBoxLayout;
    left->addWidget(fileGroup);
    auto* controls = new QHBoxLayout;
    auto* switches = new QVBoxLayout;
    switches->addWidget(m_active);
    switches->addWidget(select);
    switches->addStretch();
    controls->addLayout(switches);
    controls->addWidget(formatGroup);
    left->addLayout(controls);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addWidget(buttons);

    showSettings();

    connect(m_active, &QCheckBox::clicked, this, &LogFileWindow::loggingActiveClicked);
    connect(select, &QPushButton::clicked, this, &LogFileWindow::selectOutputFile);
    connect(m_comma, &QRadioButton::clicked, this, [this] { m_logic.chooseFormat(kFormatComma); });
    connect(m_tab, &QRadioButton::clicked, this, [this] { m_logic.chooseFormat(kFormatTab); });
    connect(m_space, &QRadioButton::clicked, this, [this] { m_logic.chooseFormat(kFormatSpace); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &LogFileWindow::helpRequested);
}

void LogFileWindow::showSettings() {
    m_path->setText(QString::fromStdString(m_logic.path()));
    m_active->setChecked(m_logic.loggingActive());
    switch (m_logic.markedFormat()) {
        case kFormatTab: m_tab->setChecked(true); break;
        case kFormatSpace: m_space->setChecked(true); break;
        default: m_comma->setChecked(true); break;
    }
}

void LogFileWindow::loggingActiveClicked(bool checked) { m_active->setChecked(m_logic.setLoggingActive(checked)); }

void LogFileWindow::selectOutputFile() {
    const QString name = m_chooser ? m_chooser(this) : QString();
    if (name.isEmpty()) return;
    m_logic.chooseFile(name.toStdString());
    m_path->setText(QString::fromStdString(m_logic.path()));
}

void LogFileWindow::done(int result) {
    if (result == QDialog::Accepted) {
        m_logic.ok();
    } else {
        m_logic.cancel();
    }
    QDialog::done(result);
}

}  // namespace quorna

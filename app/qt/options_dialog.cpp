// The Options dialog's fields, their checks and the editor that shows it.
#include "options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>

namespace veldra::app_qt {

namespace {

constexpr int kMaxMegabytes = 1024 * 1024;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QSpinBox* NumberField(QWidget* parent, const char* key, int min, int max, int value,
                      const QString& suffix = {}) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(key));
    box->setLocale(QLocale::c());  // no digit grouping, whatever the user's language
    box->setRange(min, max);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
}

QLineEdit* TextField(QWidget* parent, const char* key, const std::string& value) {
    auto* edit = new QLineEdit(Q(value), parent);
    edit->setObjectName(QString::fromLatin1(key));
    return edit;
}

// A path field with a button that opens a file chooser.
QWidget* PathRow(QWidget* parent, QLineEdit* edit, const QString& title) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit, 1);
    auto* browse = new QToolButton(row);
    browse->setText(QStringLiteral("\u2026"));
    browse->setToolTip(QStringLiteral("Choose the file"));
    QObject::connect(browse, &QToolButton::clicked, row, [row, edit, title] {
        const QString path = QFileDialog::getOpenFileName(row, title, edit->text());
        if (!path.isEmpty()) {
            edit->setText(path);
        }
    });
    layout->addWidget(browse);
    return row;
}

constexpr std::array kModes{options::RotationMode::Off, options::RotationMode::Daily,
                            options::RotationMode::Size};
constexpr std::array kFormats{options::PayloadFormat::Json, options::PayloadFormat::Influx};

template <typename Enum, std::size_t N>
int IndexOf(const std::array<Enum, N>& values, Enum value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (values[i] == value) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

}  // namespace

OptionsDialog::OptionsDialog(const options::Options& o, QWidget* parent)
    : QDialog(parent), base_(o) {
    setObjectName(QStringLiteral("options_dialog"));
    setWindowTitle(QStringLiteral("Options"));
    auto* column = new QVBoxLayout(this);

    auto* note = new QLabel(
        QStringLiteral("Kept in %1 beside the settings. Changes apply from the next start of "
                       "logging.")
            .arg(QString::fromLatin1(options::kOptionsFileName)),
        this);
    note->setWordWrap(true);
    column->addWidget(note);

    auto* files = new QGroupBox(QStringLiteral("Log files"), this);
    auto* fileForm = new QFormLayout(files);
    mode_ = new QComboBox(files);
    mode_->setObjectName(QStringLiteral("rotation.mode"));
    mode_->addItems({QStringLiteral("Never: one pair of files for the whole session"),
                     QStringLiteral("Every day at midnight"),
                     QStringLiteral("When the text log reaches a size")});
    mode_->setCurrentIndex(IndexOf(kModes, o.rotation.mode));
    fileForm->addRow(QStringLiteral("Start new files:"), mode_);
    sizeMb_ = NumberField(files, "rotation.size_mb", 1, kMaxMegabytes, o.rotation.size_mb,
                          QStringLiteral(" MB"));
    fileForm->addRow(QStringLiteral("Size of a text log:"), sizeMb_);
    keepDays_ = NumberField(files, "rotation.keep_days", 0, 36500, o.rotation.keep_days,
                            QStringLiteral(" days"));
    keepDays_->setSpecialValueText(QStringLiteral("keep all"));
    keepDays_->setToolTip(
        QStringLiteral("Dated logs of this program older than this are deleted; other files "
                       "are never touched."));
    fileForm->addRow(QStringLiteral("Keep dated logs:"), keepDays_);
    diskGuardMb_ = NumberField(files, "disk_guard_mb", 0, kMaxMegabytes, o.disk_guard_mb,
                               QStringLiteral(" MB"));
    diskGuardMb_->setSpecialValueText(QStringLiteral("never warn"));
    fileForm->addRow(QStringLiteral("Warn when free space is under:"), diskGuardMb_);
    column->addWidget(files);
    connect(mode_, &QComboBox::currentIndexChanged, this, [this] { followRotationMode(); });
    followRotationMode();

    const options::MqttOptions& m = o.mqtt;
    mqtt_ = new QGroupBox(QStringLiteral("Export to an MQTT broker"), this);
    auto* form = new QFormLayout(mqtt_);
    // A check box of its own rather than a checkable group: the fields stay editable when
    // export is off, so a refused value can always be corrected.
    enabled_ = new QCheckBox(QStringLiteral("Publish every cycle"), mqtt_);
    enabled_->setObjectName(QStringLiteral("mqtt.enabled"));
    enabled_->setChecked(m.enabled);
    form->addRow(enabled_);
    host_ = TextField(mqtt_, "mqtt.host", m.host);
    form->addRow(QStringLiteral("Broker host:"), host_);
    port_ = NumberField(mqtt_, "mqtt.port", 1, 65535, m.port);
    form->addRow(QStringLiteral("Broker port:"), port_);
    site_ = TextField(mqtt_, "mqtt.site", m.site);
    form->addRow(QStringLiteral("Site name:"), site_);
    prefix_ = TextField(mqtt_, "mqtt.topic_prefix", m.topic_prefix);
    form->addRow(QStringLiteral("Topic prefix:"), prefix_);
    format_ = new QComboBox(mqtt_);
    format_->setObjectName(QStringLiteral("mqtt.format"));
    format_->addItems({QStringLiteral("JSON"), QStringLiteral("InfluxDB line protocol")});
    format_->setCurrentIndex(IndexOf(kFormats, m.format));
    form->addRow(QStringLiteral("Payload format:"), format_);
    username_ = TextField(mqtt_, "mqtt.username", m.username);
    form->addRow(QStringLiteral("User name:"), username_);
    password_ = TextField(mqtt_, "mqtt.password", m.password);
    password_->setEchoMode(QLineEdit::Password);
    password_->setToolTip(
        QStringLiteral("With a password the options file is readable by you alone."));
    form->addRow(QStringLiteral("Password:"), password_);
    caFile_ = TextField(mqtt_, "mqtt.ca_file", m.ca_file);
    form->addRow(QStringLiteral("CA certificate:"),
                 PathRow(mqtt_, caFile_, QStringLiteral("CA certificate")));
    certFile_ = TextField(mqtt_, "mqtt.cert_file", m.cert_file);
    form->addRow(QStringLiteral("Client certificate:"),
                 PathRow(mqtt_, certFile_, QStringLiteral("Client certificate")));
    keyFile_ = TextField(mqtt_, "mqtt.key_file", m.key_file);
    form->addRow(QStringLiteral("Client key:"),
                 PathRow(mqtt_, keyFile_, QStringLiteral("Client key")));
    outbox_ = TextField(mqtt_, "mqtt.outbox", m.outbox);
    outbox_->setToolTip(
        QStringLiteral("Cycles wait here until the broker has them; a relative path lies "
                       "beside the options file."));
    form->addRow(QStringLiteral("Outbox file:"), outbox_);
    outboxLimitMb_ = NumberField(mqtt_, "mqtt.outbox_limit_mb", 1, kMaxMegabytes, m.outbox_limit_mb,
                                 QStringLiteral(" MB"));
    form->addRow(QStringLiteral("Outbox limit:"), outboxLimitMb_);
    column->addWidget(mqtt_);

    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("options_error"));
    error_->setTextFormat(Qt::PlainText);
    error_->setWordWrap(true);
    QFont bold = error_->font();
    bold.setBold(true);
    error_->setFont(bold);  // the word "Refused" says it; no colour needed
    error_->hide();
    column->addWidget(error_);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

void OptionsDialog::followRotationMode() {
    sizeMb_->setEnabled(kModes[static_cast<std::size_t>(mode_->currentIndex())] ==
                        options::RotationMode::Size);
}

options::Options OptionsDialog::values() const {
    options::Options o = base_;
    o.rotation.mode = kModes[static_cast<std::size_t>(mode_->currentIndex())];
    o.rotation.size_mb = sizeMb_->value();
    o.rotation.keep_days = keepDays_->value();
    o.disk_guard_mb = diskGuardMb_->value();
    options::MqttOptions& m = o.mqtt;
    m.enabled = enabled_->isChecked();
    m.host = host_->text().trimmed().toStdString();
    m.port = port_->value();
    m.site = site_->text().toStdString();
    m.topic_prefix = prefix_->text().toStdString();
    m.format = kFormats[static_cast<std::size_t>(format_->currentIndex())];
    m.username = username_->text().toStdString();
    m.password = password_->text().toStdString();
    m.ca_file = caFile_->text().toStdString();
    m.cert_file = certFile_->text().toStdString();
    m.key_file = keyFile_->text().toStdString();
    m.outbox = outbox_->text().toStdString();
    m.outbox_limit_mb = outboxLimitMb_->value();
    return o;
}

void OptionsDialog::showRefusal(const std::string& reason) {
    error_->setText(QStringLiteral("Refused: ") + Q(reason));
    error_->show();
    // The reason begins with the key, which is the name of its field.
    const QString key = Q(reason.substr(0, reason.find(':')));
    if (auto* field = findChild<QWidget*>(key)) {
        field->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(field)) {
            edit->selectAll();
        }
    }
}

void OptionsDialog::accept() {
    if (const options::Result checked = options::validate_options(values()); !checked) {
        showRefusal(checked.error);
        return;
    }
    QDialog::accept();
}

bool QtOptionsEditor::edit(options::Options& options) {
    OptionsDialog dialog(options, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    options = dialog.values();
    return true;
}

}  // namespace veldra::app_qt

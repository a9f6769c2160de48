// Message boxes and the file selection dialog of the Qt front-end.
#include "popups.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <filesystem>

namespace veldra::ui::qt {

namespace {

bool OnGuiThread() {
    return qApp != nullptr && QThread::currentThread() == qApp->thread();
}

QString FromView(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "*.set" -> ".set"; "" when the spec names no single extension.
std::string ExtensionOf(const std::string& spec) {
    const auto dot = spec.rfind('.');
    if (dot == std::string::npos || spec.find_first_of("*?", dot) != std::string::npos) {
        return {};
    }
    return spec.substr(dot);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

}  // namespace

bool CompleteExtension(const FileSelectRequest& request, std::string& name) {
    const std::string wanted = ExtensionOf(request.defaultFileSpec);
    if (request.restrictExtension == 0 || wanted.empty()) {
        return true;
    }
    const std::string file = std::filesystem::path(name).filename().string();
    const auto dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        name += wanted;
        return true;
    }
    return Lower(file.substr(dot)) == Lower(wanted);
}

int QtPopups::message(std::string_view title, std::string_view text) {
    const QString t = FromView(title);
    const QString m = FromView(text);
    const auto icon = title == "Error" ? QMessageBox::Warning : QMessageBox::Information;
    if (OnGuiThread()) {
        QMessageBox box(icon, t, m, QMessageBox::Ok);
        box.exec();
        return 0;
    }
    if (qApp != nullptr) {
        QMetaObject::invokeMethod(
            qApp,
            [icon, t, m] {
                auto* box = new QMessageBox(icon, t, m, QMessageBox::Ok);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->show();
            },
            Qt::QueuedConnection);
    }
    return 0;
}

int QtPopups::fileSelect(const FileSelectRequest& request, std::string& path) {
    if (!OnGuiThread()) {
        return UIE_BAD_ARGUMENT;
    }
    QFileDialog dialog(nullptr, QString::fromStdString(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // One dialog both picks an existing file and names a new one; overwriting is the caller's.
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    if (request.allowMakeDirectory == 0) {
        dialog.setOption(QFileDialog::ReadOnly);
    }
    dialog.setDirectory(request.defaultDirectory.empty()
                            ? QDir::currentPath()
                            : QString::fromStdString(request.defaultDirectory));
    const QString types = QString::fromStdString(request.fileTypeList);
    if (!types.isEmpty()) {
        dialog.setNameFilters({types + QStringLiteral(" (") + types + QStringLiteral(")"),
                               QStringLiteral("All files (*)")});
    }
    const std::string wanted = ExtensionOf(request.defaultFileSpec);
    if (!wanted.empty()) {
        dialog.setDefaultSuffix(QString::fromStdString(wanted.substr(1)));
    }
    if (request.defaultFileSpec.find_first_of("*?") == std::string::npos &&
        !request.defaultFileSpec.empty()) {
        dialog.selectFile(QString::fromStdString(request.defaultFileSpec));
    }
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return VAL_NO_FILE_SELECTED;
        }
        std::string chosen = dialog.selectedFiles().constFirst().toStdString();
        if (!CompleteExtension(request, chosen)) {
            QMessageBox::warning(&dialog, QString::fromStdString(request.title),
                                 QStringLiteral("Please choose a file name ending in %1.")
                                     .arg(QString::fromStdString(wanted)));
            continue;
        }
        path = chosen;
        return QFileInfo::exists(QString::fromStdString(chosen)) ? VAL_EXISTING_FILE_SELECTED
                                                                 : VAL_NEW_FILE_SELECTED;
    }
}

}  // namespace veldra::ui::qt

// The Options dialog: the log files' rotation and retention, the disk guard and the broker
// export, as kept in options.json. OK checks the values by the same rules as reading the file
// does; a value that breaks one is refused with its reason under the fields, its field gets the
// focus, and the dialog stays open with everything the user typed.
#pragma once

#include <QDialog>

#include "app/window_extras.h"
#include "options/options.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace veldra::app_qt {

class OptionsDialog : public QDialog {
  public:
    OptionsDialog(const options::Options& options, QWidget* parent);

    // The values as the user left them, over the options the dialog was opened with.
    options::Options values() const;

    // For tests: every field is named by its key in the file ("rotation.mode", "mqtt.site").
    QLabel* errorLabel() const { return error_; }

  protected:
    void accept() override;

  private:
    void showRefusal(const std::string& reason);
    void followRotationMode();

    options::Options base_;
    QComboBox* mode_ = nullptr;
    QSpinBox* sizeMb_ = nullptr;
    QSpinBox* keepDays_ = nullptr;
    QSpinBox* diskGuardMb_ = nullptr;
    QGroupBox* mqtt_ = nullptr;
    QCheckBox* enabled_ = nullptr;
    QLineEdit* host_ = nullptr;
    QSpinBox* port_ = nullptr;
    QLineEdit* site_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QComboBox* format_ = nullptr;
    QLineEdit* username_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* caFile_ = nullptr;
    QLineEdit* certFile_ = nullptr;
    QLineEdit* keyFile_ = nullptr;
    QLineEdit* outbox_ = nullptr;
    QSpinBox* outboxLimitMb_ = nullptr;
    QLabel* error_ = nullptr;
};

// The "Options…" command's editor in the Qt front-end: the dialog above, modal over the window
// the command came from.
class QtOptionsEditor final : public OptionsEditor {
  public:
    bool edit(options::Options& options) override;
};

}  // namespace veldra::app_qt

#pragma once

// "Neu aufzubauende Daten": shows when the server last built its period
// sums, proposes the last two complete months and asks the server to
// rebuild the sums for the range the user confirms. Created for each
// opening; modal towards its owner.

#include <QDialog>
#include <QString>
#include <optional>

namespace cache {
class CacheError;
}

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform {
class Clock;
class Ui;
} // namespace platform
namespace srv {
class Session;
}

namespace retrieval {

// True for a period code: 1 to 3 year digits (year - 1900) followed by a
// two-digit month 01..12, nothing else (no blanks, no sign).
bool isPeriodCode(const QString& text);

class FrmNeueDaten : public QDialog {
    Q_OBJECT
public:
    // How the last confirmation ended (for the caller and tests).
    enum class Outcome { None, Rejected, Done, Failed, Cancelled };

    FrmNeueDaten(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                 QWidget* owner = nullptr);
    ~FrmNeueDaten() override;

    // Creates the dialog, loads it and runs it modally; the result of exec().
    static int showModal(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                         QWidget* owner);

    void Form_Load();
    void OKButton_Click();
    // Closes the dialog; while a rebuild runs it asks the server to stop instead.
    void CancelButton_Click();

    Outcome lastOutcome() const { return outcome_; }
    bool rebuildRunning() const { return running_; }

    QLabel* lblDatenAnzeige;
    QLabel* lblVon;
    QLabel* lblBis;
    QLineEdit* edtVon;
    QLineEdit* edtBis;
    QPushButton* OKButton;
    QPushButton* CancelButton;
    // Visible only while the server reports the periods of a running rebuild.
    QProgressBar* prgFortschritt;

public slots:
    // Escape and the window's close button: cancel a running rebuild
    // instead of leaving the server call behind a closed window.
    void reject() override;

private:
    bool validateFields();
    // Runs Generieren inside the bracket; the server's error, if any.
    std::optional<cache::CacheError> generate(const QString& von, const QString& bis);
    bool onProgress(int done, int total, int period);
    void setEditable(bool editable);
    QString clockTime() const;

    srv::Session& session_;
    platform::Ui& ui_;
    platform::Clock& clock_;
    Outcome outcome_ = Outcome::None;
    bool running_ = false;
    bool cancelRequested_ = false;
    bool cancelDelivered_ = false;
};

} // namespace retrieval

#pragma once

// "Zusätzliche Auswahlparameter": article type, shipping type and the
// choice between revenue/margin and cash discount/rebate. Modeless; while
// it is open the period query uses its extended form.

#include <QDialog>

class QComboBox;
class QRadioButton;
class QPushButton;

namespace mw {

// What the window needs from the main window.
class AuswahlHost {
public:
    virtual ~AuswahlHost() = default;
    // The company field read as a number and written back as text.
    virtual QString companyNumber() const = 0;
    // Code of the main shipping type list.
    virtual QString mainShippingCode() const = 0;
    // Runs the period query.
    virtual void runPeriodQuery() = 0;
    // The window closed: untick "Erweiterte Auswahl" if it is ticked.
    virtual void extendedSelectionClosed() = 0;
};

class FrmAuswahlDetail : public QDialog {
    Q_OBJECT
public:
    explicit FrmAuswahlDetail(AuswahlHost& host, QWidget* owner);

    // Fills the lists anew and resets the display choice (each opening).
    void Form_Load();
    void oDarstellung_Click(int index);
    void OKButton_Click();
    void CancelButton_Click();

    QComboBox* SSTyp;
    QComboBox* SVART;
    QRadioButton* oDarstellung[2];
    QPushButton* OKButton;
    QPushButton* CancelButton;

protected:
    void done(int r) override;

private:
    void Form_Unload();
    AuswahlHost& host_;
};

} // namespace mw

#pragma once

#include "Ui.h"

namespace platform {

// Message boxes (QMessageBox, parented to the active window), the
// application override cursor and QCoreApplication's event pump.
class QtUi : public Ui {
public:
    ~QtUi() override;
    MsgAnswer message(const QString& title, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override;
    void setBusyCursor(bool busy) override;
    bool busyCursor() const override { return busy_; }
    void processEvents() override;

private:
    bool busy_ = false;
};

} // namespace platform

#pragma once

// The start-up window: a picture and a status bar whose first panel shows
// what the start-up is doing.

#include <QWidget>

class QLabel;
class QStatusBar;

namespace mw {

class Splash : public QWidget {
    Q_OBJECT
public:
    explicit Splash(QWidget* parent = nullptr);
    // Sets the first panel and paints at once (the start-up does not return
    // to the event loop between its steps).
    void setStatus(const QString& text);
    QString status() const;

private:
    QStatusBar* StatusBar;
    QLabel* panel1_;
};

} // namespace mw

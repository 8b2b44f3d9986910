#pragma once

// The tool window "Programmverlauf": a live view of programLog(). One
// instance per process, created on first use; the close button only hides
// it, so it keeps its place and size until the program ends.

#include <QWidget>

class QTreeView;

namespace windows {

class frmProgrammverlauf : public QWidget {
    Q_OBJECT
public:
    // Creates the window on first use. A non-null owner (the main window)
    // becomes its parent, also when the window already exists, so it stays
    // on top of that window; deleting the owner deletes the window, and the
    // next call creates a new one showing the same log.
    static frmProgrammverlauf* instance(QWidget* owner = nullptr);
    // The instance if there is one, without creating it.
    static frmProgrammverlauf* existing();
    // What the menu entry does: show without blocking, in front.
    static frmProgrammverlauf* showInstance(QWidget* owner);
    // Program end: really closes and deletes the instance.
    static void shutdown();

    // Same as WriteLog.
    void StatusText(const QString& Programmteil = {}, const QString& Text = {},
                    const QString& Parameter = {});

    QTreeView* Verlauf() const { return verlauf_; }

    // While false a close request only hides the window.
    void setQuitting(bool quitting) { quitting_ = quitting; }
    bool quitting() const { return quitting_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    explicit frmProgrammverlauf(QWidget* owner);

    QTreeView* verlauf_;
    bool quitting_ = false;
};

} // namespace windows

#pragma once

// The about box "Info zu Tallvero": title, version, a one-line description,
// contact links and the button that starts the platform's system
// information tool, found through the registry stand-in.

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace platform {
class Ui;
}

namespace windows {

class Registry;

inline const QString kAppTitle = QStringLiteral("Tallvero");

// Starts a program detached from this one; false if it could not be started.
using ProcessStarter = std::function<bool(const QString& program)>;
bool startDetachedProcess(const QString& program);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // ui, registry and the starter must outlive the dialog.
    frmAbout(platform::Ui& ui, Registry& registry, ProcessStarter starter = startDetachedProcess,
             QWidget* parent = nullptr);

    // One box per process, created on first use without owner and deleted
    // when it is closed; the arguments only matter when it is created.
    static frmAbout* instance(platform::Ui& ui, Registry& registry,
                              ProcessStarter starter = startDetachedProcess);
    static frmAbout* existing();
    // What the help menu does: show non-modal, in front.
    static frmAbout* showInstance(platform::Ui& ui, Registry& registry,
                                  ProcessStarter starter = startDetachedProcess);

    // Starts the system information tool or tells the user it is not there.
    void StartSysInfo();

    // major.minor.revision, each number as a plain integer, missing numbers 0.
    static QString versionText(const QString& applicationVersion);

    QLabel* picIcon() const { return icon_; }
    QLabel* lblTitle() const { return title_; }
    QLabel* lblVersion() const { return version_; }
    QLabel* lblDescription() const { return description_; }
    QLabel* lblKontakt() const { return contact_; }
    QLabel* lblWebseite() const { return web_; }
    QPushButton* cmdOK() const { return ok_; }
    QPushButton* cmdSysInfo() const { return sysInfo_; }

private:
    platform::Ui& ui_;
    Registry& registry_;
    ProcessStarter starter_;
    QLabel* icon_;
    QLabel* title_;
    QLabel* version_;
    QLabel* description_;
    QLabel* contact_;
    QLabel* web_;
    QPushButton* ok_;
    QPushButton* sysInfo_;
};

} // namespace windows

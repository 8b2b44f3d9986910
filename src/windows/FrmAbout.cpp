#include "FrmAbout.h"

#include "Registry.h"
#include "platform/ui/Ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace windows {

namespace {
QPointer<frmAbout>& theInstance() {
    static QPointer<frmAbout> p;
    return p;
}

const QString kMsinfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kContactAddress = QStringLiteral("support@tallvero.example");
const QString kWebPage = QStringLiteral("https://www.tallvero.example/");

QLabel* linkLabel(const QString& objectName, const QString& caption, const QString& href,
                  const QString& shown, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(objectName);
    l->setText(caption + QStringLiteral(" <a href=\"") + href + QStringLiteral("\">") +
               shown.toHtmlEscaped() + QStringLiteral("</a>"));
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::TextBrowserInteraction);
    l->setOpenExternalLinks(true);
    return l;
}

int leadingInt(const QString& part) {
    qsizetype n = 0;
    while (n < part.size() && part.at(n).isDigit()) ++n;
    return part.left(n).toInt(); // empty or out of range: 0
}
} // namespace

bool startDetachedProcess(const QString& program) {
    if (program.isEmpty()) return false;
    return QProcess::startDetached(program, {});
}

QString frmAbout::versionText(const QString& applicationVersion) {
    const QStringList parts = applicationVersion.trimmed().split(QLatin1Char('.'));
    QStringList out;
    for (int i = 0; i < 3; ++i) out << QString::number(leadingInt(parts.value(i)));
    return out.join(QLatin1Char('.'));
}

frmAbout::frmAbout(platform::Ui& ui, Registry& registry, ProcessStarter starter, QWidget* parent)
    : QDialog(parent), ui_(ui), registry_(registry), starter_(std::move(starter)) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Info zu ") + kAppTitle);

    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("picIcon"));
    // The program's icon once the program has set one.
    const QIcon appIcon = QApplication::windowIcon();
    icon_->setPixmap(
        (appIcon.isNull() ? style()->standardIcon(QStyle::SP_MessageBoxInformation) : appIcon)
            .pixmap(48, 48));
    icon_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    title_ = new QLabel(kAppTitle, this);
    title_->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title_->setFont(titleFont);

    // The label holds the bare number; "Version" is a caption beside it.
    auto* versionCaption = new QLabel(QStringLiteral("Version"), this);
    version_ = new QLabel(versionText(QCoreApplication::applicationVersion()), this);
    version_->setObjectName(QStringLiteral("lblVersion"));

    description_ = new QLabel(QStringLiteral("Monatliche Entwicklung von Umsatz und "
                                             "Deckungsbeitrag gegenüber Vorjahr und "
                                             "Dreijahresmittel"),
                              this);
    description_->setObjectName(QStringLiteral("lblDescription"));
    description_->setWordWrap(true);

    contact_ = linkLabel(QStringLiteral("lblKontakt"), QStringLiteral("Kontakt:"),
                         QStringLiteral("mailto:") + kContactAddress, kContactAddress, this);
    web_ = linkLabel(QStringLiteral("lblWebseite"), QStringLiteral("Internet:"), kWebPage,
                     kWebPage, this);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(QStringLiteral("cmdOK"));
    ok_->setDefault(true);
    sysInfo_ = new QPushButton(QStringLiteral("&Systeminfo..."), this);
    sysInfo_->setObjectName(QStringLiteral("cmdSysInfo"));
    sysInfo_->setAutoDefault(false);

    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(versionCaption);
    versionRow->addWidget(version_);
    versionRow->addStretch();

    auto* text = new QVBoxLayout;
    text->addWidget(title_);
    text->addLayout(versionRow);
    text->addSpacing(8);
    text->addWidget(description_);
    text->addStretch();

    auto* head = new QHBoxLayout;
    head->addWidget(icon_);
    head->addLayout(text, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* links = new QVBoxLayout;
    links->addWidget(contact_);
    links->addWidget(web_);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok_);
    buttons->addWidget(sysInfo_);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(links, 1);
    bottom->addLayout(buttons);

    auto* top = new QVBoxLayout(this);
    top->addLayout(head);
    top->addWidget(line);
    top->addLayout(bottom);
    setMinimumWidth(440);

    connect(ok_, &QPushButton::clicked, this, &QWidget::close);
    connect(sysInfo_, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

frmAbout* frmAbout::instance(platform::Ui& ui, Registry& registry, ProcessStarter starter) {
    QPointer<frmAbout>& p = theInstance();
    if (!p) {
        p = new frmAbout(ui, registry, std::move(starter));
        // One box for the process: closing hides it, the next use shows
        // the same box again.
        p->setModal(false);
    }
    return p;
}

frmAbout* frmAbout::existing() {
    return theInstance();
}

frmAbout* frmAbout::showInstance(platform::Ui& ui, Registry& registry, ProcessStarter starter) {
    frmAbout* d = instance(ui, registry, std::move(starter));
    d->show();
    d->raise();
    d->activateWindow();
    return d;
}

void frmAbout::StartSysInfo() {
    std::optional<QString> path;
    QString value;
    if (GetKeyValue(registry_, HKEY_LOCAL_MACHINE, kMsinfoKey, QStringLiteral("PATH"), value)) {
        path = value;
    } else if (GetKeyValue(registry_, HKEY_LOCAL_MACHINE, kLocationKey, QStringLiteral("MSINFO"),
                           value)) {
        // The registry names the folder; the Linux stand-in may use either
        // separator.
        for (const QString& candidate :
             {value + QStringLiteral("\\MSINFO32.EXE"), value + QStringLiteral("/MSINFO32.EXE")}) {
            if (QFileInfo(candidate).isFile()) {
                path = candidate;
                break;
            }
        }
    }
    bool started = false;
    if (path) {
        try {
            started = starter_ && starter_(*path);
        } catch (...) {
            started = false;
        }
    }
    if (!started)
        ui_.message(kAppTitle, QStringLiteral("Systeminformationen sind momentan nicht verfügbar"),
                    platform::MsgIcon::None, platform::MsgButtons::Ok);
}

} // namespace windows

#include "support/PrintSpooler.h"

#include "support/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#ifndef TALLVERO_NO_CUPS
#include <cups/cups.h>
#endif
#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace testsupport {

namespace {

bool write(const QString& file, const QString& text) {
    QFile f(file);
    const QByteArray bytes = text.toUtf8();
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

// /tmp rather than TMPDIR: the scheduler's filters run as lp and must reach
// the folder, and a local socket's path must stay short.
PrintSpooler::PrintSpooler() : dir_(QStringLiteral("/tmp/tallvero-cups-XXXXXX")) {
    problem_ = start();
    if (!problem_.isEmpty() && cupsd_.state() != QProcess::NotRunning) {
        cupsd_.kill();
        cupsd_.waitForFinished(5000);
    }
}

// Empty when the scheduler runs with the queue, else why not.
QString PrintSpooler::start() {
#ifdef TALLVERO_NO_CUPS
    return QStringLiteral("built without the CUPS development files (libcups2-dev)");
#else
    const QString ppd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
    if (geteuid() != 0) return QStringLiteral("the CUPS-PDF backend only runs as root");
    for (const QString& f :
         {QStringLiteral("/usr/sbin/cupsd"), QStringLiteral("/usr/sbin/lpadmin"),
          QStringLiteral("/usr/bin/lpstat"), QStringLiteral("/usr/lib/cups/backend/cups-pdf"), ppd})
        if (!QFile::exists(f)) return f + " is missing (packages cups, printer-driver-cups-pdf)";
    for (const char* tool : {"pdfinfo", "pdftotext"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QLatin1String(tool) + QStringLiteral(" is missing (package poppler-utils)");
    if (!dir_.isValid()) return QStringLiteral("no temporary folder: ") + dir_.errorString();
    // Filters run as the scheduler's user lp: the folders must be open to it.
    const QString d = dir_.path();
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(d, open);
    for (const char* sub : {"etc", "spool", "spool/tmp", "cache", "state", "log", "out", "pdf"}) {
        QDir().mkpath(d + '/' + sub);
        QFile::setPermissions(d + '/' + sub, open);
    }
    socket_ = d + QStringLiteral("/cups.sock");
    queue_ = QStringLiteral("tallvero-test-%1").arg(QCoreApplication::applicationPid());
    // The backend reads its settings from /etc/cups, per queue, and nowhere else.
    backendConfig_ = QStringLiteral("/etc/cups/cups-pdf-%1.conf").arg(queue_);
    if (!write(d + "/etc/cupsd.conf",
               QStringLiteral("Listen %1\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                              "DefaultAuthType None\nPreserveJobHistory Yes\nPreserveJobFiles Yes\n"
                              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                              "<Policy default>\n  JobPrivateAccess all\n"
                              "  JobPrivateValues none\n  SubscriptionPrivateAccess all\n"
                              "  SubscriptionPrivateValues none\n  <Limit All>\n"
                              "    Order deny,allow\n    Allow all\n  </Limit>\n</Policy>\n")
                   .arg(socket_)) ||
        !write(d + "/etc/cups-files.conf",
               QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                              "CacheDir %1/cache\nStateDir %1/state\nErrorLog %1/log/error_log\n"
                              "AccessLog %1/log/access_log\nPageLog %1/log/page_log\n"
                              "FileDevice No\n")
                   .arg(d)) ||
        !write(backendConfig_, QStringLiteral("Out %1/out\nAnonDirName %1/out\nSpool %1/pdf\n"
                                              "Log %1/log\nGrp root\n")
                                   .arg(d)))
        return QStringLiteral("cannot write the configuration in ") + d + " or /etc/cups";

    cupsd_.setStandardOutputFile(d + "/log/cupsd.out");
    cupsd_.setStandardErrorFile(d + "/log/cupsd.out");
    cupsd_.start(QStringLiteral("/usr/sbin/cupsd"),
                 {"-f", "-c", d + "/etc/cupsd.conf", "-s", d + "/etc/cups-files.conf"});
    // Up when lpadmin reaches it and sets up the queue.
    QElapsedTimer t;
    t.start();
    ProcessRun lpadmin;
    while (cupsd_.waitForStarted(10000) && t.elapsed() < 20000) {
        lpadmin = runProcess(QStringLiteral("/usr/sbin/lpadmin"),
                             {"-h", socket_, "-p", queue_, "-E", "-v", "cups-pdf:/" + queue_, "-P",
                              ppd, "-o", "printer-error-policy=abort-job"},
                             {}, {}, 60000, true);
        if (lpadmin.code == 0) {
            if (qEnvironmentVariableIsSet("CUPS_SERVER")) oldServer_ = qgetenv("CUPS_SERVER");
            qputenv("CUPS_SERVER", socket_.toLocal8Bit());
            // The client library keeps the server it found first; point it here.
            cupsSetServer(socket_.toLocal8Bit().constData());
            return {};
        }
        QThread::msleep(100);
    }
    return QStringLiteral("cupsd did not come up or lpadmin cannot set up the queue: ") +
           lpadmin.outText() + cupsd_.errorString() + logs();
#endif
}

PrintSpooler::~PrintSpooler() {
#ifndef TALLVERO_NO_CUPS
    if (problem_.isEmpty()) {
        if (oldServer_)
            qputenv("CUPS_SERVER", *oldServer_);
        else
            qunsetenv("CUPS_SERVER");
        cupsSetServer(nullptr);
    }
#endif
    if (cupsd_.state() != QProcess::NotRunning) {
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(10000)) cupsd_.kill();
        cupsd_.waitForFinished(5000);
    }
    if (!backendConfig_.isEmpty()) QFile::remove(backendConfig_);
}

QList<PrintSpooler::Job> PrintSpooler::jobs(int timeoutMs) {
    // Empty when the scheduler cannot be reached: then nothing is pending.
    const auto lpstat = [this](const char* which) {
        const ProcessRun r = runProcess("lpstat", {"-h", socket_, "-W", which, "-o", queue_});
        return r.code == 0 ? r.outText() : QString();
    };
    QElapsedTimer t;
    t.start();
    while (!lpstat("not-completed").isEmpty() && t.elapsed() <= timeoutMs)
        QThread::msleep(200);
    // Lines "queue-id user size date"; the backend names its file after the id.
    static const QRegularExpression id(QStringLiteral("^\\S+-(\\d+) "),
                                       QRegularExpression::MultilineOption);
    const QDir outDir(dir_.path() + QStringLiteral("/out"));
    QList<Job> out;
    for (auto it = id.globalMatch(lpstat("completed")); it.hasNext();) {
        const int n = it.next().captured(1).toInt();
        const QStringList files = outDir.entryList({QStringLiteral("*job_%1.pdf").arg(n)});
        out.append({n, dir_.path() + QStringLiteral("/spool/d%1-001").arg(n, 5, 10, QChar('0')),
                    files.isEmpty() ? QString() : outDir.filePath(files.first())});
    }
    std::sort(out.begin(), out.end(), [](const Job& a, const Job& b) { return a.id < b.id; });
    return out;
}

QString PrintSpooler::logs() const {
    QString all;
    for (const QString& f : QStringList{"cupsd.out", "error_log", "cups-pdf-" + queue_ + "_log"}) {
        QFile file(dir_.path() + "/log/" + f);
        if (file.open(QIODevice::ReadOnly)) all += QString::fromUtf8(file.readAll()).right(3000);
    }
    return all;
}

QList<PrintSpooler::PdfPage> PrintSpooler::pdfPages(const QString& file) {
    const QString info = runProcess("pdfinfo", {"-f", "1", "-l", "999", file}).outText();
    static const QRegularExpression page(
        QStringLiteral("^Page\\s+\\d+ size:\\s+([0-9.]+) x ([0-9.]+) pts.*\\n"
                       "Page\\s+\\d+ rot:\\s+(\\d+)"),
        QRegularExpression::MultilineOption);
    QList<PdfPage> pages;
    for (auto it = page.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        const double w = m.captured(1).toDouble(), h = m.captured(2).toDouble();
        const bool turned = m.captured(3).toInt() % 180 == 90;
        pages.append({std::abs(std::min(w, h) - 595) < 2 && std::abs(std::max(w, h) - 842) < 2,
                      (w > h) != turned});
    }
    return pages;
}

QString PrintSpooler::pdfText(const QString& file) {
    return runProcess("pdftotext", {"-enc", "UTF-8", file, "-"}).outText();
}

} // namespace testsupport

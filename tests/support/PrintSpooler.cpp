#include "support/PrintSpooler.h"

#include "support/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

const QString kCupsd = QStringLiteral("/usr/sbin/cupsd");
const QString kLpadmin = QStringLiteral("/usr/sbin/lpadmin");
const QString kBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
const QString kPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
// The backend reads its settings from here, per queue, and nowhere else.
const QString kBackendConfigDir = QStringLiteral("/etc/cups");

bool write(const QString& file, const QString& text) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           f.write(text.toUtf8()) == text.toUtf8().size();
}

QString tail(const QString& file, int chars) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QString all = QString::fromUtf8(f.readAll());
    return all.right(chars);
}

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    const auto r = testsupport::runProcess(program, args, {}, {}, 60000, true);
    if (exitCode) *exitCode = r.code;
    return r.outText();
}

} // namespace

// /tmp rather than TMPDIR: the scheduler's filters run as lp and must reach
// the folder, and a local socket's path must stay short.
PrintSpooler::PrintSpooler() : dir_(QStringLiteral("/tmp/tallvero-cups-XXXXXX")) {
    if (!start()) {
        cupsd_.kill();
        cupsd_.waitForFinished(5000);
    }
}

bool PrintSpooler::start() {
    auto fail = [this](const QString& why) {
        problem_ = why;
        return false;
    };
#ifdef TALLVERO_NO_CUPS
    return fail(QStringLiteral("built without the CUPS development files (libcups2-dev)"));
#else
    if (geteuid() != 0)
        return fail(
            QStringLiteral("the CUPS-PDF backend only runs for a scheduler started as root"));
    for (const QString& f : {kCupsd, kLpadmin, kBackend, kPpd})
        if (!QFileInfo::exists(f))
            return fail(f + QStringLiteral(" is missing (packages cups, printer-driver-cups-pdf)"));
    for (const char* tool : {"pdfinfo", "pdftotext"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return fail(QLatin1String(tool) +
                        QStringLiteral(" is missing (package poppler-utils)"));
    if (!dir_.isValid()) return fail(QStringLiteral("no temporary folder: ") + dir_.errorString());
    // Filters run as the scheduler's user lp: the folders must be open to it.
    const QString d = dir_.path();
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(d, open);
    for (const char* sub :
         {"etc", "spool", "spool/tmp", "cache", "state", "log", "out", "pdfspool"}) {
        QDir().mkpath(d + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(d + QLatin1Char('/') + QLatin1String(sub), open);
    }
    socket_ = d + QStringLiteral("/cups.sock");
    queue_ = QStringLiteral("tallvero-test-%1").arg(QCoreApplication::applicationPid());

    const bool written =
        write(d + QStringLiteral("/etc/cupsd.conf"),
              QStringLiteral("Listen %1\nLogLevel warn\nBrowsing No\nWebInterface No\n"
                             "DefaultAuthType None\nPreserveJobHistory Yes\nPreserveJobFiles Yes\n"
                             "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                             "<Policy default>\n  JobPrivateAccess all\n"
                             "  JobPrivateValues none\n  SubscriptionPrivateAccess all\n"
                             "  SubscriptionPrivateValues none\n  <Limit All>\n"
                             "    Order deny,allow\n    Allow all\n  </Limit>\n</Policy>\n")
                  .arg(socket_)) &&
        write(d + QStringLiteral("/etc/cups-files.conf"),
              QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\nTempDir %1/spool/tmp\n"
                             "CacheDir %1/cache\nStateDir %1/state\n"
                             "AccessLog %1/log/access_log\nErrorLog %1/log/error_log\n"
                             "PageLog %1/log/page_log\nFileDevice No\n")
                  .arg(d));
    if (!written) return fail(QStringLiteral("cannot write the scheduler's configuration in ") + d);
    backendConfig_ =
        kBackendConfigDir + QStringLiteral("/cups-pdf-") + queue_ + QStringLiteral(".conf");
    if (!write(backendConfig_,
               QStringLiteral("Out %1/out\nAnonDirName %1/out\nSpool %1/pdfspool\nLog %1/log\n"
                              "Grp root\n")
                   .arg(d))) {
        problem_ = QStringLiteral("cannot write ") + backendConfig_;
        backendConfig_.clear();
        return false;
    }

    cupsd_.setStandardOutputFile(d + QStringLiteral("/log/cupsd.out"));
    cupsd_.setStandardErrorFile(d + QStringLiteral("/log/cupsd.out"));
    cupsd_.start(kCupsd,
                 {QStringLiteral("-f"), QStringLiteral("-c"), d + QStringLiteral("/etc/cupsd.conf"),
                  QStringLiteral("-s"), d + QStringLiteral("/etc/cups-files.conf")});
    if (!cupsd_.waitForStarted(10000))
        return fail(QStringLiteral("cupsd does not start: ") + cupsd_.errorString());
    // Up when its socket takes a connection.
    QElapsedTimer t;
    t.start();
    bool up = false;
    while (!up && t.elapsed() < 20000 && cupsd_.state() == QProcess::Running) {
        if (http_t* h = httpConnect2(socket_.toLocal8Bit().constData(), ippPort(), nullptr,
                                     AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 1000, nullptr)) {
            httpClose(h);
            up = true;
        } else {
            QThread::msleep(100);
        }
    }
    if (!up) return fail(QStringLiteral("cupsd did not come up: ") + logs());
    int rc = 0;
    const QString out =
        run(kLpadmin,
            {QStringLiteral("-h"), socket_, QStringLiteral("-p"), queue_, QStringLiteral("-E"),
             QStringLiteral("-v"), QStringLiteral("cups-pdf:/") + queue_, QStringLiteral("-P"),
             kPpd, QStringLiteral("-o"), QStringLiteral("printer-error-policy=abort-job")},
            &rc);
    if (rc != 0) return fail(QStringLiteral("lpadmin cannot set up the queue: ") + out);
    hadServer_ = qEnvironmentVariableIsSet("CUPS_SERVER");
    oldServer_ = qEnvironmentVariable("CUPS_SERVER");
    qputenv("CUPS_SERVER", socket_.toLocal8Bit());
    // The client library keeps the server it found first; point it here.
    cupsSetServer(socket_.toLocal8Bit().constData());
    return true;
#endif
}

PrintSpooler::~PrintSpooler() {
#ifndef TALLVERO_NO_CUPS
    if (problem_.isEmpty()) {
        if (hadServer_)
            qputenv("CUPS_SERVER", oldServer_.toLocal8Bit());
        else
            qunsetenv("CUPS_SERVER");
        cupsSetServer(nullptr);
    }
#endif
    if (cupsd_.state() != QProcess::NotRunning) {
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(10000)) {
            cupsd_.kill();
            cupsd_.waitForFinished(5000);
        }
    }
    if (!backendConfig_.isEmpty()) QFile::remove(backendConfig_);
}

QList<PrintSpooler::Job> PrintSpooler::jobs(int timeoutMs) {
    QList<Job> out;
#ifndef TALLVERO_NO_CUPS
    QElapsedTimer t;
    t.start();
    for (;;) {
        out.clear();
        cups_job_t* list = nullptr;
        const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, queue_.toUtf8().constData(), 0,
                                   CUPS_WHICHJOBS_ALL);
        bool pending = false;
        for (int i = 0; i < n; ++i) {
            out.append({list[i].id, list[i].state == IPP_JSTATE_COMPLETED, QString(), QString()});
            pending = pending || list[i].state < IPP_JSTATE_STOPPED;
        }
        cupsFreeJobs(n, list);
        if (!pending || t.elapsed() > timeoutMs) break;
        QThread::msleep(200);
    }
    std::sort(out.begin(), out.end(), [](const Job& a, const Job& b) { return a.id < b.id; });
    const QDir outDir(dir_.path() + QStringLiteral("/out"));
    for (Job& j : out) {
        j.document =
            dir_.path() + QStringLiteral("/spool/d%1-001").arg(j.id, 5, 10, QLatin1Char('0'));
        const QStringList files =
            outDir.entryList({QStringLiteral("*job_%1.pdf").arg(j.id)}, QDir::Files);
        if (!files.isEmpty()) j.pdf = outDir.filePath(files.first());
    }
#else
    Q_UNUSED(timeoutMs);
#endif
    return out;
}

QString PrintSpooler::logs() const {
    const QString d = dir_.path() + QStringLiteral("/log/");
    return tail(d + QStringLiteral("cupsd.out"), 1500) +
           tail(d + QStringLiteral("error_log"), 3000) +
           tail(d + QStringLiteral("cups-pdf-") + queue_ + QStringLiteral("_log"), 3000);
}

QList<PrintSpooler::PdfPage> PrintSpooler::pdfPages(const QString& file) {
    const QString info =
        run(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                        QStringLiteral("-l"), QStringLiteral("999"), file});
    static const QRegularExpression size(
        QStringLiteral("^Page\\s+\\d+ size:\\s+([0-9.]+) x ([0-9.]+) pts"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression rot(QStringLiteral("^Page\\s+\\d+ rot:\\s+(\\d+)"),
                                        QRegularExpression::MultilineOption);
    QList<PdfPage> pages;
    auto s = size.globalMatch(info);
    auto r = rot.globalMatch(info);
    while (s.hasNext() && r.hasNext()) {
        const auto sm = s.next();
        const double w = sm.captured(1).toDouble(), h = sm.captured(2).toDouble();
        const bool turned = r.next().captured(1).toInt() % 180 == 90;
        PdfPage p;
        p.a4 = std::abs(std::min(w, h) - 595) < 2 && std::abs(std::max(w, h) - 842) < 2;
        p.landscape = (w > h) != turned;
        pages.append(p);
    }
    return pages;
}

QString PrintSpooler::pdfText(const QString& file) {
    return run(QStringLiteral("pdftotext"),
               {QStringLiteral("-enc"), QStringLiteral("UTF-8"), file, QStringLiteral("-")});
}

} // namespace testsupport

// Speed of the report book: tallvero-report --book as a user runs it, on a
// demo database made by server_bench (bench/run.sh), in-process (login,
// lists, one fetch and one page per entry, the PDF) and through the binary
// (the same plus the process start). Prints a Markdown report.
//
//   book_bench --db FILE.sqlite [--rounds N] [--out FILE.md] [--command TEXT]

#include "ReportTool.h"
#include "platform/settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char* name;
    QStringList args;
};

struct Result {
    QString name;
    int pages = 0;
    double p50 = 0, min = 0, max = 0, binP50 = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) / 2];
}

// Pages of a book, from the tool's last line ("Berichtsmappe mit N Seiten").
int pagesOf(const QString& err) {
    static const QRegularExpression re(QStringLiteral("Berichtsmappe mit (\\d+) Seiten"));
    const QRegularExpressionMatch m = re.match(err);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList a = app.arguments();
    int rounds = 7;
    QString db, out, command = QStringLiteral("book_bench");
    for (int i = 1; i + 1 < a.size(); ++i) {
        if (a[i] == QLatin1String("--rounds"))
            rounds = std::max(1, a[++i].toInt());
        else if (a[i] == QLatin1String("--db"))
            db = a[++i];
        else if (a[i] == QLatin1String("--out"))
            out = a[++i];
        else if (a[i] == QLatin1String("--command"))
            command = a[++i];
    }
    QTextStream err(stderr);
    if (db.isEmpty() || !QFileInfo::exists(db)) {
        err << "book_bench: --db FILE.sqlite (a demo made by bench/run.sh) is missing\n";
        return 2;
    }
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("mappe.pdf"));
    // The demo's data end in November 2026.
    const QStringList login{QStringLiteral("--server"), QFileInfo(db).absoluteFilePath(),
                            QStringLiteral("--user"),   QStringLiteral("DEMO"),
                            QStringLiteral("--today"),  QStringLiteral("2026-12-15"),
                            QStringLiteral("--book"),   pdf};
    const Case cases[] = {
        {"every department (--each abt)", {"--each", "abt"}},
        {"departments of main department 10 (--habt 10 --each abt)",
         {"--habt", "10", "--each", "abt"}},
        {"main groups of department M2 (--abt M2 --each hg)", {"--abt", "M2", "--each", "hg"}},
        {"sub groups of main group 20 (--hg 20 --each ug)", {"--hg", "20", "--each", "ug"}},
    };

    std::vector<Result> results;
    platform::MemorySettingsStore settings;
    for (const Case& c : cases) {
        Result r;
        r.name = QString::fromUtf8(c.name);
        std::vector<double> ms;
        for (int i = 0; i <= rounds; ++i) {
            QString o, e;
            QTextStream os(&o), es(&e);
            reporttool::ReportContext ctx{settings, os, es, QStringLiteral("demo"), {}, {}};
            const auto t0 = Clock::now();
            const int code = reporttool::run(login + c.args, ctx);
            const double t = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            es.flush();
            if (code != 0) {
                err << "book_bench: " << c.name << " failed:\n" << e << "\n";
                return 1;
            }
            r.pages = pagesOf(e);
            if (i > 0) ms.push_back(t); // the first run warms fonts and the file cache
        }
        r.p50 = median(ms);
        r.min = *std::min_element(ms.begin(), ms.end());
        r.max = *std::max_element(ms.begin(), ms.end());

        // The binary as a cron job runs it.
        std::vector<double> bin;
        for (int i = 0; i < std::max(3, rounds / 2); ++i) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TALLVERO_PASSWORD"), QStringLiteral("demo"));
            env.insert(QStringLiteral("HOME"), dir.filePath(QStringLiteral("home")));
            p.setProcessEnvironment(env);
            const auto t0 = Clock::now();
            p.start(QStringLiteral(TALLVERO_REPORT_BIN), login + c.args);
            if (!p.waitForFinished(120000) || p.exitCode() != 0) {
                err << "book_bench: the binary failed for " << c.name << "\n"
                    << p.readAllStandardError() << "\n";
                return 1;
            }
            bin.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        r.binP50 = median(bin);
        results.push_back(r);
        err << c.name << ": " << r.pages << " pages, " << r.p50 << " ms\n" << Qt::flush;
    }

    QString md;
    QTextStream m(&md);
    m << "# Report book benchmark\n\n"
      << "Command: `" << command << "`  \n"
      << "Database: SQLite, `" << QFileInfo(db).fileName() << "` ("
      << QString::number(QFileInfo(db).size() / 1048576.0, 'f', 0) << " MiB)  \n"
      << "Build: " << TALLVERO_BENCH_BUILD_TYPE << ", Qt " << qVersion() << ", "
      << QSysInfo::prettyProductName() << ", " << QThread::idealThreadCount() << " cores  \n"
      << "Rounds: " << rounds << " in-process after one warm-up, " << std::max(3, rounds / 2)
      << " through the binary\n\n"
      << "Each run: login, permission, the lists filled and chosen, one period query (72 "
         "months up to 12/2026) and one page per entry, the PDF written.\n\n"
      << "| book | pages | in-process p50 | min | max | per page | binary p50 | target |\n"
      << "|---|---|---|---|---|---|---|---|\n";
    for (const Result& r : results)
        m << "| " << r.name << " | " << r.pages << " | " << QString::number(r.p50, 'f', 0)
          << " ms | " << QString::number(r.min, 'f', 0) << " ms | "
          << QString::number(r.max, 'f', 0) << " ms | "
          << QString::number(r.p50 / std::max(1, r.pages), 'f', 1) << " ms | "
          << QString::number(r.binP50, 'f', 0) << " ms | "
          << (r.pages >= 20 ? (r.binP50 <= 3000 ? QStringLiteral("≤ 3 s: met")
                                                : QStringLiteral("≤ 3 s: **not met**"))
                            : QStringLiteral("–"))
          << " |\n";
    m.flush();
    QTextStream(stdout) << md << Qt::flush;
    if (!out.isEmpty()) {
        QFile f(out);
        if (!f.open(QIODevice::WriteOnly) || f.write(md.toUtf8()) < 0) {
            err << "book_bench: cannot write " << out << "\n";
            return 1;
        }
    }
    return 0;
}

// Speed of the report page: the redraw onto the recording surface, and the
// finished page rendered to PDF and to a 150-dpi PNG. Prints a Markdown
// report.
//
//   page_bench [--rounds N] [--out FILE.md]

#include "platform/print/Export.h"
#include "platform/print/RecordingSurface.h"
#include "report/Page.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double p50, p99, min;
};

template <class F> Stats timeIt(int rounds, F&& f) {
    f();  // warm-up: fonts, caches
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double q) {
        return ms[std::clamp<size_t>(size_t(std::ceil(q * double(ms.size()))), 1, ms.size()) - 1];
    };
    return {rank(0.5), rank(0.99), ms.front()};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QStringList a = app.arguments();
    int rounds = 100;
    QString out;
    for (int i = 1; i + 1 < a.size(); ++i) {
        if (a[i] == QLatin1String("--rounds"))
            rounds = std::max(3, a[++i].toInt());
        else if (a[i] == QLatin1String("--out"))
            out = a[++i];
    }

    // Six years of figures up to April, as after a fetch.
    values::PeriodValueStore st;
    st.PeriodValues.dimension(1, 72, 1, 2);
    st.MonthYearValues.dimension(1, 12, 1, 6);
    for (int n = 1; n <= 64; ++n) {
        const double season = 1 + 0.3 * std::sin((n % 12) / 12.0 * 6.283);
        st.PeriodValues.at(n, 1) = (800000 + 6000 * n) * season;
        st.PeriodValues.at(n, 2) = (200000 + 1500 * n) * season;
    }
    report::PageInputs in;
    in.Firma = in.SFirma = QStringLiteral("1");
    in.SHGRP = QStringLiteral("20 Armaturen");
    in.BenutzerName = QStringLiteral("Demo Müller");
    in.now = QDateTime(QDate(2024, 4, 15), QTime(9, 30));

    print::RecordingSurface surface;
    QTextStream o(stdout);
    QString text;
    QTextStream r(&text);
    r << "# Page benchmark, " << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
      << "\n\nCommand: `bench/page_bench --rounds " << rounds << "` (" << TALLVERO_BENCH_BUILD_TYPE
      << " build, Qt " << qVersion() << ", offscreen platform)\n\n"
      << "| step | p50 ms | p99 ms | min ms | target |\n|---|---|---|---|---|\n";
    auto row = [&](const char* name, const Stats& s, const char* target) {
        r << "| " << name << " | " << QString::number(s.p50, 'f', 3) << " | "
          << QString::number(s.p99, 'f', 3) << " | " << QString::number(s.min, 'f', 3) << " | "
          << target << " |\n";
    };
    for (int mode = 0; mode <= 2; ++mode) {
        st.GraphMode = mode;
        const Stats z = timeIt(rounds, [&] { report::Zeichnen(surface, st, in); });
        const char* names[] = {"`Zeichnen` (derived values + recording), yearly mean",
                               "`Zeichnen`, last quarter", "`Zeichnen`, absolute"};
        row(names[mode], z, "≤ 2 ms");
    }
    const size_t ops = surface.displayList().size();
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    const QString png = dir.filePath(QStringLiteral("page.png"));
    row("page to PDF (`print::writePdf`)",
        timeIt(std::max(5, rounds / 5), [&] { print::writePdf(surface.displayList(), pdf); }),
        "≤ 30 ms");
    row("page to a 150-dpi image, drawing only (`print::renderImage`)",
        timeIt(std::max(5, rounds / 5), [&] { (void)print::renderImage(surface.displayList(), 150); }),
        "–");
    row("page to 150-dpi PNG (`print::writePng`)",
        timeIt(std::max(5, rounds / 5), [&] { print::writePng(surface.displayList(), png, 150); }),
        "≤ 80 ms");
    r << "\nThe page holds " << ops << " drawing operations; the PDF is "
      << QFile(pdf).size() / 1024 << " KiB, the PNG " << QFile(png).size() / 1024 << " KiB.\n";
    r.flush();
    o << text;
    o.flush();
    if (!out.isEmpty()) {
        QFile f(out);
        if (!f.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
            return 1;
        }
        f.write(text.toUtf8());
    }
    return 0;
}

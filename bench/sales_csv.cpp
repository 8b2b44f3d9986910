// Writes the demo business's sales lines as an import file for
// "tallvero-db import-sales": the same lines "tallvero-db demo" puts into a
// database, in date order, for benchmarks of any size.
//
//   sales_csv --lines N [--seed S] [--until YYYY-MM] --out FILE.csv

#include "platform/cache/Factory.h"
#include "platform/cache/server/DemoData.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <string>

using namespace cache::server;

namespace {

void appendInt(std::string* out, qint64 v) {
    char b[24];
    const int n = std::snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
    out->append(b, size_t(n));
}

void appendMoney(std::string* out, qint64 cents) {
    if (cents < 0) {
        out->push_back('-');
        cents = -cents;
    }
    appendInt(out, cents / 100);
    out->push_back('.');
    out->push_back(char('0' + cents % 100 / 10));
    out->push_back(char('0' + cents % 10));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = QCoreApplication::arguments();
    DemoOptions o;
    o.untilYear = 2026;
    o.untilMonth = 11;
    QString out;
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--lines"))
            o.lines = a[i + 1].toLongLong();
        else if (a[i] == QLatin1String("--seed"))
            o.seed = a[i + 1].toULongLong();
        else if (a[i] == QLatin1String("--until")) {
            o.untilYear = a[i + 1].left(4).toInt();
            o.untilMonth = a[i + 1].mid(5, 2).toInt();
        } else if (a[i] == QLatin1String("--out"))
            out = a[i + 1];
    }
    if (out.isEmpty()) {
        std::fprintf(stderr,
                     "usage: sales_csv --lines N [--seed S] [--until YYYY-MM] --out FILE\n");
        return 2;
    }
    FILE* f = std::fopen(out.toLocal8Bit().constData(), "wb");
    if (!f) {
        std::perror("open");
        return 1;
    }
    std::string buf = "datum;firma;pcnr;habtnr;abtnr;hgrp;ugrp;hkgrp;vart;hvart;styp;umsatz;kosten;"
                      "skonto;nachlass\n";
    // Codes repeat; their UTF-8 is made once per distinct text.
    QHash<QString, std::string> utf8;
    auto code = [&](const QString& s) -> const std::string& {
        auto it = utf8.find(s);
        if (it == utf8.end()) it = utf8.insert(s, s.toStdString());
        return *it;
    };
    try {
        generateDemoLines(o, [&](const SalesLine& l) {
            char d[16];
            std::snprintf(d, sizeof d, "%04d-%02d-%02d", l.datum / 10000, l.datum / 100 % 100,
                          l.datum % 100);
            buf += d;
            buf.push_back(';');
            appendInt(&buf, l.firma);
            // File order: pcnr habtnr abtnr hgrp ugrp hkgrp vart hvart styp.
            for (int i : {0, 1, 2, 3, 4, 5, 7, 6, 8}) {
                buf.push_back(';');
                buf += code(l.codes[i]);
            }
            for (qint64 m : {l.umsatz, l.kosten, l.skonto, l.nachlass}) {
                buf.push_back(';');
                appendMoney(&buf, m);
            }
            buf.push_back('\n');
            if (buf.size() > (1 << 20)) {
                std::fwrite(buf.data(), 1, buf.size(), f);
                buf.clear();
            }
        });
    } catch (const cache::CacheError& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    std::fwrite(buf.data(), 1, buf.size(), f);
    return std::fclose(f) == 0 ? 0 : 1;
}

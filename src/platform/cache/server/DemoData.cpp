#include "DemoData.h"

#include "../Factory.h"
#include "Schema.h"
#include "Security.h"
#include "Text.h"

#include <QDate>

#include <cmath>

namespace cache::server {

namespace {

struct Dept {
    const char* code;
    const char* name;
    const char* habt;
    const char* pc;
    double weight;
    const char* groups;  // preferred main groups, as a list of two-digit codes
    double tradeShare;   // share of trade customers (G)
};

// The codes cover every row of the department rule table of the client.
const Dept kDepts[] = {
    {"B0", "Geschäftsleitung", "40", "1", 0.3, "70", 0.5},
    {"B1", "Buchhaltung", "40", "1", 0.2, "90", 0.3},
    {"B2", "Einkauf & Werksverkauf", "40", "2", 1.0, "5070", 0.6},
    {"M1", "Sanitär", "10", "1", 9.0, "102040", 0.35},
    {"M2", "Heizung", "10", "1", 8.0, "3040", 0.45},
    {"M3", "Baustoffe", "20", "1", 7.0, "50", 0.6},
    {"M4", "Holz & Türen", "20", "1", 5.0, "5070", 0.4},
    {"M5", "Werkzeug", "30", "1", 4.0, "70", 0.3},
    {"M6", "Fliesen", "20", "1", 5.0, "60", 0.35},
    {"M7", "Eisenwaren", "30", "2", 3.0, "7040", 0.3},
    {"M8", "Garten", "30", "1", 5.0, "80", 0.15},
    {"M9", "Farben & Lacke", "30", "2", 3.5, "90", 0.25},
    {"MA", "Heizung Kundendienst", "10", "3", 2.5, "30", 0.7},
    {"MB", "Maschinenverleih", "30", "3", 1.5, "70", 0.6},
    {"MC", "Türen Objektgeschäft", "20", "3", 2.0, "50", 0.9},
    {"MD", "Sanitär Objektgeschäft", "10", "3", 3.0, "1020", 0.9},
    {"ME", "Fliesen Filiale Süd", "20", "2", 2.0, "60", 0.3},
    {"MF", "Heizung Filiale Süd", "10", "2", 2.5, "3040", 0.4},
    {"MG", "Badausstellung", "10", "1", 2.0, "1020", 0.15},
    {"MH", "Sanitär Filiale Süd", "10", "2", 2.5, "102040", 0.3},
};

struct Group {
    const char* code;
    const char* name;
    double price;   // typical line revenue in euros
    double margin;  // typical share of margin in revenue
    const char* subs[4];
};

const Group kGroups[] = {
    {"10", "Sanitärkeramik", 320, 0.31, {"Waschtische", "WC-Anlagen", "Duschwannen", "Badmöbel"}},
    {"20", "Armaturen", 180, 0.34, {"Küchenarmaturen", "Badarmaturen", "Thermostate", "Zubehör"}},
    {"30", "Heizung", 900, 0.22, {"Kessel", "Wärmepumpen", "Heizkörper", "Fußbodenheizung"}},
    {"40", "Rohre & Fittings", 95, 0.27, {"Kupferrohre", "Kunststoffrohre", "Pressfittings", "Dämmung"}},
    {"50", "Baustoffe", 240, 0.18, {"Zement & Mörtel", "Ziegel", "Gipskarton", "Dämmstoffe"}},
    {"60", "Fliesen", 260, 0.29, {"Wandfliesen", "Bodenfliesen", "Fliesenkleber", "Naturstein"}},
    {"70", "Werkzeug & Maschinen", 120, 0.33, {"Handwerkzeug", "Elektrowerkzeug", "Messgeräte", "Leitern & Gerüste"}},
    {"80", "Garten & Außenbereich", 85, 0.36, {"Gartengeräte", "Pflanzenschutz", "Pflastersteine", "Zäune"}},
    {"90", "Farben", 60, 0.38, {"Innenfarben", "Lacke", "Malerzubehör", "Fassadenfarben"}},
};
constexpr int kGroupCount = int(sizeof(kGroups) / sizeof(kGroups[0]));
constexpr int kDeptCount = int(sizeof(kDepts) / sizeof(kDepts[0]));

struct Shipping {
    const char* code;
    const char* name;
    const char* hvart;
};
const Shipping kShipping[] = {
    {"01", "Abholung Lager", "L"},
    {"02", "Zustellung eigener Fuhrpark", "L"},
    {"03", "Paketversand", "L"},
    {"11", "Strecke direkt ab Werk", "S"},
    {"12", "Strecke über Spedition", "S"},
};

struct Company {
    qint64 firma;
    const char* name;
    double share;
};
const Company kCompanies[] = {{1, "Tallvero Demo Handel GmbH", 0.9},
                              {2, "Tallvero Demo Süd GmbH", 0.1}};

// Sales are higher in spring and autumn (building season), low in winter.
const double kSeason[12] = {0.62, 0.70, 0.95, 1.10, 1.18, 1.12, 1.02, 0.98, 1.12, 1.15, 1.05, 0.90};

struct User {
    const char* code;
    const char* password;
    const char* aktiv;
    const char* name;
    const char* pnr;
    const char* abtnr;
    int level;
};
const User kUsers[] = {
    {"DEMO", "demo", "J", "Demo Müller", "1001", "B0", 1},
    {"ABTLEITER", "abt", "J", "Franz Köhler", "1002", "M2", 5},
    {"INAKTIV", "inaktiv", "N", "Inge Weiß", "1003", "M3", 1},
    {"GAST", "gast", "J", "Gabi Gärtner", "1004", "M8", -1},
};

void replaceMasterData(Store& store) {
    Database& db = store.db();
    for (const char* t : {"firma", "profitcenter", "hauptabteilung", "abteilung", "hauptgruppe",
                          "untergruppe", "versandart", "pers_edv", "pers_abt", "pers_basis",
                          "berechtigung"})
        db.exec(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t))).finish();
    auto ins = [&](const char* sql, const QVariantList& v) {
        db.exec(QString::fromLatin1(sql), v).finish();
    };
    auto u = [](const char* s) { return QString::fromUtf8(s); };
    // SQLite keeps each login's hash in its records; PostgreSQL the role's
    // password (set once the lines are in, see generateDemo).
    const bool sqlite = db.engine() == Engine::Sqlite;
    QHash<QString, QString> hashes;
    if (sqlite)
        for (const User& us : kUsers)
            hashes.insert(u(us.code), hashPassword(u(us.password)));
    for (const Company& c : kCompanies) {
        const qint64 f = c.firma;
        ins("INSERT INTO firma (firma, name) VALUES (?, ?)", {f, u(c.name)});
        ins("INSERT INTO profitcenter (firma, pcnr, name) VALUES (?, ?, ?)", {f, u("1"), u("Stammhaus")});
        ins("INSERT INTO profitcenter (firma, pcnr, name) VALUES (?, ?, ?)", {f, u("2"), u("Filiale Süd")});
        ins("INSERT INTO profitcenter (firma, pcnr, name) VALUES (?, ?, ?)", {f, u("3"), u("Großkunden & Objekte")});
        ins("INSERT INTO hauptabteilung (firma, habtnr, name) VALUES (?, ?, ?)", {f, u("10"), u("Haustechnik")});
        ins("INSERT INTO hauptabteilung (firma, habtnr, name) VALUES (?, ?, ?)", {f, u("20"), u("Bauen & Wohnen")});
        ins("INSERT INTO hauptabteilung (firma, habtnr, name) VALUES (?, ?, ?)", {f, u("30"), u("Werkstatt & Garten")});
        ins("INSERT INTO hauptabteilung (firma, habtnr, name) VALUES (?, ?, ?)", {f, u("40"), u("Verwaltung")});
        for (const Dept& d : kDepts) {
            ins("INSERT INTO abteilung (firma, abtnr, name, habtnr, pcnr) VALUES (?, ?, ?, ?, ?)",
                {f, u(d.code), u(d.name), u(d.habt), u(d.pc)});
            ins("INSERT INTO pers_abt (firma, abtnr, abtbez, habtnr) VALUES (?, ?, ?, ?)",
                {f, u(d.code), u(d.name), u(d.habt)});
        }
        for (const Group& g : kGroups) {
            ins("INSERT INTO hauptgruppe (firma, hgrp, name) VALUES (?, ?, ?)", {f, u(g.code), u(g.name)});
            for (int i = 0; i < 4; ++i)
                ins("INSERT INTO untergruppe (firma, hgrp, ugrp, name) VALUES (?, ?, ?, ?)",
                    {f, u(g.code), u(g.code) + QStringLiteral("0%1").arg(i + 1), u(g.subs[i])});
        }
        for (const Shipping& s : kShipping)
            ins("INSERT INTO versandart (firma, vart, name, hvart) VALUES (?, ?, ?, ?)",
                {f, u(s.code), u(s.name), u(s.hvart)});
        for (const User& us : kUsers) {
            const QVariantList rec{
                f,         u(us.code),  u(us.aktiv), u(us.name),
                u(us.pnr), u(us.abtnr), u("0"),      u(us.level == 5 ? "ABT" : "ALLE")};
            if (sqlite)
                ins("INSERT INTO pers_edv (firma, code, aktiv, pname, pnr, abtnr, dw, bergrp, "
                    "passwort) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                    rec + QVariantList{hashes.value(u(us.code))});
            else
                ins("INSERT INTO pers_edv (firma, code, aktiv, pname, pnr, abtnr, dw, bergrp) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                    rec);
            const QString mail = QString::fromUtf8(us.code).toLower() + QStringLiteral("@demo-handel.example");
            ins("INSERT INTO pers_basis (firma, pnr, fax, email) VALUES (?, ?, ?, ?)",
                {f, u(us.pnr), QStringLiteral("+43 1 234 56-%1").arg(QLatin1String(us.pnr)), mail});
        }
    }
    for (const User& us : kUsers)
        ins("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES (?, ?, ?, ?)",
            {u(us.code), u("Tallvero"), u("alles"), us.level});
    store.setGlobal(QStringLiteral("FA0"), QStringLiteral("Tallvero Demo Handel GmbH`03"));
}

// Approximately normal, from the sum of uniforms; cheap and reproducible.
double gauss(DemoRandom& r) {
    return r.uniform() + r.uniform() + r.uniform() + r.uniform() - 2.0;
}

} // namespace

namespace {
struct DemoPlan {
    int firstYear = 0;
    int lastYear = 0;
    int lastMonth = 0;
    int months = 0;
};

DemoPlan planDemo(const DemoOptions& o) {
    if (o.lines < 0 || o.lines > 200'000'000LL)
        throw CacheError(err::WrongArguments, QStringLiteral("Ungültige Zeilenzahl"));
    DemoPlan p;
    p.lastYear = o.untilYear;
    p.lastMonth = o.untilMonth;
    if (p.lastYear == 0) {
        const QDate prev = QDate::currentDate().addMonths(-1);
        p.lastYear = prev.year();
        p.lastMonth = prev.month();
    }
    if (p.lastMonth < 1 || p.lastMonth > 12 || p.lastYear < 1901 || p.lastYear > 9999)
        throw CacheError(err::WrongArguments, QStringLiteral("Ungültiger letzter Monat"));
    p.firstYear = p.lastYear - std::max(0, o.yearsBack);
    p.months = (p.lastYear - p.firstYear) * 12 + p.lastMonth;
    return p;
}

DemoSummary summaryOf(const DemoOptions& o, const DemoPlan& p) {
    DemoSummary out;
    out.lines = o.lines;
    out.firstPeriod = (p.firstYear - 1900) * 100 + 1;
    out.lastPeriod = (p.lastYear - 1900) * 100 + p.lastMonth;
    return out;
}

void emitDemoLines(const DemoOptions& o, const DemoPlan& plan,
                   const std::function<void(const SalesLine&)>& sink) {
    const int fy = plan.firstYear, months = plan.months;
    // Lines per month follow season and growth, spread by cumulative rounding.
    QVector<double> weight(months);
    double sum = 0;
    for (int i = 0; i < months; ++i) {
        const int year = fy + i / 12;
        weight[i] = kSeason[i % 12] * std::pow(1.045, year - fy);
        sum += weight[i];
    }
    QVector<qint64> perMonth(months);
    double acc = 0;
    qint64 given = 0;
    for (int i = 0; i < months; ++i) {
        acc += weight[i] / sum * double(o.lines);
        const qint64 upto = i == months - 1 ? o.lines : qint64(std::llround(acc));
        perMonth[i] = upto - given;
        given = upto;
    }

    double deptTotal = 0;
    for (const Dept& d : kDepts)
        deptTotal += d.weight;

    DemoRandom rnd(o.seed);

    // Codes as shared QStrings, so binding does not allocate per line.
    QVector<QString> deptCode, deptHabt, deptPc, groupCode, shipCode, shipH;
    for (const Dept& d : kDepts) {
        deptCode << QString::fromLatin1(d.code);
        deptHabt << QString::fromLatin1(d.habt);
        deptPc << QString::fromLatin1(d.pc);
    }
    for (const Group& g : kGroups)
        groupCode << QString::fromLatin1(g.code);
    QVector<QVector<QString>> subCode(kGroupCount);
    for (int g = 0; g < kGroupCount; ++g)
        for (int s = 0; s < 4; ++s)
            subCode[g] << groupCode[g] + QStringLiteral("0%1").arg(s + 1);
    for (const Shipping& s : kShipping) {
        shipCode << QString::fromLatin1(s.code);
        shipH << QString::fromLatin1(s.hvart);
    }
    const QString P = QStringLiteral("P"), G = QStringLiteral("G");
    const QString styps[3] = {QStringLiteral("L"), QStringLiteral("B"), QStringLiteral("W")};

    SalesLine line;
    for (int mi = 0; mi < months; ++mi) {
        const int year = fy + mi / 12;
        const int month = mi % 12 + 1;
        const int days = QDate(year, month, 1).daysInMonth();
        const double growth = std::pow(1.045, year - fy);
        for (qint64 k = 0; k < perMonth[mi]; ++k) {
            const bool second = rnd.uniform() >= kCompanies[0].share;
            const qint64 firma = second ? 2 : 1;
            // department by weight
            double pick = rnd.uniform() * deptTotal;
            int di = 0;
            while (di < kDeptCount - 1 && pick >= kDepts[di].weight) {
                pick -= kDepts[di].weight;
                ++di;
            }
            const Dept& d = kDepts[di];
            // main group: mostly one of the department's own
            int gi;
            const int own = int(qstrlen(d.groups) / 2);
            if (rnd.uniform() < 0.85) {
                const int o2 = rnd.below(own);
                const int code = (d.groups[o2 * 2] - '0') * 10 + (d.groups[o2 * 2 + 1] - '0');
                gi = code / 10 - 1;
            } else {
                gi = rnd.below(kGroupCount);
            }
            const Group& g = kGroups[gi];
            const int si = rnd.below(4);
            const bool trade = rnd.uniform() < d.tradeShare;
            const bool drop = rnd.uniform() < (trade ? 0.28 : 0.06);
            const int ship = drop ? 3 + rnd.below(2) : rnd.below(3);
            const double st = rnd.uniform();
            const int ty = st < 0.7 ? 0 : (st < 0.95 ? 1 : 2);
            double euros = g.price * growth * kSeason[month - 1] * std::exp(0.55 * gauss(rnd)) *
                           (trade ? 2.2 : 1.0) * (drop ? 3.0 : 1.0);
            if (ty == 2) euros *= 0.4; // services are smaller lines
            qint64 umsatz = std::max<qint64>(50, qint64(std::llround(euros * 100)));
            // Returns are a few per cent of lines.
            if (rnd.uniform() < 0.02) umsatz = -umsatz / 2;
            double margin = g.margin + 0.05 * gauss(rnd) - (trade ? 0.06 : 0.0) -
                            (drop ? 0.08 : 0.0) + (ty == 2 ? 0.25 : 0.0);
            margin = std::clamp(margin, -0.1, 0.8);
            const qint64 kosten = qint64(std::llround(double(umsatz) * (1.0 - margin)));
            qint64 skonto = 0;
            if (rnd.uniform() < (trade ? 0.6 : 0.1))
                skonto = qint64(std::llround(double(umsatz) * (trade ? 0.03 : 0.02)));
            qint64 nachlass = 0;
            if (rnd.uniform() < 0.2)
                nachlass = qint64(std::llround(double(umsatz) * 0.1 * rnd.uniform()));
            const int day = 1 + rnd.below(days);

            line.datum = year * 10000 + month * 100 + day;
            line.firma = firma;
            line.codes[0] = deptPc[di];
            line.codes[1] = deptHabt[di];
            line.codes[2] = deptCode[di];
            line.codes[3] = groupCode[gi];
            line.codes[4] = subCode[gi][si];
            line.codes[5] = trade ? G : P;
            line.codes[6] = shipH[ship];
            line.codes[7] = shipCode[ship];
            line.codes[8] = styps[ty];
            line.umsatz = umsatz;
            line.kosten = kosten;
            line.skonto = skonto;
            line.nachlass = nachlass;
            sink(line);
        }
    }
}
} // namespace

DemoSummary generateDemoLines(const DemoOptions& options,
                              const std::function<void(const SalesLine&)>& sink) {
    const DemoPlan plan = planDemo(options);
    emitDemoLines(options, plan, sink);
    return summaryOf(options, plan);
}

void writeDemoMasterData(Store& store) {
    replaceMasterData(store);
}

DemoSummary generateDemo(Store& store, const DemoOptions& o,
                         const std::function<void(const DemoProgress&)>& progress) {
    const DemoPlan plan = planDemo(o);
    Database& db = store.db();
    if (db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong() > 0)
        throw CacheError(err::WrongArguments,
                         QStringLiteral("Die Datenbank enthält bereits Verkaufszeilen"));

    auto report = [&](const QString& stage, qint64 done, qint64 total) {
        if (progress) progress({stage, done, total});
    };
    report(QStringLiteral("Stammdaten anlegen"), 0, 1);

    QList<SalesLine> batch;
    batch.reserve(4096);
    db.begin();
    try {
        replaceMasterData(store);
        dropSalesIndex(db);
        qint64 written = 0;
        const qint64 step = std::max<qint64>(1, o.lines / 100);
        emitDemoLines(o, plan, [&](const SalesLine& line) {
            batch << line;
            if (batch.size() == 4096) {
                store.appendSales(batch);
                batch.clear();
            }
            ++written;
            if (written % step == 0)
                report(QStringLiteral("Verkaufszeilen erzeugen"), written, o.lines);
        });
        if (!batch.isEmpty()) store.appendSales(batch);
        report(QStringLiteral("Index aufbauen"), 0, 1);
        createSalesIndex(db);
        db.commit();
    } catch (...) {
        db.rollback();
        store.resetCaches();
        throw;
    }
    // The demo logins as roles, in a short transaction of their own: the
    // roles are the whole cluster's, and other databases may set the same.
    if (db.engine() == Engine::Postgres) {
        db.begin();
        try {
            for (const User& us : kUsers)
                storeLoginPassword(db, 0, QString::fromUtf8(us.code),
                                   QString::fromUtf8(us.password));
            db.commit();
        } catch (...) {
            db.rollback();
            throw;
        }
    }

    const DemoSummary out = summaryOf(o, plan);
    for (const Company& c : kCompanies) {
        store.generate(c.firma, out.firstPeriod, out.lastPeriod, [&](const GenerateProgress& p) {
            report(QStringLiteral("Periodensummen aufbauen (Firma %1)").arg(c.firma), p.done,
                   p.total);
            return true;
        });
    }
    // Fresh statistics, so the planners pick the period-sum indexes.
    for (const QString& t : schemaTables())
        db.execDirect(QStringLiteral("ANALYZE %1").arg(t));
    report(QStringLiteral("Fertig"), 1, 1);
    return out;
}

} // namespace cache::server

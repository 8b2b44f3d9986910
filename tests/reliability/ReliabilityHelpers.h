#pragma once

// Helpers of the reliability suites: the client and its logins on a demo
// site, the lists behind a period query, a fingerprint of what a database
// holds, sums straight from the sales lines with SQL of their own, and runs
// of the headless report tool in-process and as a binary with an empty home.

#include "ReportTool.h"
#include "platform/cache/server/Database.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/settings/SettingsStore.h"
#include "retrieval/PeriodQuery.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "support/Process.h"
#include "support/Utf8.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

namespace reliability {

using testsupport::u;

const QDate kToday(2024, 1, 15); // 61 months: January 2019 up to January 2024

// The client at 09:00 of kToday, not logged in yet: the command line logs in
// as `user` at `where` ("server port", the site's when empty); without a
// user there is no command line and the login dialog asks.
inline std::unique_ptr<testenv::Env> clientEnv(const testsupport::DemoSite& s, const QString& user,
                                               const QString& password,
                                               srv::FactoryMaker maker = {}, QString where = {}) {
    if (!maker) maker = [] { return std::make_unique<cache::server::ServerFactory>(); };
    auto env =
        std::make_unique<testenv::Env>(std::move(maker), QDateTime(kToday, QTime(9, 0), Qt::UTC));
    if (where.isEmpty()) where = s.server + u(" ") + s.port;
    if (!user.isEmpty()) env->commandLine = u("1 0 %1 %2 %3").arg(user, password, where);
    return env;
}

// The lists of a period query: it reads them afresh for every month, so the
// selections are handed out in turn; `onMonth` runs after each stored month.
struct PeriodHost : retrieval::PeriodQueryHost {
    QList<retrieval::Selection> turns;
    std::function<void(int done)> onMonth;
    int reads = 0, redraws = 0;
    retrieval::Selection readSelection() override { return turns.at(reads++ % turns.size()); }
    bool departmentChosen() const override { return true; }
    void monthFetched(int done, int, const QString&) override {
        if (onMonth) onMonth(done);
    }
    void redraw() override { ++redraws; }
};

// A login of company 1 with the right "alles" at level 1, for a site's extras.
inline void addFullUser(cache::server::Database& d, const QString& code, const QString& password,
                        const QString& name, const QString& department) {
    testsupport::addLogin(d, 1, code, password, u("J"), name, u("1001"), department);
    d.exec(u("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
             "(?, 'Tallvero', 'alles', 1)"),
           {code})
        .finish();
}

using testsupport::column;
using testsupport::rows;

// Every row of every table, and the tables' names: equal fingerprints mean
// nothing was written or dropped.
inline QByteArray fingerprint(cache::server::Database& d) {
    QStringList tables = d.handle().tables(), rows;
    tables.sort();
    for (const QString& t : tables)
        for (const QStringList& row : testsupport::rows(d, u("SELECT * FROM ") + t))
            rows << (QStringList{t} + row).join(QChar(0x1f));
    rows.sort();
    return QCryptographicHash::hash((tables + rows).join(QLatin1Char('\n')).toUtf8(),
                                    QCryptographicHash::Sha256)
        .toHex();
}

// Revenue and cost in cents, straight from the sales lines.
struct Money {
    qint64 umsatz = 0, kosten = 0;
    bool operator==(const Money&) const = default;
};

using Where = QList<QPair<QString, QString>>; // column, value

inline Money salesLines(cache::server::Database& d, qint64 firma, int fromPeriod, int toPeriod,
                        const Where& where = {}) {
    QString sql = QStringLiteral("SELECT COALESCE(SUM(umsatz), 0), COALESCE(SUM(kosten), 0) FROM "
                                 "sales_line WHERE firma = ? AND periode >= ? AND periode <= ?");
    QVariantList binds{firma, fromPeriod, toPeriod};
    for (const auto& [column, value] : where) {
        sql += QStringLiteral(" AND ") + column + QStringLiteral(" = ?");
        binds << value;
    }
    QSqlQuery& q = d.exec(sql, binds);
    const Money m = q.next() ? Money{q.value(0).toLongLong(), q.value(1).toLongLong()} : Money{};
    q.finish();
    return m;
}

// The 61 months up to kToday (January 2019 on) of company 1 in the scope.
inline QList<Money> companyOneMonths(cache::server::Database& d, const Where& scope = {}) {
    QList<Money> out;
    for (int slot = 1; slot <= 61; ++slot) {
        const int period = testsupport::slotPeriod(slot);
        out << salesLines(d, 1, period, period, scope);
    }
    return out;
}

// Revenue and margin as the client shows them (currency units) are m's.
inline bool shows(const Money& m, double umsatz, double marge) {
    return std::abs(umsatz - m.umsatz / 100.0) < 0.005 &&
           std::abs(marge - (m.umsatz - m.kosten) / 100.0) < 0.005;
}

struct ToolRun {
    int code = -1;
    QString out, err;
    QByteArray json; // the --json file, empty when none was written
};

// Runs of tallvero-report with settings and a home of their own, so the
// settings and the embedded database of whoever runs the tests stay out.
class ToolEnv {
public:
    ToolEnv() {
        EXPECT_TRUE(dir_.isValid());
        settings.values.insert(QStringLiteral("Server"), path(QStringLiteral("keine.sqlite")));
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString nextJson() { return path(QStringLiteral("run%1.json").arg(++runs_)); }

    ToolRun inProcess(const QStringList& args, const QString& json,
                      const std::optional<QString>& envPassword = {}) {
        ToolRun r;
        QTextStream o(&r.out), e(&r.err);
        reporttool::ReportContext ctx{settings, o, e, envPassword, {}, {}};
        r.code = reporttool::run(args, ctx);
        o.flush();
        e.flush();
        r.json = readFile(json);
        return r;
    }

    QProcessEnvironment environment(const std::optional<QString>& envPassword = {}) const {
        return testsupport::ownHomeEnvironment(dir_.path(), envPassword);
    }

    // The binary itself, or through /bin/sh when `script` is given (raw
    // bytes on the command line): "$0" is the binary, "$@" the arguments.
    ToolRun binary(const QStringList& args, const QString& json, const QProcessEnvironment& env,
                   const QString& script = {}) {
        const QString bin = QStringLiteral(TALLVERO_REPORT_BIN);
        const auto p = script.isEmpty()
                           ? testsupport::runProcess(bin, args, env)
                           : testsupport::runProcess(QStringLiteral("/bin/sh"),
                                                     QStringList{"-c", script, bin} + args, env);
        return {p.code, p.outText(), p.errText(), readFile(json)};
    }

    // The file's bytes, and the file removed; empty when there is none.
    static QByteArray readFile(const QString& file) {
        QFile f(file);
        if (file.isEmpty() || !f.open(QIODevice::ReadOnly)) return {};
        const QByteArray bytes = f.readAll();
        f.remove();
        return bytes;
    }

    platform::MemorySettingsStore settings;

private:
    QTemporaryDir dir_;
    int runs_ = 0;
};

} // namespace reliability

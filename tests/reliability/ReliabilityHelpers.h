#pragma once

// Helpers of the reliability suites: a fingerprint of what a database
// holds, sums straight from the sales lines with SQL of their own, and runs
// of the headless report tool in-process and as a binary with an empty home.

#include "ReportTool.h"
#include "platform/cache/server/Database.h"
#include "platform/settings/SettingsStore.h"
#include "support/Process.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>
#include <optional>

namespace reliability {

// Every row of the tables a request could touch, and the names of all
// tables: equal fingerprints mean nothing was written or dropped.
inline QByteArray fingerprint(cache::server::Database& d) {
    QStringList tables = d.handle().tables(), rows;
    tables.sort();
    for (const char* t : {"sales_line", "sales_dim", "psum_top", "psum_org", "psum_full",
                          "wsum_full", "server_info", "pers_edv", "berechtigung", "abteilung",
                          "hauptabteilung", "hauptgruppe", "untergruppe", "versandart"}) {
        if (!tables.contains(QLatin1String(t))) continue;
        QSqlQuery& q = d.exec(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(t)));
        while (q.next()) {
            QStringList row{QLatin1String(t)};
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i).toString();
            rows << row.join(QChar(0x1f));
        }
        q.finish();
    }
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

// Period code of slot 1..72 when the clock stands in `year`.
inline int periodOfSlot(int year, int slot) {
    return (year - 6 + (slot - 1) / 12 + 1 - 1900) * 100 + (slot - 1) % 12 + 1;
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

#include "Import.h"

#include "../Factory.h"
#include "SalesImport.h"
#include "Security.h"
#include "Text.h"

#include <QFile>
#include <QHash>
#include <QTextStream>

namespace cache::server {

namespace {

struct Column {
    const char* name;
    bool required;
};

struct KindInfo {
    ImportKind kind;
    const char* name;
    const char* table;
    QList<Column> columns;  // in table order
    QStringList key;        // upsert key (master data)
};

const QList<KindInfo>& kinds() {
    static const QList<KindInfo> k = {
        {ImportKind::Sales, "sales", "sales_line",
         {{"datum", true}, {"firma", true}, {"pcnr", true}, {"habtnr", true}, {"abtnr", true},
          {"hgrp", true}, {"ugrp", true}, {"hkgrp", true}, {"vart", true}, {"hvart", true},
          {"styp", true}, {"umsatz", true}, {"kosten", true}, {"skonto", false}, {"nachlass", false}},
         {}},
        {ImportKind::Firma, "firma", "firma", {{"firma", true}, {"name", true}}, {"firma"}},
        {ImportKind::Profitcenter, "profitcenter", "profitcenter",
         {{"firma", true}, {"pcnr", true}, {"name", true}}, {"firma", "pcnr"}},
        {ImportKind::Hauptabteilung, "hauptabteilung", "hauptabteilung",
         {{"firma", true}, {"habtnr", true}, {"name", true}}, {"firma", "habtnr"}},
        {ImportKind::Abteilung, "abteilung", "abteilung",
         {{"firma", true}, {"abtnr", true}, {"name", true}, {"habtnr", true}, {"pcnr", true}},
         {"firma", "abtnr"}},
        {ImportKind::Hauptgruppe, "hauptgruppe", "hauptgruppe",
         {{"firma", true}, {"hgrp", true}, {"name", true}}, {"firma", "hgrp"}},
        {ImportKind::Untergruppe, "untergruppe", "untergruppe",
         {{"firma", true}, {"hgrp", true}, {"ugrp", true}, {"name", true}},
         {"firma", "hgrp", "ugrp"}},
        {ImportKind::Versandart, "versandart", "versandart",
         {{"firma", true}, {"vart", true}, {"name", true}, {"hvart", true}}, {"firma", "vart"}},
        {ImportKind::Personal, "personal", "pers_edv",
         {{"firma", true}, {"code", true}, {"passwort", true}, {"aktiv", true}, {"pname", true},
          {"pnr", true}, {"abtnr", true}, {"dw", false}, {"bergrp", false}},
         {"firma", "code"}},
        {ImportKind::Personalabteilung, "personalabteilung", "pers_abt",
         {{"firma", true}, {"abtnr", true}, {"abtbez", true}, {"habtnr", true}},
         {"firma", "abtnr"}},
        {ImportKind::Personalbasis, "personalbasis", "pers_basis",
         {{"firma", true}, {"pnr", true}, {"fax", false}, {"email", false}}, {"firma", "pnr"}},
    };
    return k;
}

const KindInfo& info(ImportKind kind) {
    for (const KindInfo& k : kinds())
        if (k.kind == kind)
            return k;
    return kinds().first();
}

// Columns whose value must come from a small set.
const QHash<QString, QStringList>& allowedValues() {
    static const QHash<QString, QStringList> a = {
        {QStringLiteral("hkgrp"), {QStringLiteral("P"), QStringLiteral("G")}},
        {QStringLiteral("hvart"), {QStringLiteral("L"), QStringLiteral("S")}},
        {QStringLiteral("styp"), {QStringLiteral("L"), QStringLiteral("B"), QStringLiteral("W")}},
        {QStringLiteral("aktiv"), {QStringLiteral("J"), QStringLiteral("N")}},
    };
    return a;
}

QString quoted(const QString& v) {
    QString s = v.left(40);
    for (QChar& c : s)
        if (c.unicode() < 32)
            c = QLatin1Char('?');
    return QStringLiteral("„%1“").arg(s);
}

} // namespace

bool importKindFromName(const QString& name, ImportKind* kind) {
    for (const KindInfo& k : kinds())
        if (name.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0) {
            *kind = k.kind;
            return true;
        }
    return false;
}

QStringList importKindNames() {
    QStringList n;
    for (const KindInfo& k : kinds())
        n << QLatin1String(k.name);
    return n;
}

QStringList importColumns(ImportKind kind, bool requiredOnly) {
    QStringList out;
    for (const Column& c : info(kind).columns)
        if (c.required || !requiredOnly)
            out << QLatin1String(c.name);
    return out;
}

bool splitCsvLine(const QString& line, QChar sep, QStringList* fields) {
    fields->clear();
    QString cur;
    bool inQuotes = false, wasQuoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                    cur += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                cur += c;
            }
        } else if (c == QLatin1Char('"') && cur.trimmed().isEmpty() && !wasQuoted) {
            inQuotes = wasQuoted = true;
            cur.clear();
        } else if (c == sep) {
            *fields << (wasQuoted ? cur : cur.trimmed());
            cur.clear();
            wasQuoted = false;
        } else {
            cur += c;
        }
    }
    if (inQuotes)
        return false;
    *fields << (wasQuoted ? cur : cur.trimmed());
    return true;
}

ImportResult importCsv(Store& store, ImportKind kind, QIODevice& in) {
    if (kind == ImportKind::Sales) {
        // The streaming import with its defaults (master-data checks, a
        // batch record, the touched periods rebuilt).
        const SalesImportResult s = importSales(store, in, SalesImportOptions{});
        ImportResult r;
        r.errors = s.errors;
        r.moreErrors = s.moreErrors;
        if (s.duplicate) r.errors << duplicateMessage(QString(), *s.duplicate);
        r.rows = s.lines;
        r.companies = s.companies;
        r.firstPeriod = s.firstPeriod;
        r.lastPeriod = s.lastPeriod;
        return r;
    }
    const KindInfo& k = info(kind);
    ImportResult r;
    auto error = [&](qint64 line, const QString& why) {
        if (r.errors.size() >= kMaxImportErrors) {
            r.moreErrors = true;
            return;
        }
        r.errors << QStringLiteral("Zeile %1: %2").arg(line).arg(why);
    };

    const QByteArray all = in.readAll();
    QString text = QString::fromUtf8(all);
    if (text.toUtf8() != all && !all.startsWith("\xEF\xBB\xBF")) {
        error(1, QStringLiteral("Die Datei ist kein gültiges UTF-8"));
        return r;
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    if (lines.isEmpty() || lines.first().trimmed().isEmpty()) {
        error(1, QStringLiteral("Kopfzeile fehlt"));
        return r;
    }
    const QChar sep = lines.first().contains(QLatin1Char(';')) ? QLatin1Char(';') : QLatin1Char(',');
    QStringList header;
    splitCsvLine(lines.first(), sep, &header);
    QHash<QString, int> pos;
    for (int i = 0; i < header.size(); ++i) {
        const QString h = header[i].trimmed().toLower();
        if (pos.contains(h))
            error(1, QStringLiteral("Spalte %1 kommt doppelt vor").arg(quoted(h)));
        pos.insert(h, i);
    }
    for (const Column& c : k.columns)
        if (c.required && !pos.contains(QLatin1String(c.name)))
            error(1, QStringLiteral("Pflichtspalte %1 fehlt").arg(quoted(QLatin1String(c.name))));
    for (auto it = pos.cbegin(); it != pos.cend(); ++it) {
        bool known = false;
        for (const Column& c : k.columns)
            known |= it.key() == QLatin1String(c.name);
        if (!known)
            error(1, QStringLiteral("Unbekannte Spalte %1").arg(quoted(it.key())));
    }
    if (!r.errors.isEmpty())
        return r;

    // Validate every row first; nothing is written unless all are good.
    QList<QVariantList> rows;
    QStringList f;
    for (int li = 1; li < lines.size(); ++li) {
        const qint64 lineNo = li + 1;
        const QString& line = lines[li];
        if (line.trimmed().isEmpty())
            continue;
        if (!splitCsvLine(line, sep, &f)) {
            error(lineNo, QStringLiteral("Anführungszeichen nicht geschlossen"));
            continue;
        }
        if (f.size() != header.size()) {
            error(lineNo, QStringLiteral("%1 Felder statt %2").arg(f.size()).arg(header.size()));
            continue;
        }
        QVariantList values;
        bool good = true;
        auto bad = [&](const QString& why) {
            error(lineNo, why);
            good = false;
        };
        for (const Column& c : k.columns) {
            const QString col = QLatin1String(c.name);
            const QString v = pos.contains(col) ? f[pos[col]] : QString();
            if (!good)
                break;
            for (QChar ch : v)
                if (ch.unicode() < 32) {
                    bad(QStringLiteral("Steuerzeichen in Spalte %1").arg(col));
                    break;
                }
            if (!good)
                break;
            if (v.size() > 200) {
                bad(QStringLiteral("Text in Spalte %1 ist länger als 200 Zeichen").arg(col));
                break;
            }
            if (col == QLatin1String("firma")) {
                const qint64 firma = parseCompany(v);
                if (firma < 0) {
                    bad(QStringLiteral("Ungültige Firma %1").arg(quoted(v)));
                    break;
                }
                values << firma;
                continue;
            }
            const auto allowed = allowedValues().constFind(col);
            if (allowed != allowedValues().constEnd() && !allowed->contains(v)) {
                bad(QStringLiteral("Wert %1 in Spalte %2 nicht erlaubt (%3)")
                        .arg(quoted(v), col, allowed->join(QLatin1Char('/'))));
                break;
            }
            if (c.required && v.isEmpty() && col != QLatin1String("name") &&
                col != QLatin1String("pname") && col != QLatin1String("abtbez") &&
                col != QLatin1String("passwort")) {
                bad(QStringLiteral("Spalte %1 ist leer").arg(col));
                break;
            }
            // A null QString binds as SQL NULL, but every column is NOT NULL:
            // a missing optional column or an empty field is empty text.
            values << (v.isNull() ? QStringLiteral("") : v);
        }
        if (!good) continue;
        rows << values;
    }
    if (!r.errors.isEmpty())
        return r;

    // Master data from here on.

    QStringList cols;
    for (const Column& c : k.columns)
        cols << QLatin1String(c.name);
    Database& db = store.db();
    // Logins keep their password only in the engine's own form: a hash in
    // the SQLite record, the role's password on PostgreSQL.
    QList<QPair<QString, QString>> logins;
    if (kind == ImportKind::Personal) {
        const qsizetype pw = cols.indexOf(QStringLiteral("passwort"));
        const qsizetype code = cols.indexOf(QStringLiteral("code"));
        for (QVariantList& v : rows) {
            if (db.engine() == Engine::Sqlite) {
                v[pw] = hashPassword(v[pw].toString());
            } else {
                logins.append({v[code].toString(), v[pw].toString()});
                v.removeAt(pw);
            }
        }
        if (db.engine() != Engine::Sqlite)
            cols.removeAt(pw);
    }
    const int n = int(cols.size());
    db.begin();
    try {
        {
            QString where;
            for (const QString& key : k.key)
                where += (where.isEmpty() ? QString() : QStringLiteral(" AND ")) + key +
                         QStringLiteral(" = ?");
            const QString del = QStringLiteral("DELETE FROM %1 WHERE %2").arg(QLatin1String(k.table), where);
            for (const QVariantList& v : rows) {
                QVariantList keyValues;
                for (const QString& key : k.key)
                    keyValues << v[cols.indexOf(key)];
                db.exec(del, keyValues).finish();
            }
        }
        const int batch = std::max(1, 4000 / n);
        const QString one = QLatin1Char('(') + QStringList(n, QStringLiteral("?")).join(QLatin1Char(',')) +
                            QLatin1Char(')');
        auto sqlFor = [&](int count) {
            QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES ")
                              .arg(QLatin1String(k.table), cols.join(QStringLiteral(", ")));
            for (int i = 0; i < count; ++i)
                sql += (i ? QStringLiteral(",") : QString()) + one;
            return sql;
        };
        const QString full = sqlFor(batch);
        QVariantList binds;
        int inBatch = 0;
        for (const QVariantList& v : rows) {
            binds << v;
            if (++inBatch == batch) {
                db.exec(full, binds).finish();
                binds.clear();
                inBatch = 0;
            }
        }
        if (inBatch)
            db.exec(sqlFor(inBatch), binds).finish();
        for (const auto& [code, password] : logins)
            storeLoginPassword(db, 0, code, password);
        db.commit();
    } catch (const CacheError& e) {
        db.rollback();
        r.errors << QStringLiteral("Datenbankfehler, nichts importiert: %1").arg(e.description());
        return r;
    }
    r.rows = rows.size();
    return r;
}

ImportResult importCsvFile(Store& store, ImportKind kind, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ImportResult r;
        r.errors << QStringLiteral("Datei %1 kann nicht gelesen werden: %2").arg(path, f.errorString());
        return r;
    }
    return importCsv(store, kind, f);
}

} // namespace cache::server

#include "Xecute.h"

#include "../Factory.h"
#include "Text.h"

#include <QRegularExpression>

namespace cache::server {

namespace {

[[noreturn]] void syntax(const QString& line) {
    QString shown = line.left(80);
    for (QChar& c : shown)
        if (c.unicode() < 32)
            c = QLatin1Char('?');
    throw CacheError(err::Syntax,
                     QStringLiteral("<SYNTAX> Befehlszeile nicht unterstützt: %1").arg(shown));
}

// A literal: "string" (with "" for a quote) or a number; returns false if
// text at pos is neither. Advances pos.
bool literal(const QString& s, int& pos, QString* out) {
    if (pos >= s.size())
        return false;
    if (s[pos] == QLatin1Char('"')) {
        QString v;
        for (int i = pos + 1; i < s.size(); ++i) {
            if (s[i] == QLatin1Char('"')) {
                if (i + 1 < s.size() && s[i + 1] == QLatin1Char('"')) {
                    v += QLatin1Char('"');
                    ++i;
                    continue;
                }
                pos = i + 1;
                *out = v;
                return true;
            }
            v += s[i];
        }
        return false;
    }
    static const QRegularExpression num(QStringLiteral("\\A[+-]?(\\d+(\\.\\d*)?|\\.\\d+)"));
    const auto m = num.match(s.mid(pos));
    if (!m.hasMatch())
        return false;
    QString n = m.captured(0);
    pos += int(n.size());
    // Numbers are canonical in the server: 007 is 7, 1.50 is 1.5.
    bool ok = false;
    const double d = n.toDouble(&ok);
    // Range first: converting an out-of-range double to qint64 is undefined.
    *out = ok && qAbs(d) < 1e15 && d == qint64(d) ? QString::number(qint64(d)) : n;
    return true;
}

QString rows(const QList<CodeName>& list) {
    QString out;
    for (const CodeName& r : list) {
        if (!out.isEmpty())
            out += QChar(kRowSeparator);
        out += r.code + QLatin1Char('`') + r.name;
    }
    return out;
}

qint64 sessionCompany(Session& session) {
    const auto it = session.vars.constFind(QStringLiteral("FIRMA"));
    if (it == session.vars.constEnd())
        throw CacheError(err::Undefined, QStringLiteral("<UNDEFINED> FIRMA"));
    const qint64 f = parseCompany(*it);
    return f < 0 ? 0 : f;
}

// S name=literal[,name=literal...]
QString setVariables(const QString& line, const QString& args, Session& session) {
    static const QRegularExpression name(QStringLiteral("\\A[%A-Za-z][A-Za-z0-9]*"));
    QHash<QString, QString> assigned;
    int pos = 0;
    while (true) {
        const auto m = name.match(args.mid(pos));
        if (!m.hasMatch())
            syntax(line);
        const QString var = m.captured(0);
        pos += int(var.size());
        if (pos >= args.size() || args[pos] != QLatin1Char('='))
            syntax(line);
        ++pos;
        QString value;
        if (!literal(args, pos, &value))
            syntax(line);
        assigned.insert(var, value);
        if (pos == args.size())
            break;
        if (args[pos] != QLatin1Char(','))
            syntax(line);
        ++pos;
    }
    // Only when the whole line is valid does any variable change.
    for (auto it = assigned.cbegin(); it != assigned.cend(); ++it)
        session.vars.insert(it.key(), it.value());
    return {};
}

} // namespace

QString xecute(const QString& rawLine, Session& session, Store& store) {
    if (rawLine.size() > 4096)
        syntax(rawLine);
    const QString line = rawLine.trimmed();

    // Fixed lines first; blanks inside them are significant in the server
    // language, so they are compared as a whole (commands case-insensitive).
    static const QRegularExpression fa0(
        QStringLiteral("\\A(?:S|SET) P0=\\$P(?:IECE)?\\(\\^FA\\(0\\),\"`\",2\\) (?:W|WRITE) P0\\z"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression xwgdat(
        QStringLiteral("\\A(?:S|SET) P0=\\^XWGDAT (?:W|WRITE) P0\\z"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression xtt(QStringLiteral("\\A(?:D|DO) \\^%XTT\\z"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression routine(
        QStringLiteral("\\A(?:D|DO) (HGRP|ABTNR|HABT|UGRP)\\^ZKCLSU(?:\\((.*)\\))?\\z"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression set(QStringLiteral("\\A(?:S|SET) (.+)\\z"),
                                        QRegularExpression::CaseInsensitiveOption);

    if (fa0.match(line).hasMatch()) {
        const auto v = store.fiscalYearText();
        if (!v)
            throw CacheError(err::Undefined, QStringLiteral("<UNDEFINED> ^FA(0)"));
        return *v;
    }
    if (xwgdat.match(line).hasMatch())
        return store.buildInfo().value_or(QString());
    if (xtt.match(line).hasMatch())
        return {};  // terminal set-up of the server; writes nothing
    if (const auto m = routine.match(line); m.hasMatch()) {
        const QString tag = m.captured(1).toUpper();
        const bool hasArg = m.capturedLength(2) > 0 || line.endsWith(QLatin1Char(')'));
        if (tag == QLatin1String("UGRP")) {
            if (!hasArg)
                syntax(line);
            const QString argText = m.captured(2);
            QString arg;
            int pos = 0;
            if (!literal(argText, pos, &arg)) {
                // A bare code such as A1 is taken as the code itself.
                static const QRegularExpression bare(QStringLiteral("\\A[A-Za-z0-9]+\\z"));
                if (!bare.match(argText).hasMatch())
                    syntax(line);
                arg = argText;
                pos = int(argText.size());
            }
            if (pos != argText.size())
                syntax(line);
            return rows(store.subGroups(sessionCompany(session), arg));
        }
        if (hasArg)
            syntax(line);
        const qint64 firma = sessionCompany(session);
        if (tag == QLatin1String("HGRP"))
            return rows(store.mainGroups(firma));
        if (tag == QLatin1String("ABTNR"))
            return rows(store.departments(firma));
        return rows(store.mainDepartments(firma));
    }
    if (const auto m = set.match(line); m.hasMatch())
        return setVariables(line, m.captured(1), session);
    syntax(line);
}

} // namespace cache::server

#pragma once

// The text of a PDF's pages, read back with pdftotext (poppler-utils).

#include "Process.h"

#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace testsupport {

// The header's selection line of every page (its first line that starts
// with a selection label; empty when the page has none).
inline QStringList pdfSelectionLines(const QString& pdf) {
    const ProcessRun r = runProcess(QStringLiteral("pdftotext"),
                                    {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    EXPECT_EQ(r.code, 0) << "pdftotext failed";
    QStringList pages = r.outText().split(QLatin1Char('\f'));
    pages.removeLast(); // after the last page's form feed
    static const QRegularExpression label(QStringLiteral("^(HKG|PC|HABT|ABT|HG|UG|HVArt):"));
    QStringList out;
    for (const QString& page : pages) {
        QString line;
        for (const QString& l : page.split(QLatin1Char('\n')))
            if (label.match(l.trimmed()).hasMatch()) {
                line = l.simplified();
                break;
            }
        out << line;
    }
    return out;
}

} // namespace testsupport

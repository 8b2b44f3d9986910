#include "Page.h"

#include "Series.h"

#include <QLocale>
#include <QStringList>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace report {

namespace {

// One statement under the page's failure rule.
template <class F> void step(F&& f) {
    try {
        f();
    } catch (...) {
    }
}

constexpr double K = kTwipsPerMm;
const QString kArial = QStringLiteral("Arial");

double halfEven(double v) {
    return std::nearbyint(v);
}

qint32 toLong(double v) {
    const double r = halfEven(v);
    if (!std::isfinite(r) || r > INT_MAX || r < INT_MIN) throw std::overflow_error("Überlauf");
    return qint32(r);
}

// a mod b with both rounded to whole numbers; outside the 32-bit range the
// remainder cannot be taken, which counts as "not zero".
bool modNonZero(double a, double b) {
    const double ra = halfEven(a), rb = halfEven(b);
    if (!std::isfinite(ra) || !std::isfinite(rb) || std::abs(ra) > INT_MAX ||
        std::abs(rb) > INT_MAX)
        return true;
    if (qint64(rb) == 0) return true;
    return qint64(ra) % qint64(rb) != 0;
}

double pow10(int n) {
    double p = 1;
    for (int i = 0; i < n; ++i)
        p *= 10;
    return p;
}

// The system locale without its thousands separator: the percent formats
// and the length of a step value know only the decimal separator.
QLocale ungrouped() {
    QLocale l;
    l.setNumberOptions(l.numberOptions() | QLocale::OmitGroupSeparator);
    return l;
}

// V written as text, as many digits as it needs (up to 15 significant).
int textLength(double v) {
    return int(ungrouped().toString(v, 'g', 15).size());
}

double bottom(int panel, double top, double height) {
    const double p = (height - 5) / 2;
    return top + p * panel + 5 * (panel - 1);
}

void penReset(print::PrintSurface& s) {
    s.setPenColor(0);
    s.setPenStyle(print::PenSolid);
    s.setPenWidth(0);
}

void seriesPen(print::PrintSurface& s, int index) {
    s.setBrushStyle(print::BrushHollow);
    s.setPenColor(SeriesColour(index));
    s.setPenStyle(print::PenSolid);
    s.setPenWidth(SeriesPenWidth(index));
}

// The point marker of series s (1..6) centred at (x, y) mm.
void marker(print::PrintSurface& s, int series, double x, double y) {
    switch ((series - 1) % 3) {
    case 0:
        s.DrawCircle(x * K, y * K, 57);
        break;
    case 1:
        s.DrawRectangle((x - 1) * K, (y - 1) * K, (x + 1) * K, (y + 1) * K);
        break;
    default:
        DrawTriangleMarker(x, y, 1, s);
    }
}

} // namespace

quint32 SeriesColour(int index) {
    static const quint32 c[] = {255, 0xFF0000, 0, 255, 0xFF0000, 0};
    return index >= 0 && index < 6 ? c[index] : 0;
}

double SeriesPenWidth(int index) {
    static const double mm[] = {1, 0.75, 0.75, 0.5, 0.5, 0};
    return index >= 0 && index < 6 ? halfEven(mm[index] * K) : 0;
}

int CompletedMonths(int yearMode, int clockMonth) {
    if (yearMode != 1) return clockMonth - 1;
    if (clockMonth == 1) return 10;
    if (clockMonth == 2) return 11;
    return clockMonth - 3;
}

QString formatAmount(double v) {
    return QLocale().toString(qlonglong(std::round(v)));
}

QString formatPercent(double ratio) {
    return ungrouped().toString(qlonglong(std::round(ratio * 100))) + QLatin1Char('%');
}

QString formatPercent2(double ratio) {
    return ungrouped().toString(ratio * 100, 'f', 2) + QLatin1Char('%');
}

void DrawTextBox(const QString& text, double x, double y, double boxWidth, double boxHeight,
                 int fontPoints, const QString& fontFace, quint32 textColour, bool shaded,
                 print::PrintSurface& s, int alignment, double penWidth, int brushStyle,
                 int penStyle) {
    double w = boxWidth * K, h = boxHeight * K;
    step([&] { s.setTextAlignment(alignment); });
    step([&] { s.setFontFace(fontFace); });
    step([&] { s.setFontPoints(fontPoints); });
    // A size of 0 is measured from the text.
    if (boxWidth == 0) step([&] { w = s.TextWidth(text); });
    if (boxHeight == 0) step([&] { h = s.TextHeight(text); });
    step([&] { s.setTextColour(textColour); });
    step([&] { s.setPenStyle(penStyle); });
    step([&] { s.setPenColor(0); });
    step([&] { s.setPenWidth(penWidth == 0 ? 1 : penWidth); });
    step([&] { s.setBrushColor(0); });
    step([&] { s.setBrushStyle(brushStyle); });
    step([&] { s.DrawTextInBox(text, x * K, y * K, w, h, false, shaded); });
}

void DrawTriangleMarker(double x, double y, double r, print::PrintSurface& s) {
    s.DrawLine((x - r) * K, (y - r) * K, (x + r) * K, (y - r) * K);
    s.DrawLine((x + r) * K, (y - r) * K, x * K, (y + r) * K);
    s.DrawLine(x * K, (y + r) * K, (x - r) * K, (y - r) * K);
}

void ComputeAxisRange(const values::PeriodValueStore& store, int first, int last, int completed,
                      qint32& AxisMax, qint32& AxisMin) {
    AxisMax = -2147483646;
    AxisMin = 2147483647;
    auto consider = [&](int m, int s) {
        step([&] {
            const double v = store.GraphValues(m, s).value();
            if (v > AxisMax) AxisMax = toLong(v);
            if (v < AxisMin) AxisMin = toLong(v);
        });
    };
    for (int s = first + 1; s <= last; ++s)
        for (int m = 1; m <= 12; ++m)
            consider(m, s);
    for (int m = 1; m <= completed; ++m)
        consider(m, first);

    // Upper bound: the first two digits plus one, the rest zeros.
    const QString D = QString::number(AxisMax);
    step([&] {
        const int n = int(D.size()) - 2;
        double v = D.left(2).toDouble() + 1;
        for (int i = 0; i < n; ++i)
            v *= 10;
        AxisMax = toLong(v);
    });
    // Lower bound: the first two digits rounded down to a 5 or a 0.
    const bool negative = AxisMin < 0;
    step([&] {
        const QString E = QString::number(std::abs(qint64(AxisMin)));
        const int n = int(E.size()) - 2;
        int two = int(E.left(2).toInt()) + (negative ? 1 : 0);
        if (!negative) {
            if (n >= 0 && two % 10 >= 5)
                two = two / 10 * 10 + 5;
            else if (n >= 0 && two % 10 != 0)
                two = two / 10 * 10;
            else if (n < 0 && two >= 5)
                two = 5;
        }
        double v = two;
        for (int i = 0; i < n; ++i)
            v *= 10;
        AxisMin = toLong(v);
    });
    // A maximum with more digits: the minimum keeps one significant digit.
    step([&] {
        const QString E = QString::number(std::abs(qint64(AxisMin)));
        if (D.size() > E.size()) {
            const int n = int(E.size()) - 1;
            double v = E.left(1).toInt() + (negative ? 1 : 0);
            for (int i = 0; i < n; ++i)
                v *= 10;
            AxisMin = toLong(v);
        }
    });
    if (negative) step([&] { AxisMin = toLong(-double(AxisMin)); });
}

void StepRule(qint32 AxisMax, qint32 AxisMin, int& N, double& V) {
    const double R = double(AxisMax) - double(AxisMin);
    const QString T = QString::number(qint64(R));
    step([&] {
        int q = int(T.indexOf(QLatin1Char('0'))); // 0-based = 1-based position - 1
        if (q < 1) q = 1;
        N = T.left(q).toInt();
        if (N == 1) N = 10;
        while (N > 10)
            N = N / 2;
        if (N == 1) N = 10;
    });
    auto bOf = [](double v) { return textLength(v) - 2; };
    // Each assignment and each test is a statement of its own: a failed
    // division leaves V as it was and the test still runs.
    auto divide = [&] {
        if (N == 0) throw std::domain_error("Division durch Null");
        V = R / N;
    };
    auto digitsTest = [&](int delta) {
        const int b = bOf(V);
        if (b >= 2 && (b >= 10 || modNonZero(V, pow10(b)))) N = N + delta;
    };
    auto tenthsTest = [&](int delta) {
        if (modNonZero(V * 10, 100)) N = N + delta;
    };
    step(divide);
    step([&] { digitsTest(+1); });
    step(divide);
    step([&] { digitsTest(-2); });
    step(divide);
    step([&] { tenthsTest(+2); });
    step(divide);
    step([&] { tenthsTest(-1); });
    step(divide);
}

namespace {

// The value-axis grid and labels of panel i (1 or 2).
void drawValueAxis(int i, double left, double top, double width, double height,
                   print::PrintSurface& s, const values::PeriodValueStore& store,
                   const PageInputs& in, PanelAxis* out) {
    const double p = (height - 5) / 2;
    const int first = i == 1 ? 1 : 4;
    qint32 AxisMax = 0, AxisMin = 0;
    int N = 0;
    double V = 0;
    step([&] {
        ComputeAxisRange(store, first, first + 2,
                         CompletedMonths(store.YearMode, in.now.date().month()), AxisMax, AxisMin);
    });
    step([&] { StepRule(AxisMax, AxisMin, N, V); });
    if (out) *out = {AxisMin, AxisMax, N, V};
    double h = 0;
    int M = 0;
    step([&] {
        if (N == 0) throw std::domain_error("Division durch Null");
        h = p / N;
        const int r = int(halfEven(h));
        M = r <= 3 ? 0 : r <= 8 ? 2 : r <= 14 ? 3 : r <= 20 ? 5 : 10;
    });
    const double b = bottom(i, top, height);
    for (int k = 0; k <= N; ++k) {
        const double y = b - h * k;
        step([&] { penReset(s); });
        if (k == 0) step([&] { s.setPenWidth(28.5); });
        step([&] { s.DrawLine(left * K, y * K, (left + width) * K, y * K); });
        step([&] {
            const double value = AxisMin + k * V;
            const QString label = (i == 2 && in.dbPercent)
                                      ? formatPercent(value / 100)
                                      : formatAmount(value) + QStringLiteral(" €");
            DrawTextBox(label, left - 18, y - 3 - (k == 0 ? 2 : 0), 17, 6, 10, kArial, 0, true, s,
                        print::AlignRight, 0, print::BrushHollow, print::PenNone);
        });
        if (k != N) {
            step([&] {
                s.setPenColor(0);
                s.setPenStyle(print::PenDot);
                s.setPenWidth(0);
            });
            for (int m = 1; m <= M - 1; ++m)
                step([&] {
                    const double ym = y - h * m / M;
                    s.DrawLine(left * K, ym * K, (left + width) * K, ym * K);
                });
        }
    }
}

// Text of the value cell of month j and series s.
QString cellText(const values::PeriodValueStore& st, const PageInputs& in, int j, int s) {
    QString text;
    const values::Table& G = st.GraphValues;
    auto quotient = [&](int a, int b) {
        const values::Cell d = G(j, b);
        if (d.isEmpty() || d.value() == 0) return QStringLiteral("0");
        const values::Cell n = G(j, a);
        if ((a == 1 || a == 4) && n.isEmpty()) return QStringLiteral("0");
        return formatPercent(n.value() / d.value());
    };
    auto amount = [](const values::Cell& c) {
        return c.isEmpty() ? QString() : formatAmount(c.value());
    };
    step([&] {
        switch (st.TableMode) {
        case 0:
            text = amount(st.CumulativeValues(j, s));
            break;
        case 1:
            text = amount(st.MonthYearValues(j, s));
            break;
        case 2:
            text = (s == 1 || s == 4)   ? quotient(s, s + 2)
                   : (s == 2 || s == 5) ? quotient(s, s + 1)
                                        : QStringLiteral("100%");
            break;
        case 3:
            text = (s == 1 || s == 4)   ? quotient(s, s + 1)
                   : (s == 2 || s == 5) ? QStringLiteral("100%")
                                        : quotient(s, s - 1);
            break;
        default:
            text = amount(G(j, s));
            break;
        }
    });
    if (in.dbPercent && s >= 4) step([&] { text = formatPercent2(G(j, s).value() / 100); });
    if (text.isEmpty()) text = QStringLiteral("0");
    return text;
}

QString tableTitle(int mode, int year) {
    switch (mode) {
    case 0:
        return QStringLiteral("Werte Kumuliert");
    case 1:
        return QStringLiteral("Werte Absolut");
    case 2:
        return QStringLiteral(" in % v. ") + YearWord(2, 0, year);
    case 3:
        return QStringLiteral(" in % v. ") + YearWord(1, 0, year);
    default:
        return QStringLiteral("Werte Graph");
    }
}

} // namespace

QString ValueCellText(const values::PeriodValueStore& store, const PageInputs& in, int j, int s) {
    return cellText(store, in, j, s);
}

QString ValueTableCsv(const values::PeriodValueStore& st, const PageInputs& in) {
    auto field = [](QString f) {
        f = f.trimmed();
        if (f.contains(QLatin1Char(';')) || f.contains(QLatin1Char('"')) ||
            f.contains(QLatin1Char('\n')))
            f = QLatin1Char('"') + f.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                QLatin1Char('"');
        return f;
    };
    const int year = in.now.date().year();
    const int shift = st.YearMode == 1 ? 2 : 0;
    QStringList row{field(tableTitle(st.TableMode, year))};
    for (int k = 0; k < 12; ++k)
        row << field(MonthName(k + shift));
    QString out = row.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (int sr = 1; sr <= 6; ++sr) {
        row = {field(SeriesLabel(sr - 1, st.YearMode, year))};
        for (int j = 1; j <= 12; ++j)
            row << field(cellText(st, in, j, sr));
        out += row.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    return out;
}

void DrawValueTable(double left, double top, double width, double height, print::PrintSurface& s,
                    const values::PeriodValueStore& st, const PageInputs& in, PageAxes* axes) {
    const double c = width / 12;
    const double T = top + height;
    const int year = in.now.date().year();
    drawValueAxis(1, left, top, width, height, s, st, in, axes ? &axes->panel[0] : nullptr);
    drawValueAxis(2, left, top, width, height, s, st, in, axes ? &axes->panel[1] : nullptr);

    const int shift = st.YearMode == 1 ? 2 : 0;
    for (int k = 0; k <= 12; ++k) {
        const double x = left + k * c;
        step([&] { penReset(s); });
        step([&] { s.DrawLine(x * K, top * K, x * K, (top + height / 2 - 2.5) * K); });
        step([&] { s.DrawLine(x * K, (top + height / 2 + 2.5) * K, x * K, (top + height) * K); });
        if (k < 12) {
            step([&] {
                DrawTextBox(MonthName(k + shift), x, T, c, 6, 10, kArial, 0, false, s,
                            print::AlignCenter, 1, print::BrushHollow, print::PenSolid);
            });
            const int j = k + 1;
            for (int sr = 1; sr <= 6; ++sr)
                step([&] {
                    DrawTextBox(cellText(st, in, j, sr), x, T + 6 * sr, c, 6, 10, kArial,
                                SeriesColour(sr - 1), true, s, print::AlignCenter, 1,
                                print::BrushHollow, print::PenSolid);
                });
        }
    }
    step([&] {
        DrawTextBox(tableTitle(st.TableMode, year), left - 2 * c, T, 2 * c, 6, 10, kArial, 0, false,
                    s, print::AlignLeft, 1, print::BrushHollow, print::PenSolid);
    });
    for (int sr = 1; sr <= 6; ++sr) {
        const int r = sr - 1;
        const double yc = T + 6 * sr + 3;
        step([&] { penReset(s); });
        step([&] {
            DrawTextBox(QStringLiteral(" ") + SeriesLabel(r, st.YearMode, year), left - 2.25 * c,
                        T + 6 * sr, 2.25 * c, 6, 10, kArial, 0, true, s, print::AlignLeft, 1,
                        print::BrushHollow, print::PenSolid);
        });
        step([&] {
            s.setPenColor(SeriesColour(r));
            s.setPenStyle(print::PenSolid);
            s.setPenWidth(SeriesPenWidth(r));
        });
        step([&] { s.DrawLine((left - 0.75 * c) * K, yc * K, (left - 0.25 * c) * K, yc * K); });
        step([&] { marker(s, sr, left - c / 2, yc); });
    }
    step([&] { penReset(s); });
    step([&] { s.setPenWidth(28.5); });
    step([&] { s.setBrushStyle(print::BrushHollow); });
    step([&] {
        s.DrawRectangle((left - 2.25 * c) * K, (T + 6) * K, (left + width) * K, (T + 24) * K);
    });
    step([&] {
        s.DrawRectangle((left - 2.25 * c) * K, (T + 24) * K, (left + width) * K, (T + 42) * K);
    });
    step([&] {
        const QString footnote = st.YearMode == 1 ? QStringLiteral(" *.) WJ .. Wirtschaftsjahr")
                                                  : QStringLiteral(" *.) KJ .. Kalenderjahr");
        const QString text =
            QStringLiteral("Gedruckt durch: ") + in.BenutzerName + QStringLiteral(" am ") +
            in.now.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(" um ") +
            in.now.toString(QStringLiteral("HH:mm")) + QStringLiteral(" Uhr. ") + footnote;
        DrawTextBox(text, left - 2 * c, T + 42, 0, 6, 10, kArial, 0, false, s, print::AlignLeft, 1,
                    print::BrushHollow, print::PenSolid);
    });
}

void DrawGraph(double left, double top, double width, double height, print::PrintSurface& s,
               const values::PeriodValueStore& st, const PageInputs& in) {
    const double c = width / 12;
    const double p = (height - 5) / 2;
    const int C = CompletedMonths(st.YearMode, in.now.date().month());
    for (int i = 1; i <= 2; ++i) {
        const int first = i == 1 ? 1 : 4;
        qint32 AxisMax = 0, AxisMin = 0;
        double u = 0;
        step([&] { ComputeAxisRange(st, first, first + 2, C, AxisMax, AxisMin); });
        step([&] { u = (double(AxisMax) - double(AxisMin)) / p; });
        const double b = bottom(i, top, height);
        for (int sr = first; sr <= first + 2; ++sr) {
            double xj = 0, yj = 0, xn = 0, yn = 0;
            for (int j = 1; j <= 12; ++j) {
                step([&] {
                    xj = left + (j - 1) * c + c / 2;
                    if (u == 0) throw std::domain_error("Division durch Null");
                    yj = b - (st.GraphValues(j, sr).value() - AxisMin) / u;
                });
                step([&] {
                    xn = left + j * c + c / 2;
                    if (u == 0) throw std::domain_error("Division durch Null");
                    yn = b - (st.GraphValues(j + 1, sr).value() - AxisMin) / u;
                });
                const bool cut = (sr == 1 || sr == 4) && j >= C;
                if (j == 12 || cut) {
                    xn = xj;
                    yn = yj;
                }
                step([&] { seriesPen(s, sr - 1); });
                step([&] { s.DrawLine(xj * K, yj * K, xn * K, yn * K); });
                step([&] { marker(s, sr, xj, yj); });
                if (cut) break;
            }
        }
    }
}

QString SelectionLine(const PageInputs& in) {
    QString line;
    auto part = [&](const char* label, const QString& text) {
        line += QString::fromUtf8(label) + text + QLatin1Char(' ');
    };
    if (in.SFirma != in.Firma) part("Firma: ", in.SFirma);
    if (!in.SPG.isEmpty()) part("HKG:", in.SPG);
    if (!in.SPCNR.isEmpty() && in.SHABT.isEmpty() && in.SABTNR.isEmpty()) part("PC:", in.SPCNR);
    if (!in.SHABT.isEmpty() && in.SABTNR.isEmpty()) part("HABT:", in.SHABT);
    if (!in.SABTNR.isEmpty()) part("ABT:", in.SABTNR);
    if (!in.SHGRP.isEmpty()) part("HG:", in.SHGRP);
    if (!in.SUGRP.isEmpty()) part("UG:", in.SUGRP);
    if (!in.SHVArt.isEmpty() && in.SVART.isEmpty()) part("HVArt:", in.SHVArt);
    if (in.auswahlChecked && !in.SVART.isEmpty()) part("SVArt:", in.SVART);
    if (in.auswahlChecked && !in.SSTyp.isEmpty()) part("STyp:", in.SSTyp);
    return line;
}

void DrawPageHeader(double left, double top, double width, double height, print::PrintSurface& s,
                    const values::PeriodValueStore& st, const PageInputs& in) {
    step([&] {
        DrawTextBox(QStringLiteral("Tallvero"), left, 15, width, 0, 16, kArial, 0, false, s,
                    print::AlignCenter, 1, print::BrushHollow, print::PenSolid);
    });
    step([&] {
        DrawTextBox(SelectionLine(in), left, 21.5, width, 0, 10, kArial, 0, false, s,
                    print::AlignCenter, 1, print::BrushHollow, print::PenSolid);
    });
    step([&] { s.setTextRotation(900); });
    step([&] {
        static const char* const prefix[] = {"Jahresmittelwerte ", "Quartalsmittelwerte ",
                                             "Absolut "};
        const int g = st.GraphMode >= 0 && st.GraphMode <= 2 ? st.GraphMode : 0;
        DrawTextBox(QString::fromUtf8(prefix[g]) + QStringLiteral("Monatilcher Wert in €"),
                    left - 36, top + height, height, 0, 10, kArial, 0, false, s, print::AlignCenter,
                    1, print::BrushSolid, print::PenSolid);
    });
    step([&] {
        const bool skonto = in.auswahlChecked && st.DisplayMode == 1;
        const QString first = skonto ? QStringLiteral("Skonto") : QStringLiteral("Umsatz");
        QString second = skonto ? QStringLiteral("Nachlass") : QStringLiteral("Deckungsbeitrag");
        if (in.dbPercent) second += QStringLiteral(" in % von Umsatz");
        step([&] {
            DrawTextBox(first, left - 30, top + height / 2, height / 2, 0, 10, kArial, 0, false, s,
                        print::AlignCenter, 1, print::BrushSolid, print::PenSolid);
        });
        step([&] {
            DrawTextBox(second, left - 30, top + height, height / 2, 0, 10, kArial, 0, false, s,
                        print::AlignCenter, 1, print::BrushSolid, print::PenSolid);
        });
    });
    step([&] { s.setTextRotation(0); });
}

void Zeichnen(print::PrintSurface& s, values::PeriodValueStore& st, const PageInputs& in,
              PageAxes* axes) {
    values::AbsolutMittel(st, in.now.date().month(), in.dbPercent);
    step([&] { s.BeginDocument(); });
    DrawValueTable(kLeft, kTop, kWidth, kHeight, s, st, in, axes);
    DrawGraph(kLeft, kTop, kWidth, kHeight, s, st, in);
    DrawPageHeader(kLeft, kTop, kWidth, kHeight, s, st, in);
    step([&] { s.Refresh(); });
    step([&] { s.EndDocument(); });
}

} // namespace report

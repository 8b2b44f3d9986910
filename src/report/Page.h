#pragma once

// The report page: value table and footer, the two graph panels with
// their value axes, and the page header, drawn on a print surface. All
// positions are millimetres, times 57 when handed to the surface. Every
// routine skips a statement that fails and always finishes the page.

#include "platform/print/PrintSurface.h"
#include "values/ValueStore.h"

#include <QDateTime>
#include <QString>

namespace report {

// The report area the redraw hands to the three routines.
constexpr double kLeft = 50, kTop = 26, kWidth = 227, kHeight = 130;
constexpr double kTwipsPerMm = 57;

// What the page shows besides the value store: the selection controls'
// texts, two menu ticks, the user and the clock.
struct PageInputs {
    QString SFirma, SPG, SPCNR, SHABT, SABTNR, SHGRP, SUGRP, SHVArt;
    QString SVART, SSTyp;        // extended selection window ("" without it)
    bool auswahlChecked = false; // "Erweiterte Auswahl"
    bool dbPercent = false;      // "DB in % von Umsatz"
    QString Firma;               // the user's company
    QString BenutzerName;
    QDateTime now;
};

// Axis of one graph panel as drawn: the rounded range and the step rule.
struct PanelAxis {
    qint32 AxisMin = 0, AxisMax = 0;
    int N = 0;
    double V = 0;
};
struct PageAxes {
    PanelAxis panel[2];
};

quint32 SeriesColour(int index);
// Pen width in twips: 1, 0.75, 0.75, 0.5, 0.5, 0 mm times 57, halves to even.
double SeriesPenWidth(int index);
// Completed months of the shown year at the clock's month.
int CompletedMonths(int yearMode, int clockMonth);

// "#,##0" (thousands grouped), "0%" (times 100) and "#0.00%" (times 100,
// two decimals) in the system locale; the percentages have no grouping.
QString formatAmount(double v);
QString formatPercent(double ratio);
QString formatPercent2(double ratio);

void DrawTextBox(const QString& text, double x, double y, double boxWidth, double boxHeight,
                 int fontPoints, const QString& fontFace, quint32 textColour, bool shaded,
                 print::PrintSurface& surface, int alignment, double penWidth, int brushStyle,
                 int penStyle);
void DrawTriangleMarker(double x, double y, double r, print::PrintSurface& surface);

// Rounded value range of series first..last of GraphValues (the current-year
// series `first` only over the completed months).
void ComputeAxisRange(const values::PeriodValueStore& store, int first, int last, int completed,
                      qint32& AxisMax, qint32& AxisMin);
// Number of intervals N and value per interval V for the range.
void StepRule(qint32 AxisMax, qint32 AxisMin, int& N, double& V);

void DrawValueTable(double left, double top, double width, double height,
                    print::PrintSurface& surface, const values::PeriodValueStore& store,
                    const PageInputs& in, PageAxes* axes = nullptr);
void DrawGraph(double left, double top, double width, double height, print::PrintSurface& surface,
               const values::PeriodValueStore& store, const PageInputs& in);
void DrawPageHeader(double left, double top, double width, double height,
                    print::PrintSurface& surface, const values::PeriodValueStore& store,
                    const PageInputs& in);

// Text of the value table's cell of month j (1..12) and series s (1..6),
// as the page shows it.
QString ValueCellText(const values::PeriodValueStore& store, const PageInputs& in, int j, int s);
// The value table as the page shows it, as CSV (";" between fields, CRLF,
// fields quoted where needed): title and month names, then the six series.
QString ValueTableCsv(const values::PeriodValueStore& store, const PageInputs& in);

// The selection line of the header.
QString SelectionLine(const PageInputs& in);

// The whole redraw: derived values, then a new document with the value
// table, the graph and the header, in this order.
void Zeichnen(print::PrintSurface& surface, values::PeriodValueStore& store, const PageInputs& in,
              PageAxes* axes = nullptr);

} // namespace report

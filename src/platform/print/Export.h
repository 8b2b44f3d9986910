#pragma once

// The finished page as a file or on paper. Every target shows the whole
// A4 landscape page without margins: the report lays out its own.

#include "platform/print/DisplayList.h"

#include <QImage>
#include <QString>

class QPrinter;

namespace print {

// Pixel size of the page at a resolution (rounded to whole pixels).
QSize pageSizeAt(int dpi);

// White page at dpi (at least 1), dots-per-metre set accordingly.
QImage renderImage(const DisplayList& list, int dpi);

// The error texts are German: the headless tool shows them to the user.
bool writePdf(const DisplayList& list, const QString& file, QString* error = nullptr);
bool writePng(const DisplayList& list, const QString& file, int dpi, QString* error = nullptr);
// Coordinates in the file are twips (viewBox 0 0 16838 11906), the size
// 297 × 210 mm.
bool writeSvg(const DisplayList& list, const QString& file, QString* error = nullptr);

// Sets the printer to A4 landscape, full page, no margins, and prints the
// page as one document: one print job of one page. The printer's own copy
// count is reset to 1; copies are documents of their own.
void printDocument(const DisplayList& list, QPrinter& printer);

} // namespace print

#pragma once

// The finished page as a file or on paper. Every target shows the whole
// A4 landscape page without margins: the report lays out its own.

#include "platform/print/DisplayList.h"

#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QString>
#include <memory>

class QPdfWriter;
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

// A PDF of several pages, each drawn as it comes, so a long book does not
// hold its pages in memory. The file appears only with commit(): a book
// that is cancelled or fails leaves no half-written file.
class PdfBook {
public:
    explicit PdfBook(const QString& file);
    ~PdfBook();
    PdfBook(const PdfBook&) = delete;
    PdfBook& operator=(const PdfBook&) = delete;
    bool addPage(const DisplayList& page);
    bool commit(QString* error = nullptr);
    int pages() const { return pages_; }

private:
    QString name_;
    QSaveFile file_;
    std::unique_ptr<QPdfWriter> writer_;
    QPainter painter_;
    int pages_ = 0;
    bool failed_ = false;
};

// Sets the printer to A4 landscape, full page, no margins, and prints the
// page as one document: one print job of one page. The printer's own copy
// count is reset to 1; copies are documents of their own.
void printDocument(const DisplayList& list, QPrinter& printer);

} // namespace print

#include "platform/print/Export.h"

#include "platform/print/PainterRenderer.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

namespace print {

namespace {

// QImageWriter quality for PNG: 0 is the strongest compression, 100 none;
// 85 is zlib level 1, which keeps a mostly white page small and fast.
constexpr int kPngQuality = 85;

const QString kTitle = QStringLiteral("Tallvero");

void setError(QString* error, const QString& text) {
    if (error) *error = text;
}

QString cannotWrite(const QString& file) {
    return QStringLiteral("Die Datei „%1“ kann nicht geschrieben werden.")
        .arg(QDir::toNativeSeparators(file));
}

QPageLayout a4Landscape() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0),
                       QPageLayout::Millimeter);
}

bool fileWritten(const QString& file) {
    const QFileInfo info(file);
    return info.exists() && info.size() > 0;
}

} // namespace

QSize pageSizeAt(int dpi) {
    const double d = std::max(1, dpi);
    return {static_cast<int>(std::lround(PageWidthTwips / TwipsPerInch * d)),
            static_cast<int>(std::lround(PageHeightTwips / TwipsPerInch * d))};
}

QImage renderImage(const DisplayList& list, int dpi) {
    dpi = std::max(1, dpi);
    // A page has no transparency: without an alpha channel both drawing and
    // encoding are cheaper.
    QImage image(pageSizeAt(dpi), QImage::Format_RGB32);
    const int dotsPerMetre = static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    image.fill(Qt::white);
    QPainter painter(&image);
    const double scale = dpi / TwipsPerInch;
    PainterRenderer::render(list, painter,
                            QRectF(0, 0, PageWidthTwips * scale, PageHeightTwips * scale));
    painter.end();
    return image;
}

bool writePng(const DisplayList& list, const QString& file, int dpi, QString* error) {
    if (dpi < 1) {
        setError(error, QStringLiteral("Ungültige Auflösung %1 dpi.").arg(dpi));
        return false;
    }
    const QImage image = renderImage(list, dpi);
    QImageWriter writer(file, "PNG");
    // A lighter compression level: a page is mostly white, so the file
    // stays small, and encoding takes a fraction of the default's time.
    writer.setQuality(kPngQuality);
    if (!writer.write(image)) {
        setError(error, cannotWrite(file));
        return false;
    }
    return true;
}

bool writePdf(const DisplayList& list, const QString& file, QString* error) {
    QPdfWriter writer(file);
    writer.setTitle(kTitle);
    writer.setCreator(kTitle);
    writer.setResolution(1200);
    writer.setPageLayout(a4Landscape());
    QPainter painter;
    if (!painter.begin(&writer)) {
        setError(error, cannotWrite(file));
        return false;
    }
    PainterRenderer::render(list, painter, QRectF(0, 0, writer.width(), writer.height()));
    if (!painter.end() || !fileWritten(file)) {
        setError(error, cannotWrite(file));
        return false;
    }
    return true;
}

bool writeSvg(const DisplayList& list, const QString& file, QString* error) {
    QSvgGenerator generator;
    generator.setFileName(file);
    generator.setTitle(kTitle);
    // At 1440 dpi one SVG unit is one twip, and the page is 297 × 210 mm.
    generator.setResolution(static_cast<int>(TwipsPerInch));
    generator.setSize(QSize(static_cast<int>(PageWidthTwips), static_cast<int>(PageHeightTwips)));
    generator.setViewBox(QRectF(0, 0, PageWidthTwips, PageHeightTwips));
    QPainter painter;
    if (!painter.begin(&generator)) {
        setError(error, cannotWrite(file));
        return false;
    }
    painter.fillRect(QRectF(0, 0, PageWidthTwips, PageHeightTwips), Qt::white);
    // A viewer scales the page freely: lines below a 96-dpi pixel become
    // non-scaling hairlines so they stay visible at every zoom.
    PainterRenderer::render(list, painter, QRectF(0, 0, PageWidthTwips, PageHeightTwips),
                            TwipsPerInch / 96.0);
    if (!painter.end() || !fileWritten(file)) {
        setError(error, cannotWrite(file));
        return false;
    }
    return true;
}

PdfBook::PdfBook(const QString& file) : name_(file), file_(file) {}

PdfBook::~PdfBook() {
    if (painter_.isActive()) painter_.end();
    file_.cancelWriting();
}

bool PdfBook::addPage(const DisplayList& page) {
    if (failed_) return false;
    if (pages_ == 0) {
        if (!file_.open(QIODevice::WriteOnly)) return !(failed_ = true);
        writer_ = std::make_unique<QPdfWriter>(&file_);
        writer_->setTitle(kTitle);
        writer_->setCreator(kTitle);
        writer_->setResolution(1200);
        writer_->setPageLayout(a4Landscape());
        if (!painter_.begin(writer_.get())) return !(failed_ = true);
    } else if (!writer_->newPage()) {
        return !(failed_ = true);
    }
    PainterRenderer::render(page, painter_, QRectF(0, 0, writer_->width(), writer_->height()));
    ++pages_;
    return true;
}

bool PdfBook::commit(QString* error) {
    const bool ended = !painter_.isActive() || painter_.end();
    if (failed_ || pages_ == 0 || !ended || !file_.commit()) {
        file_.cancelWriting();
        setError(error, cannotWrite(name_));
        return false;
    }
    return true;
}

void printDocument(const DisplayList& list, QPrinter& printer) {
    // Full page after the layout: the layout carries the mode and would
    // reset it.
    printer.setPageLayout(a4Landscape());
    printer.setFullPage(true);
    // A copy count left over from the print dialog would multiply the
    // caller's passes.
    printer.setCopyCount(1);
    printer.setDocName(kTitle);
    QPainter painter;
    if (!painter.begin(&printer)) return;
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    PainterRenderer::render(list, painter, QRectF(0, 0, paper.width(), paper.height()));
    painter.end();
}

} // namespace print

#include "platform/print/PreviewWidget.h"

#include "platform/print/Export.h"
#include "platform/print/PainterRenderer.h"

#include <QAction>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace print {

namespace {

constexpr int kMargin = 16; // desk around the page, pixels
constexpr int kShadow = 5;  // offset of the page shadow
constexpr double kEpsilon = 0.01;
const QColor kDeskColour(128, 128, 128);
const QColor kShadowColour(64, 64, 64);

double clampZoom(double z) {
    return std::clamp(z, PreviewWidget::MinZoom, PreviewWidget::MaxZoom);
}

} // namespace

PreviewWidget::PreviewWidget(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::WheelFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);

    redrawAction_ = new QAction(QStringLiteral("Seite neu zeichnen"), this);
    connect(redrawAction_, &QAction::triggered, this, &PreviewWidget::requestRedraw);
    auto* zoomIn = new QAction(QStringLiteral("Vergrößern"), this);
    connect(zoomIn, &QAction::triggered, this, [this] { stepZoom(1); });
    auto* zoomOut = new QAction(QStringLiteral("Verkleinern"), this);
    connect(zoomOut, &QAction::triggered, this, [this] { stepZoom(-1); });
    auto* whole = new QAction(QStringLiteral("Ganze Seite"), this);
    connect(whole, &QAction::triggered, this, [this] { userZoomMode(ZoomWholePage); });
    auto* width = new QAction(QStringLiteral("Seitenbreite"), this);
    connect(width, &QAction::triggered, this, [this] { userZoomMode(ZoomPageWidth); });
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addActions({redrawAction_, separator, zoomIn, zoomOut, whole, width});
    setContextMenuPolicy(Qt::ActionsContextMenu);

    finishedHandle_ = surface_.onFinished([this] { pageFinished(); });
    reported_ = zoom();
}

PreviewWidget::~PreviewWidget() {
    surface_.removeFinishedCallback(finishedHandle_);
}

QSize PreviewWidget::sizeHint() const {
    return {800, 600};
}

const std::vector<double>& PreviewWidget::zoomSteps() {
    static const std::vector<double> steps{10,  25,  33,  50,  67,  75,  100, 125,
                                           150, 200, 300, 400, 600, 800, 1000};
    return steps;
}

QSizeF PreviewWidget::pagePixels(double percent) const {
    const double f = percent / 100.0 / TwipsPerInch;
    return {PageWidthTwips * f * logicalDpiX(), PageHeightTwips * f * logicalDpiY()};
}

double PreviewWidget::fitZoom(int mode) const {
    const QSize room = maximumViewportSize();
    const QSizeF full = pagePixels(100.0);
    double availW = room.width() - 2.0 * kMargin;
    const double availH = room.height() - 2.0 * kMargin;
    double z = 0.0;
    if (mode == ZoomPageWidth) {
        z = availW / full.width() * 100.0;
        // A page taller than the window brings the vertical scroll bar,
        // which takes its width from the room.
        if (full.height() * z / 100.0 + 2.0 * kMargin > room.height()) {
            availW -= verticalScrollBar()->sizeHint().width();
            z = availW / full.width() * 100.0;
        }
    } else {
        z = std::min(availW / full.width(), availH / full.height()) * 100.0;
    }
    // Rounded down so the fitted page never needs a scroll bar.
    return clampZoom(std::floor(z * 10.0) / 10.0);
}

double PreviewWidget::zoom() const {
    if (mode_ >= ZoomAllPages && mode_ <= ZoomPageWidth) return fitZoom(mode_);
    return percent_;
}

void PreviewWidget::setZoom(double percent) {
    if (!(percent > 0.0)) return;
    mode_ = ZoomPercent;
    percent_ = clampZoom(percent);
    reported_ = percent_;
    relayout();
}

void PreviewWidget::setZoomMode(int mode) {
    if (mode == ZoomPercent) {
        percent_ = zoom();
        mode_ = ZoomPercent;
    } else if (mode >= ZoomAllPages && mode <= ZoomPageWidth) {
        mode_ = mode;
    } else {
        return;
    }
    reported_ = zoom();
    relayout();
}

void PreviewWidget::reportIfChanged() {
    const double now = zoom();
    if (std::abs(now - reported_) > kEpsilon) {
        reported_ = now;
        emit zoomChanged();
    }
}

void PreviewWidget::stepZoom(int steps) {
    if (steps == 0) return;
    const std::vector<double>& table = zoomSteps();
    double z = zoom();
    for (int i = 0; i < std::abs(steps); ++i) {
        if (steps > 0) {
            auto it = std::find_if(table.begin(), table.end(),
                                   [z](double s) { return s > z + kEpsilon; });
            z = it == table.end() ? MaxZoom : *it;
        } else {
            auto it = std::find_if(table.rbegin(), table.rend(),
                                   [z](double s) { return s < z - kEpsilon; });
            z = it == table.rend() ? MinZoom : *it;
        }
    }
    mode_ = ZoomPercent;
    percent_ = clampZoom(z);
    relayout();
    reportIfChanged();
}

void PreviewWidget::userZoomMode(int mode) {
    mode_ = mode;
    relayout();
    reportIfChanged();
}

void PreviewWidget::requestRedraw() {
    emit redrawRequested();
}

void PreviewWidget::printDocument(QPrinter& printer) const {
    print::printDocument(page_, printer);
}

void PreviewWidget::pageFinished() {
    page_ = surface_.displayList();
    viewport()->update();
}

void PreviewWidget::relayout() {
    const QSizeF page = pagePixels(zoom());
    const int contentW = static_cast<int>(std::ceil(page.width())) + 2 * kMargin;
    const int contentH = static_cast<int>(std::ceil(page.height())) + 2 * kMargin;
    const QSize vp = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, contentW - vp.width()));
    horizontalScrollBar()->setPageStep(vp.width());
    verticalScrollBar()->setRange(0, std::max(0, contentH - vp.height()));
    verticalScrollBar()->setPageStep(vp.height());
    viewport()->update();
}

QRectF PreviewWidget::pageRect() const {
    const QSizeF page = pagePixels(zoom());
    const QSize vp = viewport()->size();
    auto origin = [](double pageLen, int viewLen, int scroll) {
        const double content = pageLen + 2.0 * kMargin;
        if (content <= viewLen) return std::floor((viewLen - pageLen) / 2.0);
        return static_cast<double>(kMargin - scroll);
    };
    return {origin(page.width(), vp.width(), horizontalScrollBar()->value()),
            origin(page.height(), vp.height(), verticalScrollBar()->value()), page.width(),
            page.height()};
}

void PreviewWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), kDeskColour);
    const QRectF page = pageRect();
    painter.fillRect(page.translated(kShadow, kShadow), kShadowColour);
    painter.fillRect(page, Qt::white);
    painter.setClipRect(page.intersected(QRectF(event->rect())));
    PainterRenderer::render(page_, painter, page);
}

void PreviewWidget::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
    if (mode_ != ZoomPercent) reportIfChanged();
}

void PreviewWidget::scrollContentsBy(int, int) {
    viewport()->update();
}

void PreviewWidget::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // Fine-grained wheels send small deltas; one step per notch of 120.
    wheelRest_ += event->angleDelta().y();
    const int steps = wheelRest_ / 120;
    wheelRest_ -= steps * 120;
    stepZoom(steps);
    event->accept();
}

void PreviewWidget::keyPressEvent(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (event->matches(QKeySequence::ZoomIn) ||
        (ctrl && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal))) {
        stepZoom(1);
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::ZoomOut) || (ctrl && event->key() == Qt::Key_Minus)) {
        stepZoom(-1);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

} // namespace print

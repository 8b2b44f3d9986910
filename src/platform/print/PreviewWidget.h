#pragma once

// The on-screen print preview: the finished page of its own recording
// surface on a grey desk, with a shadow, zoomable and scrollable.
//
// With one page per document, zoom modes 1 (all pages) and 2 (two pages)
// show the page like 3 (whole page); zoomMode() still reports the mode
// that was set. Modes 3 and 4 follow the widget's size.
//
// Notifications:
// - redrawRequested(): the page must be drawn again (and the zoom box
//   synchronised afterwards). Raised when the user picks "Seite neu
//   zeichnen" in the preview's context menu, or through requestRedraw().
// - zoomChanged(): the preview changed its zoom by itself: Ctrl+wheel,
//   Ctrl+plus/minus, the zoom entries of the context menu, or a resize that
//   changes the effective percentage in modes 1–4. setZoom() and
//   setZoomMode() never raise it, so a caller that synchronises its zoom
//   box in response cannot loop.

#include "platform/print/DisplayList.h"
#include "platform/print/RecordingSurface.h"

#include <QAbstractScrollArea>
#include <vector>

class QAction;
class QPrinter;

namespace print {

class PreviewWidget : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr double MinZoom = 10.0;
    static constexpr double MaxZoom = 1000.0;

    explicit PreviewWidget(QWidget* parent = nullptr);
    ~PreviewWidget() override;

    // The surface the report draws on; the preview shows its page at each
    // EndDocument.
    RecordingSurface& surface() { return surface_; }
    const RecordingSurface& surface() const { return surface_; }
    // The page on screen: the last finished one, also while a new one is
    // being drawn.
    const DisplayList& shownPage() const { return page_; }

    // Percent of the page's real size (at the screen's logical dpi). In
    // modes 1–4 it is the percentage the fit gives, rounded down to 0.1.
    double zoom() const;
    // Switches to a fixed percentage (clamped to MinZoom … MaxZoom;
    // values <= 0 are ignored).
    void setZoom(double percent);
    int zoomMode() const { return mode_; }
    // 1–4 fit the page; 0 keeps the current percentage fixed; other values
    // are ignored.
    void setZoomMode(int mode);

    // Ctrl+wheel and Ctrl+plus/minus move along these percentages.
    static const std::vector<double>& zoomSteps();

    // Sends the shown page to the printer as one print job.
    void printDocument(QPrinter& printer) const;

    QAction* redrawAction() const { return redrawAction_; }

    // The page rectangle in viewport coordinates.
    QRectF pageRect() const;

    QSize sizeHint() const override;

public slots:
    void requestRedraw();

signals:
    void redrawRequested();
    void zoomChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void pageFinished();
    double fitZoom(int mode) const;
    QSizeF pagePixels(double percent) const;
    void relayout();
    // A zoom change the preview makes on its own: reported by zoomChanged.
    void stepZoom(int steps);
    void userZoomMode(int mode);
    void reportIfChanged();

    RecordingSurface surface_;
    int finishedHandle_ = 0;
    DisplayList page_;
    int mode_ = ZoomWholePage;
    double percent_ = 100.0;
    double reported_ = 0.0;
    int wheelRest_ = 0;
    QAction* redrawAction_ = nullptr;
};

} // namespace print

#pragma once

// The print surface of the client: it keeps the current settings and
// records every operation into a display list, which the preview, the
// printer and the exports then draw. Nothing is rasterised here.
//
// Operations after EndDocument without a new BeginDocument continue the
// same page; the page counts as unfinished until the next EndDocument.

#include "platform/print/DisplayList.h"
#include "platform/print/PrintSurface.h"

#include <functional>
#include <map>

namespace print {

class RecordingSurface : public PrintSurface {
public:
    using Callback = std::function<void()>;

    RecordingSurface() = default;
    // The callbacks usually capture their owner; a copy would call into it.
    RecordingSurface(const RecordingSurface&) = delete;
    RecordingSurface& operator=(const RecordingSurface&) = delete;

    void setFontFace(const QString& face) override { state_.fontFace = face; }
    void setFontPoints(double points) override { state_.fontPoints = points; }
    void setTextColour(quint32 colorref) override { state_.textColour = colorref; }
    void setTextAlignment(int align) override { state_.align = align; }
    void setTextRotation(int tenths) override { state_.rotation = tenths; }
    void setPenColor(quint32 colorref) override { state_.penColour = colorref; }
    void setPenStyle(int style) override { state_.penStyle = style; }
    void setPenWidth(double twips) override { state_.penWidth = twips < 0 ? 0.0 : twips; }
    void setBrushColor(quint32 colorref) override { state_.brushColour = colorref; }
    void setBrushStyle(int style) override { state_.brushStyle = style; }

    QString fontFace() const override { return state_.fontFace; }
    double fontPoints() const override { return state_.fontPoints; }
    int textRotation() const override { return state_.rotation; }

    void BeginDocument() override;
    void DrawTextInBox(const QString& text, double left, double top, double width, double height,
                       bool wrap, bool shaded) override;
    void DrawLine(double x1, double y1, double x2, double y2) override;
    void DrawRectangle(double x1, double y1, double x2, double y2) override;
    void DrawCircle(double x, double y, double radius) override;
    // Measured unrotated with the font the renderer draws with.
    double TextWidth(const QString& text) const override;
    double TextHeight(const QString& text) const override;
    // Tells the listeners again when the page is finished (the preview
    // repaints); while a page is being drawn it does nothing.
    void Refresh() override;
    void EndDocument() override;

    // All settings at once (what the next operation is drawn with).
    const DrawState& state() const { return state_; }
    const DisplayList& displayList() const { return ops_; }
    bool finished() const { return finished_; }
    // Counts EndDocument calls; lets a viewer tell pages apart.
    int documentCount() const { return documents_; }

    static constexpr double pageWidth() { return PageWidthTwips; }
    static constexpr double pageHeight() { return PageHeightTwips; }

    // Called after every EndDocument (and Refresh of a finished page).
    // Returns a handle for removeFinishedCallback.
    int onFinished(Callback callback);
    void removeFinishedCallback(int handle);

private:
    void notify();
    Op makeOp(OpKind kind) const;

    DrawState state_;
    DisplayList ops_;
    bool finished_ = false;
    int documents_ = 0;
    int nextHandle_ = 1;
    std::map<int, Callback> callbacks_;
};

} // namespace print

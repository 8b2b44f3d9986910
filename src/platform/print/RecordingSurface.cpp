#include "platform/print/RecordingSurface.h"

#include "platform/print/PainterRenderer.h"

#include <algorithm>
#include <cmath>

namespace print {

Op RecordingSurface::makeOp(OpKind kind) const {
    Op op;
    op.kind = kind;
    op.state = state_;
    return op;
}

void RecordingSurface::BeginDocument() {
    ops_.clear();
    finished_ = false;
}

void RecordingSurface::DrawTextInBox(const QString& text, double left, double top, double width,
                                     double height, bool wrap, bool shaded) {
    Op op = makeOp(OpKind::Text);
    op.text = text;
    op.x = left;
    op.y = top;
    op.w = width;
    op.h = height;
    op.wrap = wrap;
    op.shaded = shaded;
    ops_.push_back(std::move(op));
    finished_ = false;
}

void RecordingSurface::DrawLine(double x1, double y1, double x2, double y2) {
    Op op = makeOp(OpKind::Line);
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    ops_.push_back(std::move(op));
    finished_ = false;
}

void RecordingSurface::DrawRectangle(double x1, double y1, double x2, double y2) {
    Op op = makeOp(OpKind::Rect);
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.x = std::min(x1, x2);
    op.y = std::min(y1, y2);
    op.w = std::abs(x2 - x1);
    op.h = std::abs(y2 - y1);
    ops_.push_back(std::move(op));
    finished_ = false;
}

void RecordingSurface::DrawCircle(double x, double y, double radius) {
    Op op = makeOp(OpKind::Circle);
    op.x = x;
    op.y = y;
    op.r = std::abs(radius);
    ops_.push_back(std::move(op));
    finished_ = false;
}

double RecordingSurface::TextWidth(const QString& text) const {
    return measureText(text, state_.fontFace, state_.fontPoints).width();
}

double RecordingSurface::TextHeight(const QString& text) const {
    return measureText(text, state_.fontFace, state_.fontPoints).height();
}

void RecordingSurface::Refresh() {
    if (finished_) notify();
}

void RecordingSurface::EndDocument() {
    finished_ = true;
    ++documents_;
    notify();
}

int RecordingSurface::onFinished(Callback callback) {
    const int handle = nextHandle_++;
    callbacks_.emplace(handle, std::move(callback));
    return handle;
}

void RecordingSurface::removeFinishedCallback(int handle) {
    callbacks_.erase(handle);
}

void RecordingSurface::notify() {
    // A copy: a callback may remove itself.
    const auto callbacks = callbacks_;
    for (const auto& [handle, cb] : callbacks)
        if (cb) cb();
}

} // namespace print

#pragma once

// A combo box as a selection list: choosing from code runs the handler
// that a choice by the user runs.

#include "Selection.h"

#include <QComboBox>

namespace mw {

class ComboList : public SelectionList {
public:
    explicit ComboList(QComboBox* box, std::function<void()> handler = {})
        : box_(box), handler_(std::move(handler)) {}
    void clear() override { box_->clear(); }
    void add(const QString& text) override {
        // A combo box chooses the first entry added to an empty list.
        const int current = box_->currentIndex();
        box_->addItem(text);
        box_->setCurrentIndex(current);
    }
    QStringList items() const override {
        QStringList out;
        for (int i = 0; i < box_->count(); ++i)
            out << box_->itemText(i);
        return out;
    }
    QString currentText() const override { return box_->currentText(); }
    int currentIndex() const override { return box_->currentIndex(); }
    void setCurrentIndex(int index) override {
        box_->setCurrentIndex(index);
        if (handler_) handler_();
    }
    void assign(const QStringList& items, int current) override {
        // The handlers answer `activated`, which only a user's choice sends.
        box_->clear();
        box_->addItems(items);
        box_->setCurrentIndex(current);
    }
    QComboBox* box() const { return box_; }

private:
    QComboBox* box_;
    std::function<void()> handler_;
};

} // namespace mw

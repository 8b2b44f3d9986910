#include "ReportBook.h"

#include "platform/clock/Clock.h"
#include "platform/print/RecordingSurface.h"

namespace mw {

namespace {

// The period query reads the lists of the book's selection.
class BookHost : public retrieval::PeriodQueryHost {
public:
    BookHost(const SelectionController& sel, const BookSettings& s) : sel_(sel), s_(s) {}
    retrieval::Selection readSelection() override {
        retrieval::Selection r = sel_.selection();
        r.extended = s_.extended;
        if (r.extended) {
            r.styp = s_.styp;
            r.vart = s_.vart;
        }
        return r;
    }
    bool departmentChosen() const override { return sel_.departmentChosen(); }
    // The book draws after it has looked at the figures: a page without any
    // is not drawn at all.
    void redraw() override {}

private:
    const SelectionController& sel_;
    const BookSettings& s_;
};

} // namespace

QString levelName(retrieval::GroupLevel level) {
    switch (level) {
    case retrieval::GroupLevel::Pc:
        return QStringLiteral("PC");
    case retrieval::GroupLevel::Habt:
        return QStringLiteral("HABT");
    case retrieval::GroupLevel::Abt:
        return QStringLiteral("ABT");
    case retrieval::GroupLevel::Hgrp:
        return QStringLiteral("HG");
    case retrieval::GroupLevel::Ugrp:
        return QStringLiteral("UG");
    case retrieval::GroupLevel::None:
        break;
    }
    return {};
}

bool withoutFigures(const values::PeriodValueStore& store) {
    const values::Table& P = store.PeriodValues;
    if (!P.hasCells()) return true;
    for (int slot = P.firstRow(); slot <= P.lastRow(); ++slot)
        for (int m = P.firstColumn(); m <= P.lastColumn(); ++m)
            if (P(slot, m).value() != 0.0) return false;
    return true;
}

void setListTexts(report::PageInputs& in, const SelectionLists& l) {
    in.SPCNR = l.SPCNR.currentText();
    in.SHABT = l.SHABT.currentText();
    in.SABTNR = l.SABTNR.currentText();
    in.SHGRP = l.SHGRP.currentText();
    in.SUGRP = l.SUGRP.currentText();
    in.SPG = l.SPG.currentText();
    in.SHVArt = l.SHVArt.currentText();
}

report::PageInputs bookPageInputs(const SelectionController& sel, const report::PageInputs& base) {
    report::PageInputs in = base;
    in.SFirma = sel.company();
    setListTexts(in, sel.lists());
    return in;
}

BookOutcome runBook(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                    SelectionController& sel, values::PeriodValueStore& store,
                    const BookSettings& s, BookSink& sink) {
    BookOutcome out;
    // The list as it stands for the selection; choosing its entries may
    // refill others, so every page starts from the selection again.
    const QStringList entries = sel.choosableEntries(s.each);
    const SelectionState base = sel.state();
    SelectionList* list = sel.listOf(s.each);
    BookHost host(sel, s);
    struct Restore {
        SelectionController& sel;
        const SelectionState& base;
        ~Restore() { sel.restore(base); }
    } restore{sel, base};

    const int total = 1 + int(entries.size());
    for (int n = 0; n < total; ++n) {
        const QString entry = n == 0 ? QString() : entries[n - 1];
        out.entry = entry;
        if (!sink.progress(n + 1, total, entry)) {
            out.result = BookOutcome::Result::Cancelled;
            return out;
        }
        if (n > 0) {
            out.entries = n;
            sel.restore(base);
            if (!chooseCode(*list, codeOf(entry))) {
                out.refused << entry;
                sink.leftOut(entry, true);
                continue;
            }
        }
        // One fetch per page; it says whether the entry has any figure.
        out.fetch = retrieval::runPeriodQuery(session, ui, clock, store, host);
        if (out.fetch.result == retrieval::FetchResult::Failed) {
            out.result = BookOutcome::Result::Failed;
            return out;
        }
        if (out.fetch.result == retrieval::FetchResult::Refused) {
            if (n == 0) {
                out.result = BookOutcome::Result::Refused;
                return out;
            }
            out.refused << entry;
            sink.leftOut(entry, true);
            continue;
        }
        if (n > 0 && withoutFigures(store)) {
            out.withoutFigures << entry;
            sink.leftOut(entry, false);
            continue;
        }
        report::PageInputs in = bookPageInputs(sel, s.page);
        in.now = clock.now();
        print::RecordingSurface surface;
        report::Zeichnen(surface, store, in);
        if (!sink.page(surface.displayList())) {
            out.result = BookOutcome::Result::NotKept;
            return out;
        }
        ++out.pages;
    }
    out.entry.clear();
    return out;
}

} // namespace mw

#pragma once

// The report book: the page of a selection, then one page for each entry
// of one of its lists. Every entry is chosen in the lists as a user would
// choose it (its handler runs with the cascade and the rules), fetched by
// the period query and drawn by the one redraw, so each page is the page
// the main window shows with that entry chosen. The book works on lists in
// memory and a value store of its own: the report tool's, or a copy of the
// main window's, which the screen never sees.

#include "Selection.h"
#include "platform/print/DisplayList.h"
#include "report/Page.h"
#include "retrieval/PeriodQuery.h"

namespace platform {
class Clock;
}

namespace mw {

struct BookSettings {
    // The list whose entries get a page each.
    retrieval::GroupLevel each = retrieval::GroupLevel::Habt;
    // The extended selection, the same on every page.
    bool extended = false;
    QString styp, vart;
    // What every page shows besides the company field and the seven lists:
    // the extended lists' texts, the ticks, the user.
    report::PageInputs page;
};

// Where the pages go, and who may stop the book.
class BookSink {
public:
    virtual ~BookSink() = default;
    // Before page `n` of at most `total`; `entry` is the list entry, empty
    // for the page of the selection (n = 1). False stops the book.
    virtual bool progress(int n, int total, const QString& entry) = 0;
    // A finished page; false when it could not be kept (the book fails).
    virtual bool page(const print::DisplayList& page) = 0;
    // An entry without a page: no figure in the six years, or refused by
    // the lists' rules.
    virtual void leftOut(const QString& /*entry*/, bool /*refused*/) {}
};

struct BookOutcome {
    enum class Result { Done, Refused, Failed, Cancelled, NotKept };
    Result result = Result::Done;
    int pages = 0;
    int entries = 0; // entries of the list gone through
    QStringList withoutFigures, refused;
    retrieval::FetchOutcome fetch; // the last fetch (the failed or refused one)
    QString entry;                 // the entry the book stopped at
};

// The short name of a level as the page header writes it ("HABT").
QString levelName(retrieval::GroupLevel level);

// Every fetched month of the store is empty or 0.
bool withoutFigures(const values::PeriodValueStore& store);

// The seven lists' texts into the page inputs, as the lists hold them now.
void setListTexts(report::PageInputs& in, const SelectionLists& lists);

// The page inputs of the selection as the lists hold it now.
report::PageInputs bookPageInputs(const SelectionController& selection,
                                  const report::PageInputs& base);

// Runs the book on `selection` (its current choices are the book's
// selection) into `store`; the lists are back at that selection afterwards.
BookOutcome runBook(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                    SelectionController& selection, values::PeriodValueStore& store,
                    const BookSettings& settings, BookSink& sink);

} // namespace mw

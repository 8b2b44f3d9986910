#pragma once

// The selection of the main window without its widgets: the seven lists
// behind a small list interface, how they refill each other from the
// server, the department rules of a restricted user, the company field,
// DepartmentChosen and SelectionChanged, and the options of the details
// pane. The main window drives it through its combo boxes, the report
// tool and the report book through lists in memory; the period and detail
// queries read what it holds.

#include "Rules.h"
#include "retrieval/DetailQuery.h"

#include <QStringList>
#include <functional>

namespace platform {
class Ui;
}
namespace srv {
class Session;
}
namespace values {
struct PeriodValueStore;
}

namespace mw {

// A drop-down list of "code text" entries.
class SelectionList {
public:
    virtual ~SelectionList() = default;
    // No entries and none chosen; runs no handler.
    virtual void clear() = 0;
    // Appends an entry; the chosen entry stays as it is.
    virtual void add(const QString& text) = 0;
    virtual QStringList items() const = 0;
    virtual QString currentText() const = 0;
    virtual int currentIndex() const = 0;
    // Chooses entry `index` (-1: none) and runs the list's handler at once,
    // before returning, as a choice by the user does.
    virtual void setCurrentIndex(int index) = 0;
    // Puts entries and the chosen one back as they were before; runs no
    // handler, since nothing is chosen: an earlier state returns.
    virtual void assign(const QStringList& items, int current) = 0;
};

class MemoryList : public SelectionList {
public:
    void clear() override;
    void add(const QString& text) override { items_ << text; }
    QStringList items() const override { return items_; }
    QString currentText() const override { return items_.value(current_); }
    int currentIndex() const override { return current_; }
    void setCurrentIndex(int index) override;
    void assign(const QStringList& items, int current) override;
    // The list's handler.
    std::function<void()> onChoose;

private:
    QStringList items_;
    int current_ = -1;
};

// The code of an entry: its first blank-delimited word.
QString codeOf(const QString& entry);
// Chooses the entry whose code is `code` (a code the list lacks is added
// bare first). True when the list shows that code afterwards, false when
// its handler refused it.
bool chooseCode(SelectionList& list, const QString& code);

// Refilling a list: empty it, add the empty entry, then one entry per value
// or row. False when the server failed; that is reported with the access
// error report and the list keeps what arrived.
bool fillFromRoutine(srv::Session& session, SelectionList& list, const QString& routine);
bool fillFromQuery(srv::Session& session, SelectionList& list, const QString& query,
                   const QStringList& args, bool addEmpty = true);
// The lists of the extended selection: the article types with "A Alle"
// chosen, and the shipping types of a main shipping type.
void fillArticleTypes(SelectionList& styp);
bool fillShippingTypes(srv::Session& session, SelectionList& vart, const QString& company,
                       const QString& mainShippingCode);

struct SelectionLists {
    SelectionList& SPCNR;
    SelectionList& SHABT;
    SelectionList& SABTNR;
    SelectionList& SHGRP;
    SelectionList& SUGRP;
    SelectionList& SPG;
    SelectionList& SHVArt;
};

// The seven lists' entries and choices and the flags that follow them, to
// go back to: before a drill-down, for the pages of a report book.
struct SelectionState {
    QStringList items[7];
    int current[7] = {-1, -1, -1, -1, -1, -1, -1};
    QString company;
    bool departmentChosen = false;
    bool selectionChanged = false;
    bool operator==(const SelectionState&) const = default;
};

class SelectionController {
public:
    SelectionController(srv::Session& session, platform::Ui& ui, values::PeriodValueStore& store,
                        SelectionLists lists);

    // Start-up: the sub groups emptied, the master lists filled, each
    // preceded by its status text. False when a list could not be read.
    bool fillLists(const std::function<void(const QString&)>& status = {});
    void setPermission(int level) { level_ = level; }
    int permissionLevel() const { return level_; }
    bool restricted() const { return level_ == kRestrictedLevel; }

    // --- the handlers ------------------------------------------------------
    void SHABT_Click();
    void SABTNR_Click();
    void SPCNR_Click();
    void SHGRP_Click();
    void SUGRP_Click() { changed(); }
    void SPG_Click() { changed(); }
    void SHVArt_Click() { changed(); }
    void SFirma_Change(const QString& text);
    // A split box was ticked or unticked. Answers the value of the other
    // exclusive box when it must be unticked now (its own click then takes
    // its value off), else 0.
    int splitClicked(int value, bool ticked);
    void optJahr_Click(int index) { YearChoice = index; }
    void optJahrMonat_Click(int index);
    bool monthFieldEnabled() const { return PeriodKind == 1; }
    bool thirdYearEnabled() const { return PeriodKind == 0; }

    // --- what the queries read ---------------------------------------------
    // The company field and the codes of the seven lists (no extended part).
    retrieval::Selection selection() const;
    QString company() const { return company_; }
    bool departmentChosen() const { return DepartmentChosen; }
    // The codes of the list of a grouping level, in its order; a restricted
    // user's foreign departments left out.
    QStringList groupCodes(retrieval::GroupLevel level) const;
    // The list of a level (nullptr for GroupLevel::None).
    SelectionList* listOf(retrieval::GroupLevel level) const;
    // May the user choose `code` in the list of `level`? The rules of the
    // handlers and the lists a restricted user cannot use at all.
    bool mayChoose(retrieval::GroupLevel level, const QString& code) const;
    // The entries of a level's list that the user may choose, in its order,
    // without the empty entry.
    QStringList choosableEntries(retrieval::GroupLevel level) const;
    const SelectionLists& lists() const { return l_; }

    SelectionState state() const;
    // Back to a state: lists, chosen entries, company field and flags; no
    // handler runs.
    void restore(const SelectionState& state);
    // Lists whose refill failed since the start-up fill.
    int failedFills() const { return failedFills_; }

    bool DepartmentChosen = false;
    int SplitMask = kSplitUGRP + kSplitHKGRP;
    int YearChoice = 0;
    int PeriodKind = 0;

private:
    void changed();
    void refuse(const QString& text, SelectionList& list);
    void refill(bool answered) { failedFills_ += answered ? 0 : 1; }

    srv::Session& s_;
    platform::Ui& ui_;
    values::PeriodValueStore& store_;
    SelectionLists l_;
    QString company_;
    int level_ = 0;
    int failedFills_ = 0;
};

// Seven lists in memory with their controller: the selection of the
// report tool and the report book.
struct MemorySelection {
    MemorySelection(srv::Session& session, platform::Ui& ui, values::PeriodValueStore& store);
    MemoryList SPCNR, SHABT, SABTNR, SHGRP, SUGRP, SPG, SHVArt;
    SelectionController controller;
};

} // namespace mw

#include "Selection.h"

#include "Startup.h"
#include "platform/ui/Ui.h"
#include "server/Session.h"
#include "server/Text.h"
#include "values/ValueStore.h"

namespace mw {

namespace {

const QString kDaten = QStringLiteral("ZKUmsatz.Daten");
const QString kAllDepartments = QStringLiteral("d ABTNR^ZKCLSU");

void emptyList(SelectionList& list, bool withEmptyEntry) {
    list.clear();
    if (withEmptyEntry) list.add(QString());
}

QString code(const SelectionList& list) {
    return codeOf(list.currentText());
}

} // namespace

void MemoryList::clear() {
    items_.clear();
    current_ = -1;
}

void MemoryList::setCurrentIndex(int index) {
    current_ = index >= 0 && index < items_.size() ? index : -1;
    if (onChoose) onChoose();
}

void MemoryList::assign(const QStringList& items, int current) {
    items_ = items;
    current_ = current >= 0 && current < items_.size() ? current : -1;
}

QString codeOf(const QString& entry) {
    return srv::Piece(entry, QChar(' '), 1);
}

bool chooseCode(SelectionList& list, const QString& code) {
    QStringList items = list.items();
    qsizetype i = 0;
    while (i < items.size() && codeOf(items[i]) != code)
        ++i;
    if (i == items.size()) list.add(code);
    list.setCurrentIndex(int(i));
    return codeOf(list.currentText()) == code;
}

bool fillFromRoutine(srv::Session& session, SelectionList& list, const QString& routine) {
    emptyList(list, true);
    QStringList values;
    bool failed = false;
    const std::optional<int> n =
        session.DBCallD(routine, QString(QChar(srv::Session::kRowSeparator)), values, failed);
    for (int i = 1; n && i <= *n; ++i) {
        const QString& v = values.value(i);
        list.add(srv::Piece(v, QChar('`'), 1) + QLatin1Char(' ') + srv::Piece(v, QChar('`'), 2));
    }
    return !failed;
}

bool fillFromQuery(srv::Session& session, SelectionList& list, const QString& query,
                   const QStringList& args, bool addEmpty) {
    emptyList(list, addEmpty);
    std::unique_ptr<cache::CacheQuery> q;
    try {
        // Inside: the bracket may have to reconnect, and that can fail too.
        session.DBBegin(false);
        q = session.factory()->query(kDaten, query);
        q->execute(args);
        while (q->next())
            list.add(q->column(1) + QLatin1Char(' ') +
                     srv::ConvertText(q->column(2), QStringLiteral("ZORVEK")));
    } catch (const cache::CacheError& e) {
        // The list keeps what arrived; the user sees why it is short. The
        // report ends the bracket.
        session.CacheClose(q);
        session.ShowAccessError(QStringLiteral("Abfrage ") + query, e);
        return false;
    }
    session.CacheClose(q);
    session.DBEnd(false);
    return true;
}

void fillArticleTypes(SelectionList& styp) {
    emptyList(styp, false);
    for (const char* t : {"A Alle", "L Lager Artikel", "B Bestell Artikel", "W Wert Artikel"})
        styp.add(QString::fromUtf8(t));
    styp.setCurrentIndex(0);
}

bool fillShippingTypes(srv::Session& session, SelectionList& vart, const QString& company,
                       const QString& mainShippingCode) {
    return fillFromQuery(session, vart, QStringLiteral("Versandarten"),
                         {company, mainShippingCode});
}

// --- the controller -----------------------------------------------------------

SelectionController::SelectionController(srv::Session& session, platform::Ui& ui,
                                         values::PeriodValueStore& store, SelectionLists lists)
    : s_(session), ui_(ui), store_(store), l_(lists) {}

bool SelectionController::fillLists(const std::function<void(const QString&)>& status) {
    auto say = [&](const char* text) {
        if (status) status(QString::fromUtf8(text));
    };
    failedFills_ = 0;
    emptyList(l_.SUGRP, false);
    say("Hauptgruppen lesen ..");
    refill(fillFromRoutine(s_, l_.SHGRP, QStringLiteral("d HGRP^ZKCLSU")));
    say("Abteilung lesen ..");
    refill(fillFromRoutine(s_, l_.SABTNR, kAllDepartments));
    say("Profitcenter lesen ..");
    refill(fillFromQuery(s_, l_.SPCNR, QStringLiteral("Profitcenter"), {}));
    say("Hauptabteilung lesen ..");
    refill(fillFromRoutine(s_, l_.SHABT, QStringLiteral("d HABT^ZKCLSU")));
    say("Hauptkundengruppe lesen ..");
    emptyList(l_.SPG, true);
    l_.SPG.add(QStringLiteral("P Privat"));
    l_.SPG.add(QStringLiteral("G Gewerbe"));
    say("Hauptversandart lesen ..");
    emptyList(l_.SHVArt, true);
    l_.SHVArt.add(QStringLiteral("L Lager"));
    l_.SHVArt.add(QStringLiteral("S Strecke"));
    // Nothing is chosen in fresh lists.
    DepartmentChosen = false;
    return failedFills_ == 0;
}

void SelectionController::changed() {
    store_.SelectionChanged = true;
}

void SelectionController::refuse(const QString& text, SelectionList& list) {
    ui_.message(QStringLiteral("Fehlermeldung"), text, platform::MsgIcon::None,
                platform::MsgButtons::Ok);
    // Back to the empty entry, whose handler undoes what the choice did.
    list.setCurrentIndex(int(list.items().indexOf(QString())));
}

void SelectionController::SHABT_Click() {
    if (l_.SHABT.currentText().isEmpty()) {
        refill(fillFromRoutine(s_, l_.SABTNR, kAllDepartments));
        DepartmentChosen = false;
        return;
    }
    DepartmentChosen = true;
    const QString habt = code(l_.SHABT);
    refill(fillFromQuery(s_, l_.SABTNR, QStringLiteral("AbtInHAbt"),
                         {srv::userContext().Firma, habt}));
    if (!mayChoose(retrieval::GroupLevel::Habt, habt))
        return refuse(QStringLiteral("Sie dürfen nur Ihre eigene Hauptabteilung selektieren."),
                      l_.SHABT);
    changed();
}

void SelectionController::SABTNR_Click() {
    if (l_.SABTNR.currentText().isEmpty()) {
        DepartmentChosen = false;
        return;
    }
    DepartmentChosen = true;
    // A refused department does not stay on screen: it would show a choice
    // that F5 and the details must not fetch.
    if (!mayChoose(retrieval::GroupLevel::Abt, code(l_.SABTNR)))
        return refuse(QStringLiteral("Sie dürfen nur Ihre eigene Abteilung selektieren."),
                      l_.SABTNR);
    changed();
}

void SelectionController::SPCNR_Click() {
    if (l_.SPCNR.currentText().isEmpty()) {
        refill(fillFromRoutine(s_, l_.SHABT, QStringLiteral("d HABT^ZKCLSU")));
    } else {
        emptyList(l_.SHABT, true);
        emptyList(l_.SABTNR, true);
        const QString pc = code(l_.SPCNR);
        const QString firma = srv::userContext().Firma;
        refill(fillFromQuery(s_, l_.SHABT, QStringLiteral("HAbtInPC"), {firma, pc}));
        refill(fillFromQuery(s_, l_.SABTNR, QStringLiteral("AbtInPC"), {firma, pc}));
    }
    changed();
}

void SelectionController::SHGRP_Click() {
    const QString hg = code(l_.SHGRP);
    if (hg.isEmpty()) {
        emptyList(l_.SUGRP, false);
        return;
    }
    refill(fillFromRoutine(s_, l_.SUGRP, srv::Session::subGroupLine(hg)));
    changed();
}

void SelectionController::SFirma_Change(const QString& text) {
    company_ = text;
    changed();
}

int SelectionController::splitClicked(int value, bool ticked) {
    SplitMask += ticked ? value : -value;
    if (!ticked || value == kSplitUGRP) return 0;
    const int other = value == kSplitHKGRP ? kSplitHVArt : kSplitHKGRP;
    return (SplitMask & other) ? other : 0;
}

void SelectionController::optJahrMonat_Click(int index) {
    if (index == 1 && YearChoice == 2) optJahr_Click(0);
    PeriodKind = index;
}

retrieval::Selection SelectionController::selection() const {
    retrieval::Selection sel;
    sel.firma = company_;
    sel.hgrp = code(l_.SHGRP);
    sel.ugrp = code(l_.SUGRP);
    sel.pc = code(l_.SPCNR);
    sel.habt = code(l_.SHABT);
    sel.abt = code(l_.SABTNR);
    sel.pg = code(l_.SPG);
    sel.hvart = code(l_.SHVArt);
    return sel;
}

SelectionList* SelectionController::listOf(retrieval::GroupLevel level) const {
    using retrieval::GroupLevel;
    return level == GroupLevel::Pc     ? &l_.SPCNR
           : level == GroupLevel::Habt ? &l_.SHABT
           : level == GroupLevel::Abt  ? &l_.SABTNR
           : level == GroupLevel::Hgrp ? &l_.SHGRP
           : level == GroupLevel::Ugrp ? &l_.SUGRP
                                       : nullptr;
}

bool SelectionController::mayChoose(retrieval::GroupLevel level, const QString& code) const {
    if (!restricted() || code.isEmpty()) return true;
    switch (level) {
    case retrieval::GroupLevel::Pc:
        return allowedFor(level_).profitCentres;
    case retrieval::GroupLevel::Habt:
        return srv::userContext().HauptAbteilung == code;
    case retrieval::GroupLevel::Abt:
        return departmentAllowed(srv::userContext().Abteilung, code);
    default:
        return true;
    }
}

QStringList SelectionController::groupCodes(retrieval::GroupLevel level) const {
    const SelectionList* list = listOf(level);
    if (!list) return {QString()};
    QStringList codes;
    for (const QString& entry : list->items()) {
        const QString c = codeOf(entry);
        // A restricted user's own main department lists foreign departments
        // too; their rows would show what the user may not choose.
        if (level == retrieval::GroupLevel::Abt && !mayChoose(level, c)) continue;
        codes << c;
    }
    return codes;
}

QStringList SelectionController::choosableEntries(retrieval::GroupLevel level) const {
    QStringList out;
    if (const SelectionList* list = listOf(level))
        for (const QString& entry : list->items())
            if (!entry.isEmpty() && mayChoose(level, codeOf(entry))) out << entry;
    return out;
}

SelectionState SelectionController::state() const {
    SelectionState st;
    const SelectionList* all[] = {&l_.SPCNR, &l_.SHABT, &l_.SABTNR, &l_.SHGRP,
                                  &l_.SUGRP, &l_.SPG,   &l_.SHVArt};
    for (int i = 0; i < 7; ++i) {
        st.items[i] = all[i]->items();
        st.current[i] = all[i]->currentIndex();
    }
    st.company = company_;
    st.departmentChosen = DepartmentChosen;
    st.selectionChanged = store_.SelectionChanged;
    return st;
}

void SelectionController::restore(const SelectionState& st) {
    SelectionList* all[] = {&l_.SPCNR, &l_.SHABT, &l_.SABTNR, &l_.SHGRP,
                            &l_.SUGRP, &l_.SPG,   &l_.SHVArt};
    for (int i = 0; i < 7; ++i)
        all[i]->assign(st.items[i], st.current[i]);
    company_ = st.company;
    DepartmentChosen = st.departmentChosen;
    store_.SelectionChanged = st.selectionChanged;
}

MemorySelection::MemorySelection(srv::Session& session, platform::Ui& ui,
                                 values::PeriodValueStore& store)
    : controller(session, ui, store, {SPCNR, SHABT, SABTNR, SHGRP, SUGRP, SPG, SHVArt}) {
    SelectionController& c = controller;
    SPCNR.onChoose = [&c] { c.SPCNR_Click(); };
    SHABT.onChoose = [&c] { c.SHABT_Click(); };
    SABTNR.onChoose = [&c] { c.SABTNR_Click(); };
    SHGRP.onChoose = [&c] { c.SHGRP_Click(); };
    SUGRP.onChoose = [&c] { c.SUGRP_Click(); };
    SPG.onChoose = [&c] { c.SPG_Click(); };
    SHVArt.onChoose = [&c] { c.SHVArt_Click(); };
}

} // namespace mw

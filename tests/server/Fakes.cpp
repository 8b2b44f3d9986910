#include "Fakes.h"

#include "support/HookedObject.h"
#include "support/Utf8.h"

namespace fakes {

using cache::CacheError;
using testsupport::u;

QStringList CallLog::xecutes() const {
    QStringList out;
    for (const QString& l : lines)
        if (l.startsWith(QLatin1String("Xecute "))) out << l.mid(7);
    return out;
}

FakeServer::FakeServer() {
    xecute = [this](const QString& line) -> QString {
        if (line.startsWith(QLatin1String("S FIRMA=")) || line == QLatin1String("D ^%XTT"))
            return {};
        if (line == QLatin1String("S P0=$P(^FA(0),\"`\",2) W P0")) return wj;
        throw CacheError(cache::err::Syntax, u("<SYNTAX>"));
    };
}

void FakeServer::addRecord(const QString& cls, const QString& id, QHash<QString, QString> props) {
    QHash<QString, QString> lower;
    for (auto it = props.cbegin(); it != props.cend(); ++it)
        lower.insert(it.key().toLower(), it.value());
    records.insert(cls + QLatin1Char(' ') + id, lower);
}

void FakeServer::addDemoUser(const QString& name) {
    addRecord(u("ZK.ParPersEdv"), u("1||DEMO"),
              {{u("Passwort"), u("demo")},
               {u("AKTIV"), u("J")},
               {u("PNAME"), name},
               {u("PNR"), u("1001")},
               {u("ABTNR"), u("B0")},
               {u("DW"), u("0")},
               {u("BERGRP"), u("ALLE")}});
    addRecord(
        u("ZK.ParPersAbt"), u("1||B0"),
        {{u("abtbez"), u("Gesch{ftsleitung")}, {u("ABTNR"), u("B0")}, {u("HAbtNr"), u("40")}});
    addRecord(u("ZK.PersBasis"), u("1||1001"),
              {{u("fax"), u("+43 1 234")}, {u("EMAIL"), u("demo@example.at")}});
}

namespace {

class FakeObject : public cache::CacheObject {
public:
    FakeObject(FakeServer& s, QString cls, QHash<QString, QString> props)
        : s_(s), cls_(std::move(cls)), props_(std::move(props)) {}

    QString property(const QString& name) override {
        const auto it = props_.constFind(name.toLower());
        if (it == props_.constEnd())
            throw CacheError(cache::err::PropertyDoesNotExist, u("keine Eigenschaft ") + name);
        return *it;
    }
    QString call(const QString& method, const QStringList& args) override {
        if (cls_ == QLatin1String("ZK.Windows") && method == QLatin1String("Xecute")) {
            s_.log.add(u("Xecute ") + args.value(0));
            return s_.xecute(args.value(0));
        }
        if (cls_ == QLatin1String("UserVerwaltung.Programm") &&
            method == QLatin1String("Berechtigung")) {
            s_.log.add(u("Berechtigung ") + args.join(QLatin1Char(',')));
            return s_.permissionAnswer;
        }
        if (method.endsWith(QLatin1String("LogicalToODBC"), Qt::CaseInsensitive))
            return args.value(0);
        if (method == QLatin1String("PasswortPruefen")) {
            return props_.value(u("passwort")) == args.value(0) ? u("1") : u("0");
        }
        throw CacheError(cache::err::MethodDoesNotExist, u("keine Methode ") + method);
    }
    void SYS_Close() override { s_.log.add(u("close ") + cls_); }

private:
    FakeServer& s_;
    QString cls_;
    QHash<QString, QString> props_;
};

} // namespace

bool FakeFactory::connect(const QString& connectString) {
    s_.log.add(u("connect ") + connectString);
    s_.log.connectStrings << connectString;
    s_.log.connectTimes << (s_.log.clock ? s_.log.clock->elapsedMs() : -1);
    if (s_.connectThrows) throw CacheError(cache::err::NotConnected, u("Verbindung abgelehnt"));
    const bool answer = s_.accepts(connectString);
    connected_ = answer && s_.reportsConnected;
    error_ = connected_ ? QString() : u("nicht erreichbar");
    return answer;
}

void FakeFactory::disconnect() {
    if (connected_) s_.log.add(u("disconnect"));
    connected_ = false;
    if (s_.disconnectThrows) throw CacheError(cache::err::NotConnected, u("schon getrennt"));
}

void FakeFactory::require() const {
    if (!connected_) throw CacheError(cache::err::NotConnected, u("Keine Verbindung zum Server"));
}

std::unique_ptr<cache::CacheObject> FakeFactory::classHandle(const QString& className) {
    require();
    return std::make_unique<FakeObject>(s_, className, QHash<QString, QString>{});
}

std::unique_ptr<cache::CacheObject> FakeFactory::open(const QString& className, const QString& id) {
    require();
    s_.log.add(u("open ") + className + QLatin1Char(' ') + id);
    const auto it = s_.records.constFind(className + QLatin1Char(' ') + id);
    if (it == s_.records.constEnd())
        throw CacheError(cache::err::ObjectNotFound, u("Objekt nicht gefunden: ") + id);
    return std::make_unique<FakeObject>(s_, className, *it);
}

std::unique_ptr<cache::CacheQuery> FakeFactory::query(const QString& className, const QString&) {
    require();
    throw CacheError(cache::err::ClassDoesNotExist, u("keine Abfragen in ") + className);
}

// --- recording decorator ---------------------------------------------------------

namespace {
std::unique_ptr<cache::CacheObject> recording(std::unique_ptr<cache::CacheObject> inner,
                                              const QString& cls, CallLog& log) {
    return std::make_unique<testsupport::HookedObject>(
        std::move(inner), cls,
        [&log](const QString& c, const QString& method, const QStringList& args) {
            if (method.compare(QLatin1String("Xecute"), Qt::CaseInsensitive) == 0)
                log.add(u("Xecute ") + args.value(0));
            else
                log.add(u("call ") + c + QLatin1Char('.') + method);
        });
}
} // namespace

bool RecordingFactory::connect(const QString& connectString) {
    log_.add(u("connect ") + connectString);
    log_.connectStrings << connectString;
    log_.connectTimes << (log_.clock ? log_.clock->elapsedMs() : -1);
    return inner_->connect(connectString);
}

void RecordingFactory::disconnect() {
    if (inner_->isConnected()) log_.add(u("disconnect"));
    inner_->disconnect();
}

std::unique_ptr<cache::CacheObject> RecordingFactory::classHandle(const QString& className) {
    return recording(inner_->classHandle(className), className, log_);
}

std::unique_ptr<cache::CacheObject> RecordingFactory::open(const QString& className,
                                                           const QString& id) {
    log_.add(u("open ") + className + QLatin1Char(' ') + id);
    return recording(inner_->open(className, id), className, log_);
}

std::unique_ptr<cache::CacheQuery> RecordingFactory::query(const QString& className,
                                                           const QString& queryName) {
    log_.add(u("query ") + className + QLatin1Char('.') + queryName);
    return inner_->query(className, queryName);
}

} // namespace fakes

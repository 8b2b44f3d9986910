#pragma once

// Factories for the server-access tests: a scripted fake server, and a
// decorator that records every call a real factory receives.

#include "platform/cache/Factory.h"
#include "platform/clock/FakeClock.h"

#include <QHash>
#include <QStringList>
#include <functional>
#include <memory>

namespace fakes {

// What the tests read back: one line per call, in order, and the clock time
// (elapsed ms of the fake clock) of every connect.
struct CallLog {
    const platform::FakeClock* clock = nullptr;
    QStringList lines;
    QList<qint64> connectTimes;
    QStringList connectStrings;
    void add(const QString& line) { lines << line; }
    // Only the Xecute lines, without the "Xecute " prefix.
    QStringList xecutes() const;
};

// Shared by every factory one test creates (one per connection attempt).
struct FakeServer {
    CallLog log;
    // Whether connect answers true for this connect string.
    std::function<bool(const QString&)> accepts = [](const QString&) { return true; };
    // Whether the factory then reports itself connected.
    bool reportsConnected = true;
    bool connectThrows = false;
    bool disconnectThrows = false; // after logging the disconnect
    // Answers Xecute; throws CacheError to fail. The default understands the
    // session lines and the WJ line.
    std::function<QString(const QString&)> xecute;
    // Stored objects by class + " " + id, as property -> value. The
    // ...LogicalToODBC methods return their argument.
    QHash<QString, QHash<QString, QString>> records;
    QString permissionAnswer = QStringLiteral("1");
    QString wj = QStringLiteral("03");
    int factoriesMade = 0;

    FakeServer();
    void addRecord(const QString& cls, const QString& id, QHash<QString, QString> props);
    // A user DEMO/demo of company 1 with department B0 and base record.
    void addDemoUser(const QString& name = QStringLiteral("Demo M}ller"));
};

class FakeFactory : public cache::Factory {
public:
    explicit FakeFactory(FakeServer& server) : s_(server) { ++s_.factoriesMade; }
    bool connect(const QString& connectString) override;
    bool isConnected() const override { return connected_; }
    // Logged with the code only, the password stays out of every log.
    void setLogin(const QString& code, const QString&) override {
        s_.log.add(QStringLiteral("setLogin ") + code);
    }
    void disconnect() override;
    QString lastConnectError() const override { return error_; }
    std::unique_ptr<cache::CacheObject> classHandle(const QString& className) override;
    std::unique_ptr<cache::CacheObject> open(const QString& className, const QString& id) override;
    std::unique_ptr<cache::CacheQuery> query(const QString& className,
                                             const QString& queryName) override;

private:
    void require() const;
    FakeServer& s_;
    bool connected_ = false;
    QString error_;
};

// Passes every call to a real factory and writes it into the log.
class RecordingFactory : public cache::Factory {
public:
    RecordingFactory(std::unique_ptr<cache::Factory> inner, CallLog& log)
        : inner_(std::move(inner)), log_(log) {}
    bool connect(const QString& connectString) override;
    bool isConnected() const override { return inner_->isConnected(); }
    void setLogin(const QString& code, const QString& password) override {
        log_.add(QStringLiteral("setLogin ") + code);
        inner_->setLogin(code, password);
    }
    void disconnect() override;
    QString lastConnectError() const override { return inner_->lastConnectError(); }
    std::unique_ptr<cache::CacheObject> classHandle(const QString& className) override;
    std::unique_ptr<cache::CacheObject> open(const QString& className, const QString& id) override;
    std::unique_ptr<cache::CacheQuery> query(const QString& className,
                                             const QString& queryName) override;

private:
    std::unique_ptr<cache::Factory> inner_;
    CallLog& log_;
};

} // namespace fakes

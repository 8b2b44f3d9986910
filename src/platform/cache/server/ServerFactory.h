#pragma once

// The server component: answers the factory calls of the client from the
// SQL database selected by the connect string.

#include "../Factory.h"
#include "Database.h"
#include "Store.h"

#include <functional>
#include <memory>
#include <optional>

namespace cache::server {

struct DemoProgress;

struct ServerOptions {
    // Shown while the embedded server fills a new database with demo data.
    std::function<void(const DemoProgress&)> demoProgress;
    // Called after each period of Generieren; return false to cancel.
    GenerateCallback generateProgress;
    // Makes Generieren fail after that many periods (tests); -1 = never.
    // The environment variable TALLVERO_FAULT_GENERATE_AFTER sets it too.
    int generateFaultAfter = -1;
};

class ServerFactory : public Factory {
public:
    explicit ServerFactory(ServerOptions options = {});
    ~ServerFactory() override;

    bool connect(const QString& connectString) override;
    bool isConnected() const override;
    void disconnect() override;
    QString lastConnectError() const override { return lastError_; }
    // PostgreSQL: connect() logs in as this role instead of libpq's user.
    void setLogin(const QString& personalcode, const QString& password) override;
    std::unique_ptr<CacheObject> classHandle(const QString& className) override;
    std::unique_ptr<CacheObject> open(const QString& className, const QString& id) override;
    std::unique_ptr<CacheQuery> query(const QString& className, const QString& queryName) override;

    ServerOptions& options() { return options_; }

    struct Connection;

private:
    std::shared_ptr<Connection> require() const;

    ServerOptions options_;
    std::shared_ptr<Connection> conn_;
    QString lastError_;
    // Held from setLogin until the next connect, not longer.
    std::optional<Login> login_;
};

} // namespace cache::server

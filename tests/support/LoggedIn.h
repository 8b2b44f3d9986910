#pragma once

// A session logged in by command line to a demo site on either engine,
// through the real server component or the factory `maker` makes.

#include "platform/cache/server/ServerFactory.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"

namespace testsupport {

inline std::unique_ptr<testenv::Env> loggedIn(const DemoSite& site, const QString& user,
                                              const QString& password,
                                              QDate today = QDate(2024, 4, 15),
                                              srv::FactoryMaker maker = {}) {
    if (!maker) maker = [] { return std::make_unique<cache::server::ServerFactory>(); };
    auto env =
        std::make_unique<testenv::Env>(std::move(maker), QDateTime(today, QTime(9, 0), Qt::UTC));
    env->commandLine =
        QStringLiteral("1 0 %1 %2 %3 %4").arg(user, password, site.server, site.port);
    if (!env->s().CacheLogin()) ADD_FAILURE() << "no login as " << user.toStdString();
    env->ui.clearMessages();
    return env;
}

} // namespace testsupport

#pragma once

// The real server component with a hook around every request of a class
// query: tests record what was sent, count result sets closed, and fail
// requests on purpose once a budget is spent.

#include "platform/cache/server/ServerFactory.h"

#include <functional>

namespace testsupport {

struct SentQuery {
    QString cls, query;
    QStringList args;
};

struct QueryHook {
    // Which queries are watched (all when empty), by query name.
    std::function<bool(const QString& query)> watches;
    // Watched requests that may still go through before every further one
    // throws `failure` (-1: no limit).
    int budget = -1;
    cache::CacheError failure{cache::err::Sql, QStringLiteral("Datenbank weg")};
    QList<SentQuery> sent;
    int closes = 0;
};

class HookedQuery : public cache::CacheQuery {
public:
    HookedQuery(std::unique_ptr<cache::CacheQuery> inner, QueryHook& h, SentQuery s)
        : inner_(std::move(inner)), h_(h), s_(std::move(s)) {}
    void execute(const QStringList& args) override {
        if (h_.budget == 0) throw h_.failure;
        if (h_.budget > 0) --h_.budget;
        s_.args = args;
        h_.sent.append(s_);
        inner_->execute(args);
    }
    bool next() override { return inner_->next(); }
    QString column(int n) override { return inner_->column(n); }
    int columnCount() const override { return inner_->columnCount(); }
    void SYS_Close() override {
        ++h_.closes;
        inner_->SYS_Close();
    }

private:
    std::unique_ptr<cache::CacheQuery> inner_;
    QueryHook& h_;
    SentQuery s_;
};

class HookedFactory : public cache::server::ServerFactory {
public:
    explicit HookedFactory(QueryHook& h) : h_(h) {}
    std::unique_ptr<cache::CacheQuery> query(const QString& c, const QString& q) override {
        auto inner = ServerFactory::query(c, q);
        if (h_.watches && !h_.watches(q)) return inner;
        return std::make_unique<HookedQuery>(std::move(inner), h_, SentQuery{c, q, {}});
    }

private:
    QueryHook& h_;
};

} // namespace testsupport

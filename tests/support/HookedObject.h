#pragma once

// A server object that calls a hook (class, method, arguments) before each call.

#include "platform/cache/Factory.h"

#include <functional>

namespace testsupport {

class HookedObject : public cache::CacheObject {
public:
    using Hook = std::function<void(const QString&, const QString&, const QStringList&)>;
    HookedObject(std::unique_ptr<cache::CacheObject> inner, QString cls, Hook hook)
        : inner_(std::move(inner)), cls_(std::move(cls)), hook_(std::move(hook)) {}
    QString property(const QString& name) override { return inner_->property(name); }
    QString call(const QString& method, const QStringList& args) override {
        hook_(cls_, method, args);
        return inner_->call(method, args);
    }
    void SYS_Close() override { inner_->SYS_Close(); }

private:
    std::unique_ptr<cache::CacheObject> inner_;
    QString cls_;
    Hook hook_;
};

} // namespace testsupport

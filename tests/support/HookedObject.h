#pragma once

// A server object with a hook before every method call: tests record the
// calls a program makes, or act at that moment.

#include "platform/cache/Factory.h"

#include <functional>
#include <memory>

namespace testsupport {

class HookedObject : public cache::CacheObject {
public:
    using Hook =
        std::function<void(const QString& cls, const QString& method, const QStringList& args)>;
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

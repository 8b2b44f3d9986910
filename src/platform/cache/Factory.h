#pragma once

// The object factory through which the client reaches the server: class
// handles, stored objects opened by id, class queries, and properties and
// methods by name. Every failing call throws CacheError.

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

namespace cache {

class CacheError : public std::runtime_error {
public:
    CacheError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number),
          description_(description) {}
    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

// A class handle (class methods) or a stored object (properties, methods).
class CacheObject {
public:
    virtual ~CacheObject() = default;
    // Property and method names are matched without regard to case.
    virtual QString property(const QString& name) = 0;
    virtual QString call(const QString& method, const QStringList& args = {}) = 0;
    virtual void SYS_Close() = 0;
};

// A class query opened as a result set.
class CacheQuery {
public:
    virtual ~CacheQuery() = default;
    virtual void execute(const QStringList& args) = 0;
    // Steps to the next row; false after the last one.
    virtual bool next() = 0;
    // Column n (1-based) of the current row; empty before the first row
    // and after the last.
    virtual QString column(int n) = 0;
    virtual int columnCount() const = 0;
    virtual void SYS_Close() = 0;
};

class Factory {
public:
    virtual ~Factory() = default;
    virtual bool connect(const QString& connectString) = 0;
    virtual bool isConnected() const = 0;
    virtual void disconnect() = 0;
    // Why the last connect failed, for the log; empty after success.
    virtual QString lastConnectError() const = 0;
    // The verified login that connect() uses from then on, so that a new
    // connection after a successful login works as that user again. How a
    // login is checked in the first place is the server's business: the
    // login record's method PasswortPruefen.
    virtual void setLogin(const QString& personalcode, const QString& password) {
        (void)personalcode;
        (void)password;
    }
    virtual std::unique_ptr<CacheObject> classHandle(const QString& className) = 0;
    virtual std::unique_ptr<CacheObject> open(const QString& className, const QString& id) = 0;
    virtual std::unique_ptr<CacheQuery> query(const QString& className,
                                              const QString& queryName) = 0;
};

// Error numbers raised by the server component. They follow the style of the
// original server: small numbers for interpreter errors, 5xxx for object
// and query errors.
namespace err {
constexpr int NotConnected = 1;       // no connection, or it was lost
constexpr int Syntax = 8;             // Xecute line not understood
constexpr int Undefined = 9;          // Xecute reads an undefined global
constexpr int ClassDoesNotExist = 5002;
constexpr int MethodDoesNotExist = 5003;
constexpr int PropertyDoesNotExist = 5004;
constexpr int QueryDoesNotExist = 5005;
constexpr int WrongArguments = 5006;  // wrong number or form of arguments
constexpr int NotExecuted = 5007;     // next/column before execute
constexpr int ObjectClosed = 5008;    // handle used after SYS_Close
constexpr int Sql = 5540;             // the database reported an error
constexpr int ObjectNotFound = 5809;  // open() of an id that does not exist
constexpr int GenerateFailed = 5810;  // rebuild of the period sums failed
} // namespace err

} // namespace cache

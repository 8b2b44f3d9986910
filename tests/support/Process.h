#pragma once

// Runs a program to its end and hands back what it wrote: the one process
// runner of the tests (tools, scripts, the report binary); and a scoped
// environment variable.

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>
#include <optional>

namespace testsupport {

struct ProcessRun {
    int code = -1; // -1 when it did not start, crashed or did not finish
    QByteArray out, err;
    QString outText() const { return QString::fromUtf8(out); }
    QString errText() const { return QString::fromUtf8(err); }
};

// `env` empty: the caller's environment. `input` goes to stdin. `merged`:
// stderr into out.
inline ProcessRun runProcess(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env = {}, const QByteArray& input = {},
                             int timeoutMs = 60000, bool merged = false) {
    QProcess p;
    if (!env.isEmpty()) p.setProcessEnvironment(env);
    if (merged) p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    ProcessRun r;
    if (!p.waitForFinished(timeoutMs)) {
        // A program that is not there is the caller's to judge (code -1).
        if (p.error() != QProcess::FailedToStart)
            ADD_FAILURE() << program.toStdString() << " did not finish";
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    if (!merged) r.err = p.readAllStandardError();
    return r;
}

// The caller's environment with a home of its own under `dir` (so the
// settings and the embedded database of whoever runs the tests stay out),
// no display and no Qt platform, as a cron job runs a tool; the password
// variable only when given.
inline QProcessEnvironment ownHomeEnvironment(const QString& dir,
                                              const std::optional<QString>& password = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/home/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir + QStringLiteral("/home/data"));
    for (const char* v : {"TALLVERO_PASSWORD", "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(v));
    if (password) env.insert(QStringLiteral("TALLVERO_PASSWORD"), *password);
    return env;
}

// Sets an environment variable of this process for a scope and puts the
// old state back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

} // namespace testsupport

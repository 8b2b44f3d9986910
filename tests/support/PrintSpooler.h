#pragma once

// A CUPS scheduler of the test's own: cupsd with configuration, spool and
// logs in a temporary folder, listening only on a local socket, with one
// CUPS-PDF queue writing into that folder. While the object lives, the
// process's CUPS client (and so QPrinter) talks to it. Needs root (the
// CUPS-PDF backend refuses to run otherwise) and the packages cups,
// printer-driver-cups-pdf and poppler-utils. The printer's PDF goes through
// PostScript and loses its text; the document as sent keeps it.

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <optional>

namespace testsupport {

class PrintSpooler {
public:
    PrintSpooler();
    ~PrintSpooler();
    PrintSpooler(const PrintSpooler&) = delete;
    PrintSpooler& operator=(const PrintSpooler&) = delete;

    // Empty when the spooler runs, else why it does not (a skip message).
    QString problem() const { return problem_; }
    QString queue() const { return queue_; }

    struct Job {
        int id = 0;
        QString document; // the file the client sent, as the spooler keeps it
        QString pdf;      // what the queue's printer made of it, empty if nothing
    };
    // The ended jobs of the queue, by id; waits up to timeoutMs for all to end.
    QList<Job> jobs(int timeoutMs);
    // The scheduler's and the backend's logs, for a failure message.
    QString logs() const;

    // A PDF's pages, each with its orientation after its rotation, and the
    // text of the whole file.
    struct PdfPage {
        bool a4 = false, landscape = false;
    };
    static QList<PdfPage> pdfPages(const QString& file);
    static QString pdfText(const QString& file);

private:
    QString start();
    QTemporaryDir dir_;
    QProcess cupsd_;
    QString problem_, queue_, socket_, backendConfig_;
    std::optional<QByteArray> oldServer_;
};

} // namespace testsupport

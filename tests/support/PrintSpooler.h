#pragma once

// A CUPS scheduler of the test's own: cupsd with a private configuration,
// spool and log in a temporary folder, listening only on a local socket,
// with one CUPS-PDF queue whose output lands in that folder. While the
// object lives, the process's CUPS client (and so QPrinter) talks to it.
// Needs root (the CUPS-PDF backend refuses to run otherwise) and the
// packages cups, printer-driver-cups-pdf and poppler-utils. The printer's
// PDF goes through PostScript and loses its text; the document as sent
// keeps it.

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

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
        bool completed = false;
        QString document; // the file the client sent, as the spooler keeps it
        QString pdf;      // what the queue's printer made of it
    };
    // Every job the queue was given, by id; waits up to timeoutMs until all
    // of them have ended.
    QList<Job> jobs(int timeoutMs);
    // The scheduler's and the backend's logs, for a failure message.
    QString logs() const;

    // Pages of a PDF with each page's orientation after its rotation, and
    // the text of the whole file (poppler-utils).
    struct PdfPage {
        bool a4 = false, landscape = false;
    };
    static QList<PdfPage> pdfPages(const QString& file);
    static QString pdfText(const QString& file);

private:
    bool start();
    QTemporaryDir dir_;
    QProcess cupsd_;
    QString problem_, queue_, socket_, backendConfig_, oldServer_;
    bool hadServer_ = false;
};

} // namespace testsupport

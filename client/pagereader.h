#pragma once

#include "model/recentitem.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <string>

class QProcess;

// Reads dashboard pages in the page reader, a process of its own without rights
// (reader/main.cpp): each page goes framed to its standard input, and the reading comes back
// on its standard output, where it is bounded and checked before anything of it is used.
// The reader starts at the first read, is kept, and is replaced after RequestsPerReader
// requests. A reading that takes longer than the deadline kills it, and so does an answer
// that is malformed or too large; a reader that dies (a signal, an assertion in the parser)
// is a failed reading too. The next read starts a new reader. Destroying the PageReader
// kills a reader still at work, at once.
class PageReader final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultDeadlineMs = 1000;
    static constexpr int RequestsPerReader = 200;

    struct Result
    {
        enum Outcome
        {
            Read,         // reading holds the dashboard
            NotDashboard, // the page was read but is not a dashboard; why says what is missing
            Failed,       // no valid reading in time; why says what happened
            CannotStart   // no reader could be started; logged here, once while it recurs
        };
        Outcome outcome = Failed;
        DashboardReading reading;
        QString why;
        // Read and NotDashboard: how the page was read.
        std::string encoding;
        std::string baseUrl;
        bool wholePage = false;
    };

    explicit PageReader(QObject *parent = nullptr);
    ~PageReader() override;
    PageReader(const PageReader &) = delete;
    PageReader &operator=(const PageReader &) = delete;

    // The reader installed beside the running program (<bin>/../libexec/ormix/ormix-reader),
    // else the one of the build tree this program was built in.
    static QString defaultProgram();

    // Hands a page to the reader; finished() follows once, from the event loop. A read
    // started while another runs replaces it: the reader at work is killed and the older
    // read says nothing more. whole: parse the whole page, not only as far as the reading
    // needs.
    void read(const QByteArray &page, const QByteArray &charset, const QUrl &address,
              bool whole = false);
    // True from read() until finished() was emitted.
    bool isBusy() const { return m_busy; }

    // For tests and benchmarks: another program to start as the reader, the deadline, and
    // the reader at work (0 when none runs).
    void setProgram(const QString &program, const QStringList &arguments = {});
    void setDeadlineMs(int ms);
    qint64 readerProcessId() const;

signals:
    void finished(const PageReader::Result &result);

private:
    // A running reader, started when there is none; null when none can be.
    QProcess *reader(QString *why);
    void onOutput(QProcess *process);
    void onEnded(QProcess *process, int exitCode, bool crashed);
    void onStartFailed(QProcess *process);
    // Ends the read under way with a failure; the reader that caused it is killed.
    void fail(Result::Outcome outcome, const QString &why);
    void finish(Result result);
    // Lets a reader go: killed unless it is only to end, forgotten once it has.
    void retire(QProcess *process, bool kill);

    QString m_program;
    QStringList m_arguments;
    int m_deadlineMs = DefaultDeadlineMs;
    QProcess *m_process = nullptr;
    int m_requests = 0;
    bool m_busy = false;
    QByteArray m_answer;
    QTimer m_deadline;
    // The answer waiting to be delivered from the event loop.
    Result m_result;
    bool m_pending = false;
    quint64 m_deliveries = 0;
    bool m_startFailureLogged = false;
};

#include "pagereader.h"

#include "base/logging.h"
#include "reader/readerprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QString describeEnd(int exitCode, bool crashed)
{
    if (!crashed)
        return QStringLiteral("the page reader ended with status %1").arg(exitCode);
    const char *name = sigabbrev_np(exitCode);
    return QStringLiteral("the page reader was killed by signal %1 (SIG%2)%3")
        .arg(exitCode)
        .arg(QLatin1String(name ? name : "?"))
        .arg(exitCode == SIGSYS    ? QLatin1String(": a system call its sandbox forbids")
             : exitCode == SIGABRT ? QLatin1String(": it aborted, as on an assertion")
                                   : QLatin1String());
}

} // namespace

PageReader::PageReader(QObject *parent) : QObject(parent), m_program(defaultProgram())
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        fail(Result::Failed,
             QStringLiteral("the page reader took longer than %1 ms").arg(m_deadlineMs));
    });
}

PageReader::~PageReader()
{
    // Nothing waits for a reading at the quit: every reader goes at once.
    const QList<QProcess *> processes = findChildren<QProcess *>(Qt::FindDirectChildrenOnly);
    for (QProcess *process : processes) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
}

QString PageReader::defaultProgram()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath())
                               .filePath(QStringLiteral("../libexec/ormix/ormix-reader"));
    if (QFileInfo(beside).isExecutable())
        return QDir::cleanPath(beside);
    return QStringLiteral(ORMIX_READER_BUILD_PATH);
}

void PageReader::setProgram(const QString &program, const QStringList &arguments)
{
    m_program = program;
    m_arguments = arguments;
    if (m_process && !m_busy)
        retire(m_process, false);
}

void PageReader::setDeadlineMs(int ms)
{
    m_deadlineMs = qMax(1, ms);
}

qint64 PageReader::readerProcessId() const
{
    return m_process ? m_process->processId() : 0;
}

QProcess *PageReader::reader(QString *why)
{
    if (m_process)
        return m_process;
    if (!QFileInfo(m_program).isExecutable()) {
        *why = QStringLiteral("the page reader %1 cannot be started: it is not an executable "
                              "file")
                   .arg(m_program);
        return nullptr;
    }
    auto *process = new QProcess(this);
    process->setProgram(m_program);
    process->setArguments(m_arguments);
    // What the reader says on standard error (an assertion's message) goes to our journal.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const pid_t parent = getpid();
    process->setChildProcessModifier([parent] {
        // In the child, before exec: only the three pipes on 0 to 2 stay open across it
        // (marked, not closed, so Qt can still report a failed exec), and the reader dies
        // with us, unless we are gone already.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
    });
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { onOutput(process); });
    connect(process, &QProcess::finished, this,
            [this, process](int exitCode, QProcess::ExitStatus status) {
                onEnded(process, exitCode, status == QProcess::CrashExit);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onStartFailed(process);
    });
    qCDebug(lcReader) << "starting the page reader" << m_program;
    process->start();
    m_process = process;
    m_requests = 0;
    return process;
}

void PageReader::read(const QByteArray &page, const QByteArray &charset, const QUrl &address,
                      bool whole)
{
    if (m_busy) {
        qCDebug(lcReader) << "a new page replaces the one being read";
        m_deadline.stop();
        m_busy = false;
        if (m_pending)
            m_pending = false; // its reader is done with it and may go on
        else
            retire(m_process, true);
    }
    m_busy = true;
    m_answer.clear();
    const QByteArray encodedAddress = address.toEncoded();
    readerprotocol::Request request;
    request.charset =
        std::string_view(charset.constData(), static_cast<std::size_t>(charset.size()));
    request.address = std::string_view(encodedAddress.constData(),
                                       static_cast<std::size_t>(encodedAddress.size()));
    request.whole = whole;
    const auto head = readerprotocol::requestHead(request, static_cast<std::size_t>(page.size()));
    // Failures here are delivered from the event loop too (finish).
    if (!head) {
        fail(Result::Failed, QStringLiteral("the page is too large to read"));
        return;
    }
    QString why;
    QProcess *process = reader(&why);
    if (!process) {
        fail(Result::CannotStart, why);
        return;
    }
    process->write(head->data(), static_cast<qint64>(head->size()));
    // QProcess keeps the page until the pipe has taken it all.
    process->write(page);
    ++m_requests;
    m_deadline.start(m_deadlineMs);
}

void PageReader::onOutput(QProcess *process)
{
    if (process != m_process || !m_busy || m_pending) {
        // A reader that speaks out of turn is not one to keep.
        if (process == m_process)
            retire(process, true);
        return;
    }
    using readerprotocol::HeaderBytes;
    // Read no more than an answer can hold, and one byte to tell when it holds more.
    // (QIODevice::read allocates all it is asked for first.)
    const qint64 room = qint64(HeaderBytes + readerprotocol::MaxAnswerBytes + 1) - m_answer.size();
    m_answer += process->read(std::min(room, process->bytesAvailable()));
    if (m_answer.size() < qsizetype(HeaderBytes))
        return;
    char header[HeaderBytes];
    std::memcpy(header, m_answer.constData(), HeaderBytes);
    const std::size_t length = readerprotocol::payloadLength(header);
    if (length > readerprotocol::MaxAnswerBytes) {
        fail(Result::Failed, QStringLiteral("the page reader's answer is larger than any reading"));
        return;
    }
    const std::size_t frame = HeaderBytes + length;
    if (static_cast<std::size_t>(m_answer.size()) < frame)
        return;
    if (static_cast<std::size_t>(m_answer.size()) > frame || process->bytesAvailable() > 0) {
        fail(Result::Failed, QStringLiteral("the page reader said more than one answer"));
        return;
    }
    std::string why;
    const auto answer = readerprotocol::decodeAnswer(
        std::string_view(m_answer.constData() + HeaderBytes, length), &why);
    if (!answer) {
        fail(Result::Failed, QStringLiteral("the page reader's answer is malformed: %1")
                                 .arg(QString::fromStdString(why)));
        return;
    }
    m_deadline.stop();
    m_answer.clear();
    Result result;
    result.encoding = answer->encoding;
    result.baseUrl = answer->baseUrl;
    result.wholePage = answer->wholePage;
    switch (answer->status) {
    case readerprotocol::Answer::Read:
        result.outcome = Result::Read;
        result.reading = answer->reading;
        break;
    case readerprotocol::Answer::NotDashboard:
        result.outcome = Result::NotDashboard;
        result.why = QString::fromStdString(answer->why);
        break;
    case readerprotocol::Answer::Failed:
        result.outcome = Result::Failed;
        result.why = QString::fromStdString(answer->why);
        break;
    }
    // Long-lived readers are replaced now and then; this one ends on its own.
    if (m_requests >= RequestsPerReader)
        retire(process, false);
    finish(std::move(result));
}

void PageReader::onEnded(QProcess *process, int exitCode, bool crashed)
{
    if (process != m_process) {
        process->deleteLater();
        return;
    }
    m_process = nullptr;
    process->deleteLater();
    const QString why = describeEnd(exitCode, crashed);
    if (m_busy) {
        fail(Result::Failed, why);
        return;
    }
    qCInfo(lcReader).noquote() << why << "between two pages";
}

void PageReader::onStartFailed(QProcess *process)
{
    if (process != m_process) {
        process->deleteLater();
        return;
    }
    const QString why = QStringLiteral("the page reader %1 cannot be started: %2")
                            .arg(m_program, process->errorString());
    m_process = nullptr;
    process->deleteLater();
    if (m_busy)
        fail(Result::CannotStart, why);
}

void PageReader::fail(Result::Outcome outcome, const QString &why)
{
    if (!m_busy || m_pending)
        return;
    m_deadline.stop();
    if (m_process)
        retire(m_process, true);
    // Whoever asked logs the rest; this one would otherwise repeat at every read.
    if (outcome == Result::CannotStart && !m_startFailureLogged) {
        qCWarning(lcReader).noquote() << why;
        m_startFailureLogged = true;
    }
    Result result;
    result.outcome = outcome;
    result.why = why;
    finish(std::move(result));
}

void PageReader::finish(Result result)
{
    m_deadline.stop();
    m_answer.clear();
    if (result.outcome != Result::CannotStart)
        m_startFailureLogged = false;
    // Posted, never emitted from inside the pipe's notification: what the receivers change
    // on screen then reaches the display server before the loop sleeps (a window's opacity
    // set from the notification stayed in the X connection's buffer).
    m_result = std::move(result);
    m_pending = true;
    QMetaObject::invokeMethod(
        this,
        [this, delivery = ++m_deliveries] {
            if (!m_pending || delivery != m_deliveries)
                return; // replaced by another read meanwhile
            m_pending = false;
            m_busy = false;
            emit finished(m_result);
        },
        Qt::QueuedConnection);
}

void PageReader::retire(QProcess *process, bool kill)
{
    if (!process)
        return;
    if (process == m_process)
        m_process = nullptr;
    // Its end is no failure of ours any more; the object goes once the process has.
    process->disconnect(this);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    if (kill)
        process->kill();
    else
        process->closeWriteChannel();
}

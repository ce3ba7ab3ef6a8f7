// Running one panel's recipe on its own thread.

#include "worker.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>

namespace {

// The worker thread's out(), fail(), trace() and progress: to the worker's
// state and, with a log directory, to the panel's log file.
class WorkerOutput : public OutputSink
{
public:
    WorkerOutput(PanelWorker *worker, QFile *log)
        : m_worker(worker)
        , m_log(log)
    {
    }
    void line(const QString &text, bool error) override
    {
        m_worker->said(text, error);
        log(error ? QStringLiteral("kvx-host: ") + text : text);
    }
    void trace(const QString &text) override { log(text); }
    void progress(qint64 done, qint64 total) override { m_worker->progress(done, total); }
    void log(const QString &text)
    {
        if (m_log->isOpen()) {
            m_log->write(text.toUtf8() + '\n');
            m_log->flush();
        }
    }

private:
    PanelWorker *m_worker;
    QFile *m_log;
};

// The command as a recipe line would give it: words with blanks or quotes
// in single quotes.
QString commandText(const QStringList &words)
{
    QStringList quoted;
    for (const QString &w : words) {
        const bool plain = !w.isEmpty() && std::none_of(w.begin(), w.end(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('\\')
                || c == QLatin1Char('$');
        });
        quoted << (plain ? w
                         : QLatin1Char('\'') + QString(w).replace(QLatin1String("'"), QLatin1String("'\\''"))
                           + QLatin1Char('\''));
    }
    return quoted.join(QLatin1Char(' '));
}

} // namespace

QString logFileName(const QString &dir, const QString &serial)
{
    QString name = serial.isEmpty() ? QStringLiteral("unknown") : serial;
    for (QChar &c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    }
    return QDir(dir).filePath(name + QStringLiteral(".log"));
}

PanelWorker::PanelWorker(const PanelPlan &plan, const HostOptions &host, const QString &logDir, QSemaphore *ended)
    : m_plan(plan)
    , m_host(host)
    , m_logDir(logDir)
    , m_ended(ended)
{
    m_host.device = plan.info.port;
    m_host.deviceGiven = true;
    m_host.verbose = !logDir.isEmpty(); // the frames go to the log only
    const PanelInfo &i = plan.info;
    m_view.result = { i.port, i.serial, i.model, i.firmware, {}, static_cast<int>(plan.commands.size()), false, {} };
}

PanelWorker::~PanelWorker() { join(); }

void PanelWorker::start()
{
    // A QThread: the panel's serial port wants one for its socket notifiers.
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
}

void PanelWorker::join()
{
    if (m_thread)
        m_thread->wait();
}

PanelWorker::View PanelWorker::view() const
{
    QMutexLocker lock(&m_mutex);
    return m_view;
}

void PanelWorker::progress(qint64 done, qint64 total)
{
    QMutexLocker lock(&m_mutex);
    m_view.done = done;
    m_view.total = total;
}

void PanelWorker::said(const QString &text, bool error) { (error ? m_lastError : m_lastLine) = text; }

void PanelWorker::run()
{
    QFile log(m_logDir.isEmpty() ? QString() : logFileName(m_logDir, m_plan.info.serial));
    if (!m_logDir.isEmpty())
        log.open(QIODevice::WriteOnly | QIODevice::Append);
    WorkerOutput output(this, &log);
    setThreadOutput(&output);
    bool ok = true;
    for (int i = 0; ok && i < m_plan.commands.size(); ++i) {
        const QStringList &command = m_plan.commands.at(i);
        {
            QMutexLocker lock(&m_mutex);
            m_view.step = i + 1;
            m_view.command = commandText(command);
            m_view.done = m_view.total = 0;
        }
        output.log(QStringLiteral("== %1 %2 line %3: %4")
                       .arg(QDateTime::currentDateTime().toString(Qt::ISODate), m_plan.info.port)
                       .arg(m_plan.lines.at(i))
                       .arg(m_view.command));
        m_lastLine.clear();
        m_lastError.clear();
        QElapsedTimer clock;
        clock.start();
        const int rc = runStep(m_host, command);
        StepResult r {
            m_plan.lines.at(i),      m_view.command, rc == ExitOk, rc == ExitOk ? m_lastLine : m_lastError, 0,
            clock.elapsed() / 1000.0
        };
        if (r.message.isEmpty() && rc != ExitOk)
            r.message = QStringLiteral("exit code %1").arg(rc);
        ok = rc == ExitOk;
        QMutexLocker lock(&m_mutex);
        r.bytes = m_view.done;
        m_view.result.steps << r;
        m_view.stepsDone = i + 1;
    }
    setThreadOutput(nullptr);
    {
        QMutexLocker lock(&m_mutex);
        m_view.result.ok = ok;
    }
    output.log(QStringLiteral("== %1").arg(m_view.result.result()));
    m_finished = true;
    if (m_ended)
        m_ended->release();
}

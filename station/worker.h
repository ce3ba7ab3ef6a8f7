#ifndef KVX_STATION_WORKER_H
#define KVX_STATION_WORKER_H

#include "plan.h"
#include "report.h"

#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <memory>

// One panel's recipe on a thread of its own. The thread writes the state;
// the display reads it under the mutex.
class PanelWorker
{
public:
    // ended, when given, is released once the recipe is over.
    PanelWorker(const PanelPlan &plan, const HostOptions &host, const QString &logDir, QSemaphore *ended = nullptr);
    ~PanelWorker();
    PanelWorker(const PanelWorker &) = delete;
    PanelWorker &operator=(const PanelWorker &) = delete;

    void start();
    bool finished() const { return m_finished; }
    void join();

    struct View
    {
        int step = 0; // 1-based while running
        QString command;
        qint64 done = 0, total = 0; // of a transfer under way
        int stepsDone = 0;          // finished steps, results in result.steps
        PanelResult result;
    };
    View view() const;
    const PanelPlan &plan() const { return m_plan; }

    // Called by the worker's output sink.
    void progress(qint64 done, qint64 total);
    void said(const QString &text, bool error);

private:
    void run();
    PanelPlan m_plan;
    HostOptions m_host;
    QString m_logDir;
    mutable QMutex m_mutex;
    View m_view;
    QString m_lastLine, m_lastError;
    QSemaphore *m_ended;
    std::atomic<bool> m_finished { false };
    std::unique_ptr<QThread> m_thread;
};

// The panel's log file name in dir: its serial number, made safe for a path.
QString logFileName(const QString &dir, const QString &serial);

#endif

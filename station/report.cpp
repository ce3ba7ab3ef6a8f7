// The station's report file.

#include "report.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

const char csvHeader[] = "port,serial,model,firmware,result,line,command,outcome,bytes,seconds,message\n";

QJsonArray jsonPanels(const QVector<PanelResult> &panels, QJsonArray list = QJsonArray())
{
    for (const PanelResult &p : panels) {
        QJsonArray steps;
        for (const StepResult &s : p.steps) {
            steps.append(QJsonObject { { "line", s.line },
                                       { "command", s.command },
                                       { "outcome", s.ok ? "ok" : "failed" },
                                       { "message", s.message },
                                       { "bytes", s.bytes },
                                       { "seconds", qRound(s.seconds * 1000) / 1000.0 } });
        }
        list.append(QJsonObject { { "port", p.port },
                                  { "serial", p.serial },
                                  { "model", p.model },
                                  { "firmware", p.firmware },
                                  { "steps", steps },
                                  { "ok", p.ok },
                                  { "result", p.result() } });
    }
    return list;
}

QByteArray csvRows(const QVector<PanelResult> &panels)
{
    QString text;
    for (const PanelResult &p : panels) {
        QStringList head;
        for (const QString &f : { p.port, p.serial, p.model, p.firmware, p.result() })
            head << csvField(f);
        if (p.steps.isEmpty())
            text += head.join(QLatin1Char(',')) + QStringLiteral(",,,,,,\n");
        for (const StepResult &s : p.steps) {
            text += head.join(QLatin1Char(',')) + QLatin1Char(',')
                + QStringList { QString::number(s.line),
                                csvField(s.command),
                                s.ok ? "ok" : "failed",
                                QString::number(s.bytes),
                                QString::number(s.seconds, 'f', 3),
                                csvField(s.message) }
                      .join(QLatin1Char(','))
                + QLatin1Char('\n');
        }
    }
    return text.toUtf8();
}

} // namespace

QString PanelResult::result() const
{
    if (ok)
        return QStringLiteral("done");
    if (steps.isEmpty() || steps.last().ok)
        return QStringLiteral("failed before its recipe: %1")
            .arg(failure.isEmpty() ? QStringLiteral("no reason known") : failure);
    return QStringLiteral("failed at line %1 (step %2 of %3): %4")
        .arg(steps.last().line)
        .arg(steps.size())
        .arg(stepCount)
        .arg(steps.last().message);
}

bool isReportName(const QString &path, QString *problem)
{
    if (path.endsWith(QLatin1String(".json")) || path.endsWith(QLatin1String(".csv")))
        return true;
    *problem = QStringLiteral("the report %1 must end in .json or .csv").arg(path);
    return false;
}

namespace {

bool saveWhole(const QString &path, const QByteArray &data, QString *problem)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    *problem = QStringLiteral("cannot write the report %1: %2").arg(path, file.errorString());
    return false;
}

} // namespace

bool writeReport(const QString &path, const QVector<PanelResult> &panels, QString *problem)
{
    if (!isReportName(path, problem))
        return false;
    if (path.endsWith(QLatin1String(".json")))
        return saveWhole(path, QJsonDocument(QJsonObject { { "panels", jsonPanels(panels) } }).toJson(), problem);
    return saveWhole(path, csvHeader + csvRows(panels), problem);
}

bool canAppendReport(const QString &path, QString *problem, QJsonDocument *doc)
{
    QFile file(path);
    if (!isReportName(path, problem) || !file.exists())
        return problem->isEmpty();
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot read the report %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray old = file.readAll();
    QJsonDocument json = QJsonDocument::fromJson(old);
    if (path.endsWith(QLatin1String(".json")) ? !json["panels"].isArray() : !old.startsWith(csvHeader)) {
        *problem = QStringLiteral("%1 is not a report of kvx-host; it is left as it is").arg(path);
        return false;
    }
    if (doc)
        *doc = json;
    return true;
}

bool appendReport(const QString &path, const PanelResult &panel, QString *problem)
{
    QFile file(path);
    if (!file.exists())
        return writeReport(path, { panel }, problem);
    QJsonDocument doc;
    if (!canAppendReport(path, problem, &doc))
        return false;
    if (path.endsWith(QLatin1String(".json"))) // the whole file anew, so that it is never half written
        return saveWhole(
            path, QJsonDocument(QJsonObject { { "panels", jsonPanels({ panel }, doc["panels"].toArray()) } }).toJson(),
            problem);
    // Whole lines at the end, in one write.
    const QByteArray rows = csvRows({ panel });
    if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(rows) == rows.size() && file.flush())
        return true;
    *problem = QStringLiteral("cannot write the report %1: %2").arg(path, file.errorString());
    return false;
}

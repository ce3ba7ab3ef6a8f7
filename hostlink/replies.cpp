// Reading the panel's tagged replies. Values are free text that may hold any
// punctuation, so each value ends where the next known tag begins, not at
// the first '>'.

#include "replies.h"

#include "report_tags.h"

#include <QRegularExpression>

namespace {

// The whole reply must be exactly prefix + number + '>'.
bool parseNumberTag(const QByteArray &reply, const char *prefix, qint64 *value)
{
    const QByteArray start(prefix);
    if (!reply.startsWith(start) || !reply.endsWith('>'))
        return false;
    bool ok = false;
    *value = reply.mid(start.size(), reply.size() - start.size() - 1).trimmed().toLongLong(&ok);
    return ok;
}

} // namespace

bool parseHardwareReport(const QByteArray &reply, QList<ReportRow> *rows)
{
    rows->clear();
    const int count = report::TagCount;
    int at = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray open = QByteArray("<") + report::tags[i].name + ':';
        if (reply.mid(at, open.size()) != open)
            return false;
        at += open.size();
        const QByteArray next
            = i + 1 < count ? QByteArray("><") + report::tags[i + 1].name + ':' : QByteArray(">") + report::EndMark;
        const int end = reply.indexOf(next, at);
        if (end < 0)
            return false;
        rows->append({ QString::fromLatin1(report::tags[i].name), QString::fromLatin1(report::tags[i].meaning),
                       QString::fromLatin1(reply.mid(at, end - at)) });
        at = end + 1;
    }
    return reply.mid(at) == report::EndMark;
}

bool isReportTag(const QString &tag)
{
    for (const report::Tag &t : report::tags) {
        if (tag == QLatin1String(t.name))
            return true;
    }
    return false;
}

bool parseTimeZone(const QByteArray &reply, int *minutes)
{
    qint64 v;
    if (reply.size() != 13 || !parseNumberTag(reply, "<LOTIZO:", &v))
        return false;
    *minutes = static_cast<int>(v);
    return true;
}

bool parseFileSize(const QByteArray &reply, qint64 *size)
{
    return parseNumberTag(reply, "<GETF:", size) && *size >= -1;
}

bool parseCpuId(const QByteArray &reply, QString *id)
{
    static const QRegularExpression form(QStringLiteral("^<CPUI:([0-9A-Fa-f]{16})>$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(reply));
    if (!m.hasMatch())
        return false;
    *id = m.captured(1);
    return true;
}

bool parseProjectList(const QByteArray &reply, QStringList *names)
{
    names->clear();
    // The length counts characters of the name, so it is read from the
    // decoded text: a name may hold ':' or '>'.
    const QString text = QString::fromUtf8(reply);
    static const QRegularExpression head(QStringLiteral("\\G<GPFL_(\\d+):(\\d+):"));
    int at = 0;
    for (;;) {
        if (text.midRef(at) == QLatin1String("<GPFL_END>"))
            return true;
        const QRegularExpressionMatch m = head.match(text, at);
        if (!m.hasMatch() || m.captured(1).toInt() != names->size())
            return false;
        const int length = m.captured(2).toInt();
        const int nameAt = m.capturedEnd(0);
        if (nameAt + length >= text.size() || text.at(nameAt + length) != QLatin1Char('>'))
            return false;
        names->append(text.mid(nameAt, length));
        at = nameAt + length + 1;
    }
}

bool parseFontList(const QByteArray &reply, QStringList *user, QStringList *system)
{
    user->clear();
    system->clear();
    const QString text = QString::fromUtf8(reply);
    static const QRegularExpression head(QStringLiteral("\\G<GFFS_([US])(\\d+):"));
    int at = 0;
    for (;;) {
        if (text.midRef(at) == QLatin1String("<GFFS_END>"))
            return true;
        const QRegularExpressionMatch m = head.match(text, at);
        if (!m.hasMatch())
            return false;
        QStringList *list = m.captured(1) == QLatin1String("U") ? user : system;
        if (m.captured(2).toInt() != list->size() || (list == user && !system->isEmpty()))
            return false;
        // A family ends where the next tag starts.
        const int nameAt = m.capturedEnd(0);
        const int end = text.indexOf(QLatin1String("><GFFS_"), nameAt);
        if (end < 0)
            return false;
        list->append(text.mid(nameAt, end - nameAt));
        at = end + 1;
    }
}

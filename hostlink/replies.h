#ifndef KVX_HOST_REPLIES_H
#define KVX_HOST_REPLIES_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Readers of the panel's tagged replies. Each returns false for a reply that
// is not complete and well-formed.

struct ReportRow
{
    QString tag;
    QString meaning;
    QString value;
};

// The hardware report: 23 tagged values in a fixed order, then <HWCFEND>.
bool parseHardwareReport(const QByteArray &reply, QList<ReportRow> *rows);

// <LOTIZO:%4d>
bool parseTimeZone(const QByteArray &reply, int *minutes);

// <GETF:n>, n being -1 when the panel cannot send the file.
bool parseFileSize(const QByteArray &reply, qint64 *size);

// <CPUI:...> with 16 hexadecimal digits.
bool parseCpuId(const QByteArray &reply, QString *id);

// <GPFL_i:n:name>... <GPFL_END>
bool parseProjectList(const QByteArray &reply, QStringList *names);

// <GFFS_Ui:family>... <GFFS_Si:family>... <GFFS_END>
bool parseFontList(const QByteArray &reply, QStringList *user, QStringList *system);

#endif

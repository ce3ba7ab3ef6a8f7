#ifndef KVX_STATION_VALUES_H
#define KVX_STATION_VALUES_H

#include <QHash>
#include <QString>
#include <QStringList>

// The values file: CSV with a header line naming the columns, one of them
// "serial"; each further line holds the values of the panel with that serial
// number. Fields are separated by commas; a field in double quotes may hold
// commas and "" for a quote, and ends on its own line.
struct ValuesTable
{
    QString file;
    QStringList columns;
    QHash<QString, QHash<QString, QString>> rows; // by serial number
    QHash<QString, int> lineOf;                   // by serial number

    bool isEmpty() const { return file.isEmpty(); }
};

bool parseValues(const QString &file, const QByteArray &text, ValuesTable *table, QString *problem);
bool readValues(const QString &path, ValuesTable *table, QString *problem);

// Splits one CSV line; false with the problem (without place).
bool splitCsvLine(const QString &line, QStringList *fields, QString *problem);

#endif

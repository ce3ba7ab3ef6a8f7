// Reading the values file of a recipe run.

#include "values.h"

#include "recipe.h"

#include <algorithm>

namespace {

// What a panel's own values are called; a column may not take these names.
const char *const ownValues[] = { "model", "port", "index" };

bool checkHeader(const QStringList &columns, QString *problem)
{
    for (const QString &c : columns) {
        const bool nameOk = !c.isEmpty() && std::all_of(c.begin(), c.end(), [](QChar ch) {
            return ch.isLetterOrNumber() || ch == QLatin1Char('_') || ch == QLatin1Char('-');
        });
        if (!nameOk) {
            *problem = QStringLiteral("\"%1\" is not a column name (letters, digits, '_' or '-')").arg(c);
            return false;
        }
        for (const char *own : ownValues) {
            if (c == QLatin1String(own)) {
                *problem = QStringLiteral("the column \"%1\" would hide the panel's own value").arg(c);
                return false;
            }
        }
        if (columns.count(c) > 1) {
            *problem = QStringLiteral("the column \"%1\" appears twice").arg(c);
            return false;
        }
    }
    if (!columns.contains(QLatin1String("serial"))) {
        *problem = QStringLiteral("no \"serial\" column");
        return false;
    }
    return true;
}

} // namespace

bool splitCsvLine(const QString &line, QStringList *fields, QString *problem)
{
    fields->clear();
    int i = 0;
    for (;;) {
        QString field;
        if (line.mid(i, 1) == QLatin1String("\"")) {
            for (++i;; ++i) {
                if (i >= line.size()) {
                    *problem = QStringLiteral("a quoted value is not closed on its line");
                    return false;
                }
                if (line.at(i) == QLatin1Char('"')) {
                    if (line.mid(i + 1, 1) != QLatin1String("\""))
                        break;
                    ++i;
                }
                field += line.at(i);
            }
            ++i;
            if (i < line.size() && line.at(i) != QLatin1Char(',')) {
                *problem = QStringLiteral("text follows a quoted value");
                return false;
            }
        } else {
            const int end = line.indexOf(QLatin1Char(','), i);
            field = line.mid(i, end < 0 ? -1 : end - i);
            if (field.contains(QLatin1Char('"'))) {
                *problem = QStringLiteral("a quote inside a value that does not start with one");
                return false;
            }
            i = end < 0 ? line.size() : end;
        }
        fields->append(field);
        if (i >= line.size())
            return true;
        ++i; // the comma
    }
}

bool parseValues(const QString &file, const QByteArray &text, ValuesTable *table, QString *problem)
{
    QStringList lines;
    problem->clear();
    if (!splitLines(file, text, &lines, problem))
        return false;
    table->file = file;
    for (int i = 0; i < lines.size(); ++i) {
        const QString where = QStringLiteral("%1:%2: ").arg(file).arg(i + 1);
        if (lines.at(i).trimmed().isEmpty())
            continue;
        QStringList fields;
        bool ok = splitCsvLine(lines.at(i), &fields, problem);
        if (ok && table->columns.isEmpty()) {
            ok = checkHeader(fields, problem);
            table->columns = fields;
        } else if (ok) {
            QHash<QString, QString> row;
            for (int c = 0; c < fields.size() && c < table->columns.size(); ++c)
                row.insert(table->columns.at(c), fields.at(c));
            const QString serial = row.value(QStringLiteral("serial"));
            if (fields.size() != table->columns.size())
                *problem = QStringLiteral("%1 values where the header names %2")
                               .arg(fields.size())
                               .arg(table->columns.size());
            else if (serial.isEmpty())
                *problem = QStringLiteral("no serial number");
            else if (table->rows.contains(serial))
                *problem = QStringLiteral("serial number %1 is also on line %2")
                               .arg(serial)
                               .arg(table->lineOf.value(serial));
            ok = problem->isEmpty();
            table->rows.insert(serial, row);
            table->lineOf.insert(serial, i + 1);
        }
        if (!ok) {
            *problem = where + *problem;
            return false;
        }
    }
    if (table->columns.isEmpty()) {
        *problem = QStringLiteral("%1: no header line").arg(file);
        return false;
    }
    return true;
}

bool readValues(const QString &path, ValuesTable *table, QString *problem)
{
    QByteArray text;
    return readInputFile(path, &text, problem) && parseValues(path, text, table, problem);
}

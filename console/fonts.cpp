// Font families and the font removal list. The console keeps no font
// database of its own: the families and their files come from the dynamic
// properties "userFonts" (family -> list of file paths) and "systemFonts"
// (list of families) that the font registry publishes on the application
// object. They are read anew at every call, so a later publication shows in
// the next report.

#include "usb_console.h"

#include "replies.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QVariant>
#include <QVariantMap>
#include <cstdio>
#include <cstring>

static QVariant appProperty(const char *name)
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property(name) : QVariant();
}

// Anything but a map (or nothing at all) counts as an empty map.
static QVariantMap userFontMap()
{
    const QVariant v = appProperty("userFonts");
    if (v.userType() != QMetaType::QVariantMap && v.userType() != QMetaType::QVariantHash)
        return QVariantMap();
    return v.toMap();
}

QStringList USB_console::userFonts() const
{
    // QVariantMap keeps its keys in ascending order of their UTF-16 code
    // units, case-sensitively: the order the host is given.
    return userFontMap().keys();
}

QStringList USB_console::systemFonts() const
{
    const QVariant v = appProperty("systemFonts");
    return v.isValid() ? v.toStringList() : QStringList();
}

QStringList USB_console::fontFilesForFamily(QString const &family) const
{
    const QVariantMap map = userFontMap();
    const auto it = map.constFind(family);
    return it == map.constEnd() ? QStringList() : it->toStringList();
}

QString USB_console::getNameFromPath(QString const &path)
{
    QString text = path;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    text = text.trimmed();
    while (text.endsWith(QLatin1Char('/'))) {
        text.chop(1);
        text = text.trimmed();
    }
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

void USB_console::reportFontFamilies()
{
    const QStringList user = userFonts();
    for (int i = 0; i < user.size(); ++i) {
        const QString tag
            = QStringLiteral("<GFFS_U") + QString::number(i) + QLatin1Char(':') + user.at(i) + QLatin1Char('>');
        writeText(tag.toUtf8());
    }
    const QStringList system = systemFonts();
    for (int i = 0; i < system.size(); ++i) {
        const QString tag
            = QStringLiteral("<GFFS_S") + QString::number(i) + QLatin1Char(':') + system.at(i) + QLatin1Char('>');
        writeText(tag.toUtf8());
    }
    writeReply(reply::FontListEnd);
}

void USB_console::processRemoveStringList(int index, char *text)
{
    const char *name = text ? text : "";
    printf("RMFS %d %s\n", index, name);
    const bool end = strcmp(name, "END") == 0;

    if (index == 0) {
        removeList.clear();
        if (!end)
            removeList.append(QString::fromLocal8Bit(name));
    } else if (index > 0) {
        if (index != removeList.size()) {
            // Out of sequence: a step was lost or repeated. Nothing changes.
            writeReply(reply::RemoveFontsNak);
            return;
        }
        if (!end)
            removeList.append(QString::fromLocal8Bit(name));
    }
    // A missing or invalid index leaves the list as it is, but the list file
    // is still rewritten from it.

    deleteFontFiles();
    writeReply(reply::RemoveFontsAck);
}

// Each line of the list is read as the name of a file in the fonts
// directory, to be removed. A name that is empty, "." or "..", or that holds
// a line break (which would read as two names), would name something other
// than one font file, so such a name is never written.
static bool isSafeListName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('\n')) && !name.contains(QLatin1Char('\r'));
}

bool USB_console::deleteFontFiles()
{
    if (removeList.isEmpty())
        return true;

    QStringList names;
    for (const QString &family : removeList) {
        for (const QString &path : fontFilesForFamily(family)) {
            const QString name = getNameFromPath(path);
            if (isSafeListName(name))
                names.append(name);
        }
    }
    names.removeDuplicates();
    names.sort(Qt::CaseSensitive);
    if (names.isEmpty())
        return true;

    QDir dir(QCoreApplication::applicationDirPath());
    if (!dir.cd(QStringLiteral("fonts")))
        return false;
    QFile file(dir.filePath(QStringLiteral("removal")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray data = names.join(QLatin1Char('\n')).toUtf8();
    // A short write or a failing close would leave a list the reader cannot
    // trust; say so rather than claim it was written.
    const bool written = file.write(data) == data.size();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

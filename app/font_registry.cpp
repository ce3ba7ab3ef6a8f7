#include "font_registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantMap>

void publishUserFonts(QCoreApplication *app)
{
    // Qt's font database needs the GUI side of the application; without it
    // nothing is published and the console reports no font families.
    if (!qobject_cast<QGuiApplication *>(app))
        return;

    // Uploaded fonts keep the extension the host gave them, in any case.
    const QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
    const QFileInfoList files
        = dir.entryInfoList({ QStringLiteral("*.ttf"), QStringLiteral("*.otf") }, QDir::Files, QDir::Name);

    QVariantMap user;
    for (const QFileInfo &file : files) {
        const QString path = file.absoluteFilePath();
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0) {
            qWarning("font registry: %s is not a usable font", qPrintable(path));
            continue;
        }
        for (const QString &family : QFontDatabase::applicationFontFamilies(id)) {
            QStringList paths = user.value(family).toStringList();
            if (!paths.contains(path))
                paths.append(path);
            user.insert(family, paths);
        }
    }

    QStringList system;
    const QStringList families = QFontDatabase().families();
    for (const QString &family : families) {
        if (!user.contains(family))
            system.append(family);
    }
    system.removeDuplicates();
    system.sort(Qt::CaseSensitive);

    app->setProperty("userFonts", user);
    app->setProperty("systemFonts", system);
}

// The project file list: which files the panel holds in its project
// directory beside the application, one tag per file and an end tag.

#include "usb_console.h"

#include "replies.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <algorithm>

void USB_console::reportProjectFileList()
{
    QDir dir(QCoreApplication::applicationDirPath() + QStringLiteral("/qml/project"));
    QStringList names;
    if (dir.exists()) {
        // Files only: no directories, no symbolic links, no hidden files and,
        // since QDir::System is not asked for, no devices, pipes or sockets.
        names = dir.entryList(QDir::Files | QDir::NoSymLinks, QDir::Name);
        // The host expects the names ordered by their lower-case forms, code
        // unit by code unit, not by any locale's collation. Names that differ
        // only in case keep the case-sensitive order of the listing.
        std::stable_sort(names.begin(), names.end(),
                         [](const QString &a, const QString &b) { return a.toLower() < b.toLower(); });
    }

    int index = 0;
    for (const QString &name : names) {
        // The length is counted in UTF-16 code units, the bytes go in UTF-8.
        const QString tag = QStringLiteral("<GPFL_") + QString::number(index) + QLatin1Char(':')
            + QString::number(name.size()) + QLatin1Char(':') + name + QLatin1Char('>');
        writeText(tag.toUtf8());
        ++index;
    }

    messageLabel->setText(QStringLiteral("Sending..."));
    writeReply(reply::ProjectListEnd);
}

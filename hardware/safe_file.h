#ifndef KVX_SAFE_FILE_H
#define KVX_SAFE_FILE_H

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <unistd.h>

// Replaces the file `name` with `data` so that a crash or a power cut at any
// moment leaves under that name either the old file or the whole new one,
// never an empty or a partial file: the data go to a temporary file in the
// same directory, reach the disk, and only then does that file take the name.
// A name that is a symbolic link stays one (the file it points to is
// replaced), and the file keeps its permissions. Returns false, with the old
// file untouched and no temporary file left, when any step fails.
inline bool writeFileSafely(const QString &name, const QByteArray &data)
{
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The buffer is emptied and checked here: commit() does not report a
    // failure of its own last flush and would install a short file. The sync
    // is ours as well, because commit() ignores a failed one.
    if (file.write(data) != data.size() || !file.flush() || fsync(file.handle()) != 0)
        return false; // the destructor discards the temporary file
    return file.commit();
}

#endif

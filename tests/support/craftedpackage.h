#ifndef KVX_CRAFTED_PACKAGE_H
#define KVX_CRAFTED_PACKAGE_H

// Upgrade packages crafted entry by entry: a small tar writer, so that tests
// can make device nodes, absolute paths and foreign programs without root
// and without checking in binaries.

#include "package.h"

#include <QByteArray>
#include <QList>

namespace crafted {

struct Entry
{
    QByteArray name;
    char type = '0';
    int mode = 0755;
    QByteArray data, link;
    qint64 size = -1; // the size the header claims, if not the data's
};

inline QByteArray header(const Entry &e)
{
    QByteArray h(512, '\0');
    auto put = [&h](int at, const QByteArray &v) { h.replace(at, qMin(v.size(), 100), v.left(100)); };
    put(0, e.name);
    put(100, QByteArray::number(e.mode, 8).rightJustified(7, '0'));
    put(124, QByteArray::number(e.size < 0 ? e.data.size() : e.size, 8).rightJustified(11, '0'));
    put(148, "        ");
    h[156] = e.type;
    put(157, e.link);
    put(257, QByteArray("ustar\0" "00", 8));
    int sum = 0;
    for (char c : h)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
    return h;
}

inline QByteArray tarOf(const QList<Entry> &entries)
{
    QByteArray tar;
    for (const Entry &e : entries) {
        if (e.name.size() > 99) // GNU long name record
            tar += tarOf({ { "././@LongLink", 'L', 0644, e.name + '\0', {} } }).chopped(1024);
        tar += header(e) + e.data + QByteArray((512 - e.data.size() % 512) % 512, '\0');
    }
    return tar + QByteArray(1024, '\0');
}

inline QByteArray gzip(const QByteArray &data)
{
    QByteArray out;
    return gzipCompress(data, &out) ? out : QByteArray();
}

inline QByteArray elf(char bits, int machine)
{
    QByteArray h("\x7f" "ELF", 4);
    h += QByteArray(1, bits) + QByteArray(1, 1) + QByteArray(12, '\0');
    h += QByteArray(1, static_cast<char>(machine & 0xff)) + QByteArray(1, static_cast<char>(machine >> 8));
    return h + QByteArray(40, '\0');
}

// A 32-bit ARM program's start, and a script: what the panel can run.
inline const Entry pre{ "pre_install", '0', 0755, "#!/bin/sh\n", {} };
inline const Entry post{ "post_install", '0', 0755, elf(1, 40), {} };

} // namespace crafted

#endif

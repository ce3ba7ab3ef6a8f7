// The parameters of a command frame, parsed in place in cmdBuf: the angle-
// bracket values and the file announcement of LOAD and RTLD. Every search is
// bounded by the end of cmdBuf, so a frame that fills the buffer cannot lead
// a parser past it.

#include "usb_console.h"

#include "replies.h"

#include <QByteArray>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The longest size text a LOAD/RTLD frame may carry ("-2147483648").
const int maxSizeText = 11;
// Digits of the MD5 digest in an RTLD frame.
const int digestDigits = 32;

// How many bytes of the text at p lie inside the buffer before its NUL (or
// before the buffer's end when no NUL follows); -1 when p is not inside it.
long textRoom(const char *buf, size_t size, const char *p)
{
    const uintptr_t start = reinterpret_cast<uintptr_t>(buf);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    if (!p || at < start || at >= start + size)
        return -1;
    return static_cast<long>(strnlen(p, start + size - at));
}

// The first '>' after the '<' at p, within the text and the buffer.
char *closingBracket(char *buf, size_t size, char *p)
{
    const long room = textRoom(buf, size, p);
    if (room < 2)
        return nullptr;
    return static_cast<char *>(memchr(p + 1, '>', static_cast<size_t>(room - 1)));
}

bool opensParameter(const char *buf, size_t size, const char *p) { return textRoom(buf, size, p) > 0 && *p == '<'; }

bool startsWith(const char *buf, size_t size, const char *p, const char *keyword)
{
    const size_t n = strlen(keyword);
    const long room = textRoom(buf, size, p);
    return room >= 0 && static_cast<size_t>(room) >= n && memcmp(p, keyword, n) == 0;
}

// The value of a size text of length characters; strtol stops at its first
// non-digit, so a long text that is not a number is just an invalid size.
// Only a size that a 32-bit count can hold is usable.
bool sizeFromText(const char *text, int length, long *size)
{
    char sizeText[256];
    if (length >= static_cast<int>(sizeof sizeText))
        return false;
    memcpy(sizeText, text, static_cast<size_t>(length));
    sizeText[length] = '\0';
    errno = 0;
    *size = strtol(sizeText, nullptr, 10);
    return *size >= 1 && *size <= INT_MAX && errno != ERANGE;
}

} // namespace

char *USB_console::string_parse(char **out, char *p)
{
    *out = nullptr;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return p;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    *out = p + 1;
    return close + 1;
}

char *USB_console::value_parse(int *out, char *p, int min, int max)
{
    *out = -1;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return nullptr;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    // Compared before narrowing, and in 64 bits on every target (a 32-bit
    // long would saturate a huge number to the largest int), so a huge
    // number can neither wrap into the range nor stand in for its end.
    const long long number = strtoll(p + 1, nullptr, 10);
    if (number >= min && number <= max)
        *out = static_cast<int>(number);
    return close + 1;
}

char *USB_console::long_value_parse(unsigned long long *out, char *p)
{
    *out = ~0ULL;
    if (!opensParameter(cmdBuf, sizeof cmdBuf, p))
        return nullptr;
    char *close = closingBracket(cmdBuf, sizeof cmdBuf, p);
    if (!close)
        return p;
    *close = '\0';
    bool ok = false;
    const qulonglong number = QByteArray(p + 1).toULongLong(&ok, 10);
    if (!ok)
        return p;
    *out = number;
    return close + 1;
}

char *USB_console::state_parse(int *out, char *p)
{
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<HI>")) {
        *out = 1;
        return p + 4;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<LO>")) {
        *out = 0;
        return p + 4;
    }
    *out = -1;
    return p;
}

char *USB_console::in_out_parse(int *out, char *p)
{
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<IN>")) {
        *out = 1;
        return p + 4;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<OUT>")) {
        *out = 2;
        return p + 5;
    }
    if (startsWith(cmdBuf, sizeof cmdBuf, p, "<UNU>")) {
        *out = 0;
        return p + 5;
    }
    *out = -1;
    return p;
}

// "#LOAD<name>size#", and for RTLD "#RTLD<name>[32 hex digits]size#".
// A name that does not fit fileName, or a size number written with more
// characters than a 32-bit number needs, refuses the whole frame: nothing is
// stored or answered, and no name is ever cut into another one.
void USB_console::file_name_parse(LoadKind kind)
{
    const int end = cmdIndex; // the closing '#'
    if (end < 5 || end >= static_cast<int>(sizeof cmdBuf))
        return;

    int close = 4; // no name: the size text starts right after the word
    if (cmdBuf[5] == '<' && end > 6) {
        for (int i = 6; i < end; ++i) {
            if (cmdBuf[i] == '>') {
                close = i;
                break;
            }
        }
    }
    const int nameLength = close > 6 ? close - 6 : 0;
    if (nameLength > static_cast<int>(sizeof fileName) - 1) {
        printf("CXM: File Name Too Long\n");
        return;
    }

    int sizeStart = close + 1;
    const bool withDigest = kind == FirmwareLoad && cmdBuf[close + 1] == '[' && close + digestDigits + 2 < end
        && cmdBuf[close + digestDigits + 2] == ']';
    if (withDigest)
        sizeStart = close + digestDigits + 3;

    // The size text runs up to the closing '#'.
    const int sizeLength = end - sizeStart;
    long size = 0;
    const bool sizeValid = sizeLength > 0 && sizeFromText(cmdBuf + sizeStart, sizeLength, &size);
    if (sizeValid && sizeLength > maxSizeText) {
        printf("CXM: File Size Too Long\n");
        return;
    }

    memcpy(fileName, cmdBuf + 6, static_cast<size_t>(nameLength));
    fileName[nameLength] = '\0';
    if (withDigest) {
        memcpy(fileHash, cmdBuf + close + 2, digestDigits);
        fileHash[digestDigits] = '\0';
        printf("CXM: Hash Get %s\n", fileHash);
    }

    if (sizeLength <= 0)
        return;
    if (!sizeValid) {
        totalSize = 0;
        remainSize = 0;
        printf("CXM: Invalid File Size\n");
        return;
    }
    totalSize = static_cast<int>(size);
    remainSize = static_cast<unsigned int>(size);
    writeReply(kind == FirmwareLoad ? reply::RuntimeLoadAck : reply::LoadAck);
    emit ConsoleStartXmodem();
}

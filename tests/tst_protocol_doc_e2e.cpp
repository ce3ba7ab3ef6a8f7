// docs/protocol.md replayed: every ```exchange block of the document is sent
// to a simulated panel, in order, and the panel's bytes are compared with the
// document's. A document that drifts from the panel fails here.

#include "panelsession.h"
#include "xmodem.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

namespace {

// One piece of an expected reply: literal bytes, or a value (any bytes up
// to the next '>') where the panel reports what it measured.
struct Piece
{
    QByteArray bytes;
    bool value = false;
};

struct Step
{
    char kind; // '>' host sends, '<' panel sends, '~' panel sends a leading part of, '=' pause
    QList<Piece> pieces;
    int pauseMs = 0;
};

const QHash<QString, char> names{ { "SOH", 1 }, { "STX", 2 }, { "EOT", 4 }, { "ACK", 6 }, { "NAK", 0x15 },
                                  { "CAN", 0x18 }, { "SUB", 0x1A }, { "LF", '\n' }, { "CR", '\r' } };

bool parseLine(const QString &line, Step *step, QString *error)
{
    static const QRegularExpression token("\\s*(?:\"((?:[^\"\\\\]|\\\\.)*)\"|(0x[0-9A-Fa-f]{2})|([A-Z]+))(?:\\*(\\d+))?");
    const QString head = line.section(' ', 0, 0);
    step->kind = head == "<~" ? '~' : head.at(0).toLatin1();
    if (step->kind == '=') {
        step->pauseMs = line.mid(1).trimmed().toInt();
        return step->pauseMs > 0;
    }
    QByteArray lit;
    for (int at = head.size(); at < line.size();) {
        const QRegularExpressionMatch m = token.match(line, at, QRegularExpression::NormalMatch, QRegularExpression::AnchoredMatchOption);
        if (!m.hasMatch()) {
            *error = "cannot read: " + line.mid(at);
            return false;
        }
        at = m.capturedEnd();
        QByteArray one;
        if (m.capturedLength(1) || m.captured(0).trimmed().startsWith('"'))
            one = m.captured(1).replace("\\n", "\n").replace("\\r", "\r").replace("\\\"", "\"").replace("\\\\", "\\").toLatin1();
        else if (m.capturedLength(2))
            one = QByteArray(1, static_cast<char>(m.captured(2).toInt(nullptr, 16)));
        else if (m.captured(3) == "CRC") {
            const unsigned crc = xmodem::crc16(reinterpret_cast<const unsigned char *>(lit.right(1024).constData()), 1024);
            one = QByteArray(1, static_cast<char>(crc >> 8)) + static_cast<char>(crc & 0xff);
        } else if (m.captured(3) == "VALUE") {
            step->pieces += { lit, false };
            step->pieces += { {}, true };
            lit.clear();
            continue;
        } else if (names.contains(m.captured(3))) {
            one = QByteArray(1, names.value(m.captured(3)));
        } else {
            *error = "unknown name " + m.captured(3);
            return false;
        }
        lit += one.repeated(m.capturedLength(4) ? m.captured(4).toInt() : 1);
    }
    step->pieces += { lit, false };
    return true;
}

// -1: buf cannot become the pieces; 0: not yet; else the bytes matched.
int match(const QList<Piece> &pieces, const QByteArray &buf)
{
    int at = 0;
    for (const Piece &p : pieces) {
        if (p.value) {
            const int end = buf.indexOf('>', at);
            if (end < 0)
                return 0;
            at = end;
            continue;
        }
        const int n = qMin(p.bytes.size(), buf.size() - at);
        if (buf.mid(at, n) != p.bytes.left(n))
            return -1;
        if (n < p.bytes.size())
            return 0;
        at += n;
    }
    return at;
}

} // namespace

class tst_protocol_doc_e2e : public QObject
{
    Q_OBJECT
    PanelSession panel;

    // Waits until the panel's bytes, after a leading part of cut, are the pieces.
    bool expect(const QList<Piece> &pieces, const QByteArray &cut, QString *error)
    {
        QDeadlineTimer deadline(10000);
        for (;;) {
            const QByteArray &buf = panel.link.buffer();
            bool mayGrow = false;
            for (int k = 0; k <= cut.size() && buf.startsWith(cut.left(qMin(k, buf.size()))); ++k) {
                const int n = k <= buf.size() ? match(pieces, buf.mid(k)) : 0;
                if (n > 0) {
                    panel.link.buffer().remove(0, k + n);
                    return true;
                }
                mayGrow = mayGrow || n == 0;
            }
            if (!mayGrow || deadline.hasExpired()) {
                *error = QStringLiteral("the panel sent \"%1\"").arg(QString::fromLatin1(buf.left(200).toPercentEncoding(" #<>:_")));
                return false;
            }
            panel.pump(20);
        }
    }

private slots:
    void initTestCase()
    {
        panel.sysroot.populate();
        panel.sysroot.makeAppDir("tmp");
        QVERIFY(panel.start());
    }

    // A block that failed leaves its bytes behind: the next one starts clean.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            panel.readFor(500);
    }

    void examples_data()
    {
        QTest::addColumn<QStringList>("lines");
        QFile doc(KVX_PROTOCOL_DOC);
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QStringList all = QString::fromUtf8(doc.readAll()).split('\n');
        int blocks = 0;
        for (int i = 0; i < all.size(); ++i) {
            if (all.at(i).trimmed() != "```exchange")
                continue;
            QStringList lines;
            const int first = i + 1;
            while (++i < all.size() && all.at(i).trimmed() != "```")
                lines << all.at(i);
            QTest::newRow(qPrintable(QString("exchange at line %1").arg(first))) << lines;
            ++blocks;
        }
        QVERIFY2(blocks >= 10, "the document lost its examples");
    }

    void examples()
    {
        QFETCH(QStringList, lines);
        QByteArray cut;
        for (const QString &line : lines) {
            Step step;
            QString error;
            if (line.trimmed().isEmpty() || line.startsWith("--"))
                continue;
            QVERIFY2(parseLine(line, &step, &error), qPrintable(line + ": " + error));
            if (step.kind == '>')
                panel.send(step.pieces.value(0).bytes);
            else if (step.kind == '=')
                for (QDeadlineTimer pause(step.pauseMs); !pause.hasExpired();)
                    panel.pump(static_cast<int>(qMax<qint64>(1, pause.remainingTime())));
            else if (step.kind == '~')
                cut = step.pieces.value(0).bytes;
            else
                QVERIFY2(expect(step.pieces, std::exchange(cut, QByteArray()), &error), qPrintable(line + ": " + error));
        }
    }
};

QTEST_GUILESS_MAIN(tst_protocol_doc_e2e)
#include "tst_protocol_doc_e2e.moc"

// docs/protocol.md replayed: every ```exchange block of the document is sent
// to a simulated panel, in order, through the host link library, and the
// panel's bytes are compared with the document's. A document that drifts from
// the panel fails here.

#include "panelsession.h"
#include "xmodem.h"

#include <QtTest>

static const QHash<QString, char> names{ { "SOH", 1 }, { "STX", 2 }, { "EOT", 4 }, { "ACK", 6 }, { "NAK", 0x15 },
                                         { "CAN", 0x18 }, { "SUB", 0x1A }, { "LF", '\n' }, { "CR", '\r' } };

// A line's tokens as bytes, and as a pattern in which VALUE stands for a
// measured value (anything up to the next '>'). False on a token it cannot
// read, and on a CRC with fewer than 1024 bytes before it.
static bool tokens(const QString &text, QByteArray *bytes, QString *pattern)
{
    static const QRegularExpression token("\\s*(?:\"((?:[^\"\\\\]|\\\\.)*)\"|0x([0-9A-Fa-f]{2})|([A-Z]+))(?:\\*(\\d+))?");
    auto crc = [bytes] {
        const unsigned c = xmodem::crc16(reinterpret_cast<const unsigned char *>(bytes->right(1024).constData()), 1024);
        return QByteArray(1, static_cast<char>(c >> 8)) + static_cast<char>(c & 0xff);
    };
    for (int at = 0; at < text.size();) {
        const QRegularExpressionMatch m = token.match(text, at, QRegularExpression::NormalMatch,
                                                      QRegularExpression::AnchoredMatchOption);
        const QString word = m.captured(3);
        if (!m.hasMatch() || (word == "CRC" && bytes->size() < 1024)
            || !(word.isEmpty() || word == "CRC" || word == "VALUE" || names.contains(word)))
            return false;
        at = m.capturedEnd();
        QByteArray one = word == "CRC" ? crc() : QByteArray(1, names.value(word));
        if (m.capturedLength(2))
            one = QByteArray(1, static_cast<char>(m.captured(2).toInt(nullptr, 16)));
        else if (word.isEmpty())
            one = m.captured(1).replace("\\n", "\n").replace("\\r", "\r").replace("\\\"", "\"").replace("\\\\", "\\").toLatin1();
        one = one.repeated(m.capturedLength(4) ? m.captured(4).toInt() : 1);
        *bytes += word == "VALUE" ? QByteArray() : one;
        *pattern += word == "VALUE" ? QStringLiteral("[^>]*") : QRegularExpression::escape(QString::fromLatin1(one));
    }
    return true;
}

class tst_protocol_doc_e2e : public QObject
{
    Q_OBJECT
    PanelSession panel;
    QByteArray &input = panel.link.buffer(); // the panel's bytes not matched yet

    // Waits until the panel's bytes match the pattern, or cannot any more.
    bool expect(const QString &pattern, QString *error)
    {
        const QRegularExpression re("^(?:" + pattern + ")");
        for (QDeadlineTimer deadline(10000);; panel.link.fill(20)) {
            const QString got = QString::fromLatin1(input);
            const QRegularExpressionMatch m = re.match(got, 0, QRegularExpression::PartialPreferCompleteMatch);
            if (m.hasMatch()) {
                input.remove(0, m.capturedLength());
                return true;
            }
            if ((!got.isEmpty() && !m.hasPartialMatch()) || deadline.hasExpired()) {
                *error = "the panel sent \"" + QString::fromLatin1(input.left(200).toPercentEncoding(" #<>:_")) + '"';
                return false;
            }
        }
    }

private slots:
    void initTestCase()
    {
        panel.sysroot.makeAppDir("tmp");
        QVERIFY(panel.start());
    }

    void examples_data()
    {
        QTest::addColumn<QStringList>("lines");
        QFile doc(KVX_PROTOCOL_DOC);
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QString all = QString::fromUtf8(doc.readAll());
        const QRegularExpression block("^```exchange\\n(.*?)^```$", QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
        int blocks = 0;
        for (QRegularExpressionMatchIterator it = block.globalMatch(all); it.hasNext(); ++blocks) {
            const QRegularExpressionMatch m = it.next();
            QTest::newRow(qPrintable(QString("exchange at line %1").arg(all.left(m.capturedStart(1)).count('\n')))) << m.captured(1).split('\n');
        }
        QVERIFY2(blocks >= 10, "the document lost its examples");
    }

    void examples()
    {
        QFETCH(QStringList, lines);
        QString leading, error;
        input.clear(); // what a block that failed left behind
        for (const QString &line : lines) {
            const QString kind = line.section(' ', 0, 0), rest = line.section(' ', 1);
            QByteArray bytes;
            QString pattern;
            if (kind == "--" || line.trimmed().isEmpty())
                continue;
            if (kind == "=")
                for (QDeadlineTimer pause(rest.toInt()); !pause.hasExpired();)
                    panel.link.fill(static_cast<int>(qMax<qint64>(1, pause.remainingTime())));
            else if (!tokens(rest, &bytes, &pattern) || (kind != ">" && kind != "<" && kind != "<~" && kind != "!"))
                QFAIL(qPrintable("cannot read: " + line));
            else if (kind == ">")
                QCOMPARE(panel.link.host().write(bytes, QDeadlineTimer(5000)), hostlink::Link::Ok);
            else if (kind == "!") // a line of the panel's own log, after those matched before
                QVERIFY2(panel.waitForLine(QString::fromLatin1(bytes), 10000, true), qPrintable("not logged: " + line));
            else if (kind == "<~") // any leading part of the bytes: (?:a(?:b(?:c)?)?)?
                for (auto b = bytes.crbegin(); b != bytes.crend(); ++b)
                    leading = "(?:" + QRegularExpression::escape(QString(QLatin1Char(*b))) + leading + ")?";
            else
                QVERIFY2(expect(std::exchange(leading, QString()) + pattern, &error), qPrintable(line + ": " + error));
        }
    }
};

QTEST_GUILESS_MAIN(tst_protocol_doc_e2e)
#include "tst_protocol_doc_e2e.moc"

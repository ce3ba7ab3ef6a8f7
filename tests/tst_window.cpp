// The recovery window right after start, and a Reboot button that does
// nothing until the host has saved.

#include "console_probe.h"
#include "kvx_recovery.h"
#include "testsysroot.h"

#include <QPushButton>
#include <QtTest>

class tst_window : public QObject
{
    Q_OBJECT

private slots:
    void afterStart()
    {
        TestSysroot sysroot;
        sysroot.writeAppFile("version.txt", "FMW<4.1.0.7>\n");
        sysroot.activate();
        QVERIFY(QStandardPaths::findExecutable("reboot").startsWith(sysroot.root() + '/'));
        kvx_recovery window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStringList texts;
        for (const QLabel *label : window.findChildren<QLabel *>())
            texts << label->text();
        for (const char *text : { "MVK 200", "0214000510000001", "4.1.0.7", "Step 3: Press reboot button." })
            QVERIFY2(texts.contains(text), text);
        USB_console &console = *window.console;
        QVERIFY(console.statusLabel->isVisible() && !console.progressBar->isVisible() && !console.rebootButton->isEnabled());
        console.rebootButton->setEnabled(true); // even a programmatic click reaches nothing until the host saves
        console.rebootButton->click();
        QVERIFY(!ConsoleProbe::upgradeTimer(console)->isActive() && console.statusLabel->text().isEmpty());
    }
};

QTEST_MAIN(tst_window)
#include "tst_window.moc"

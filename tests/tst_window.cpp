// The recovery window: what the operator sees right after start.

#include "hdw_config.h"
#include "kvx_recovery.h"
#include "testsysroot.h"
#include "usb_console.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

class ConsoleProbe
{
public:
    static bool rebootPending(USB_console *c) { return c->upgradeTimer->isActive(); }
};

class tst_window : public QObject
{
    Q_OBJECT

private slots:
    void layoutInOrder();
    void rebootStartsDisabledAndUnconnected();
};

static QString labelText(QLayoutItem *item)
{
    QLabel *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
    return label ? label->text() : QStringLiteral("<not a label>");
}

void tst_window::layoutInOrder()
{
    TestSysroot sysroot;
    sysroot.populate();
    sysroot.writeAppFile("version.txt", "FMW<4.1.0.7>\n");
    sysroot.activate();
    kvx_recovery window;

    auto *column = qobject_cast<QVBoxLayout *>(window.layout());
    QVERIFY(column);
    QCOMPARE(column->count(), 11);
    QCOMPARE(labelText(column->itemAt(0)), QStringLiteral("Recovery Utility 1.2"));

    auto *grid = qobject_cast<QGridLayout *>(column->itemAt(1)->layout());
    QVERIFY(grid);
    const QStringList captions { "Model:", "S/N:", "Firmware Version:" };
    const QStringList values { QString::fromLatin1(window.hwConfig->modelNumber()),
                               QString::fromLatin1(window.hwConfig->readSerialNo()),
                               QStringLiteral("4.1.0.7") };
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(labelText(grid->itemAtPosition(row, 0)), captions.at(row));
        QCOMPARE(labelText(grid->itemAtPosition(row, 1)), values.at(row));
    }

    QCOMPARE(column->itemAt(2)->widget(), window.console->statusLabel);
    QCOMPARE(column->itemAt(3)->widget(), window.console->messageLabel);
    QCOMPARE(column->itemAt(4)->widget(), window.console->progressBar);
    QVERIFY(window.console->statusLabel->text().isEmpty());
    QVERIFY(window.console->messageLabel->text().isEmpty());

    QSpacerItem *spacing = column->itemAt(5)->spacerItem();
    QVERIFY(spacing);
    QCOMPARE(spacing->sizeHint().height(), 50);

    QCOMPARE(labelText(column->itemAt(6)), QStringLiteral("Step 1: Upload new project to the device."));
    QCOMPARE(labelText(column->itemAt(7)), QStringLiteral("Step 2: Remove boot link before reboot."));
    QCOMPARE(labelText(column->itemAt(8)), QStringLiteral("Step 3: Press reboot button."));
    QCOMPARE(column->itemAt(9)->widget(), window.console->rebootButton);
    QCOMPARE(window.console->rebootButton->text(), QStringLiteral("Reboot"));
    QVERIFY(column->itemAt(10)->spacerItem());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.console->progressBar->isVisible());
    QVERIFY(window.console->statusLabel->isVisible());
}

void tst_window::rebootStartsDisabledAndUnconnected()
{
    TestSysroot sysroot;
    sysroot.populate();
    sysroot.activate();
    QCOMPARE(QStandardPaths::findExecutable("reboot").left(sysroot.root().size()), sysroot.root());
    kvx_recovery window;
    window.show();
    QPushButton *reboot = window.console->rebootButton;
    QVERIFY(!reboot->isEnabled());
    QSignalSpy clicked(reboot, &QPushButton::clicked);
    QTest::mouseClick(reboot, Qt::LeftButton);
    QCOMPARE(clicked.count(), 0);
    // Even a programmatic click reaches nothing until the host saves.
    reboot->setEnabled(true);
    reboot->click();
    QCOMPARE(clicked.count(), 1);
    // The click would schedule the reboot step at once; nothing is pending.
    QVERIFY(!ConsoleProbe::rebootPending(window.console));
    QVERIFY(window.console->statusLabel->text().isEmpty());
}

QTEST_MAIN(tst_window)
#include "tst_window.moc"

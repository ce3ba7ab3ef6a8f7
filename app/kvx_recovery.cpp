#include "kvx_recovery.h"

#include "hdw_config.h"
#include "usb_console.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

static QString latin1Text(const char *text) { return text ? QString::fromLatin1(text) : QString(); }

kvx_recovery::kvx_recovery(QWidget *parent)
    : QWidget(parent)
{
    hwConfig = new HDW_config(this);
    console = new USB_console(this, hwConfig);
    // After BOOT, or a link that broke in the middle of a frame or a send,
    // the console serves no more: the process ends, and the service that
    // started it starts a fresh one for the next host.
    connect(console, &USB_console::RequestExit, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    QLabel *title = new QLabel(QStringLiteral("Recovery Utility 1.2"));
    QLabel *modelCaption = new QLabel(QStringLiteral("Model:"));
    QLabel *serialCaption = new QLabel(QStringLiteral("S/N:"));
    QLabel *firmwareCaption = new QLabel(QStringLiteral("Firmware Version:"));
    QLabel *step1 = new QLabel(QStringLiteral("Step 1: Upload new project to the device."));
    QLabel *step2 = new QLabel(QStringLiteral("Step 2: Remove boot link before reboot."));
    QLabel *step3 = new QLabel(QStringLiteral("Step 3: Press reboot button."));

    // Enabled and connected only once the host has saved the configuration.
    QPushButton *reboot = new QPushButton(QStringLiteral("Reboot"));
    console->rebootButton = reboot;
    reboot->setEnabled(false);

    QLabel *model = new QLabel;
    QLabel *serial = new QLabel;
    QLabel *firmware = new QLabel;
    model->setText(latin1Text(hwConfig->modelNumber()));
    serial->setText(latin1Text(hwConfig->readSerialNo()));
    firmware->setText(latin1Text(hwConfig->firmwareVersion()));

    QGridLayout *grid = new QGridLayout;
    grid->addWidget(modelCaption, 0, 0);
    grid->addWidget(model, 0, 1);
    grid->addWidget(serialCaption, 1, 0);
    grid->addWidget(serial, 1, 1);
    grid->addWidget(firmwareCaption, 2, 0);
    grid->addWidget(firmware, 2, 1);

    QVBoxLayout *column = new QVBoxLayout;
    column->addWidget(title);
    column->addLayout(grid);
    column->addWidget(console->statusLabel);
    column->addWidget(console->messageLabel);
    column->addWidget(console->progressBar);
    column->addSpacing(50);
    column->addWidget(step1);
    column->addWidget(step2);
    column->addWidget(step3);
    column->addWidget(reboot);
    column->addStretch();
    setLayout(column);
}

kvx_recovery::~kvx_recovery() = default;

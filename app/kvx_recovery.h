#ifndef KVX_RECOVERY_H
#define KVX_RECOVERY_H

#include <QWidget>

class HDW_config;
class USB_console;

// The recovery window: the panel's identity, the console's status lines and
// progress bar, three instructions and the Reboot button.
class kvx_recovery : public QWidget
{
    Q_OBJECT

public:
    explicit kvx_recovery(QWidget *parent = nullptr);
    ~kvx_recovery() override;

    HDW_config *hwConfig;
    USB_console *console;
};

#endif

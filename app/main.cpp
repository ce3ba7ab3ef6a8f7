#include "font_registry.h"
#include "kvx_recovery.h"
#include "platform.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Diagnostics are read through pipes by tests and service logs: each line
    // must leave the process as soon as it is complete.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const int refused = platform::init();
    if (refused >= 0)
        return refused;

    QApplication app(argc, argv);
    publishUserFonts(&app);
    kvx_recovery window;
    window.show();
    return app.exec();
}

#ifndef KVX_FONT_REGISTRY_H
#define KVX_FONT_REGISTRY_H

class QCoreApplication;

// Registers the fonts of the application's "fonts" directory with Qt and
// publishes the dynamic properties "userFonts" (family -> file paths) and
// "systemFonts" (the other families) on the application object.
void publishUserFonts(QCoreApplication *app);

#endif

#ifndef KVX_FONT_REGISTRY_H
#define KVX_FONT_REGISTRY_H

class QCoreApplication;

// Registers the fonts of the application's "fonts" directory with Qt and
// publishes the dynamic properties "userFonts" (family -> file paths) and
// "systemFonts" (the other families, sorted) on the application object.
// Runs once at start-up: a font that an upload moves into "fonts" later is
// offered from the next start on.
void publishUserFonts(QCoreApplication *app);

#endif

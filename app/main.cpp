// KADRIN CW Telemetry Decoder: the window program.

#include "app/configuration.h"
#include "app/form1.h"
#include "app/module1.h"

#include <QApplication>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace {
// The window needs a display; without one, say so instead of aborting.
bool displayAvailable() {
    const auto set = [](const char *name) {
        const char *value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}
} // namespace

int main(int argc, char *argv[]) {
    if (!displayAvailable()) {
        std::fputs("kadrin: no display found (DISPLAY is not set); run it as "
                   "'xvfb-run kadrin', or decode logs with 'kadrin-decode FILE'.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // conf.ini lives beside the program and is read once, here.
    const QString programDirectory = QCoreApplication::applicationDirPath();
    Module1::ConfigPath = programDirectory + QStringLiteral("/conf.ini");
    Configuration defaults;
    defaults.imageDirectory = programDirectory + QLatin1Char('/');
    Form1 window(readConfiguration(Module1::ConfigPath, defaults));
    window.show();
    return app.exec();
}

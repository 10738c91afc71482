#include "tavlo/VudareDiVez.h"

#include "base/ProgramProperties.h"
#include "base/SystemProperties.h"
#include "tavlo/WindowDialogs.h"
#include "tavlo/util/WindowInstance.h"

#include <QApplication>
#include <QLocale>
#include <QTextStream>
#include <memory>

namespace tavlo {

void VudareDiVez::setDefaultProperties() {
    base::setProgramProperties();
}

int VudareDiVez::run(const std::optional<QString>& port, VudareDiVezFrame2::Options options) {
    QLocale::setDefault(QLocale(QStringLiteral("en")));
    // The platform's own style is Qt's default; nothing to choose here. The desktop entry's name lets a
    // Wayland compositor show the installed icon and name for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.corvane.Tavlo"));
    std::unique_ptr<VudareDiVezFrame2> window;
    try {
        window = std::make_unique<VudareDiVezFrame2>(port, options);
    } catch (const FatalStartupError& fatal) {
        QTextStream(stderr) << fatal.title << ": " << fatal.text << '\n';
        QtWindowDialogs ownDialogs;
        WindowDialogs& dialogs = options.dialogs ? *options.dialogs : ownDialogs;
        dialogs.showMessage(fatal.title, fatal.text, WindowDialogs::Icon::Error);
        return fatal.status;
    }
    const int status = QApplication::exec();
    window.reset();
    return status;
}

int VudareDiVez::runWindow(const std::optional<QString>& port) {
    QTextStream err(stderr);
    QString error;
    const auto location = util::WindowInstance::forThisUser(&error);
    std::unique_ptr<util::WindowInstance> instance;
    if (location) {
        instance = std::make_unique<util::WindowInstance>(*location);
        const util::WindowInstance::Claim claim = instance->claim(port);
        switch (claim.outcome) {
        case util::WindowInstance::Outcome::Forwarded:
            if (port && !port->isEmpty())
                err << "tavlo: a Tavlo window is open already and keeps "
                    << (claim.text.isEmpty() ? QStringLiteral("its own port")
                                             : QStringLiteral("its port ") + claim.text)
                    << "; " << *port << " is not used.\n";
            return 0;
        case util::WindowInstance::Outcome::Refused: {
            err << "tavlo: " << claim.text << '\n';
            err.flush();
            // Started from a menu, the user sees no standard error.
            QGuiApplication::setDesktopFileName(QStringLiteral("com.corvane.Tavlo"));
            const bool qx = base::SystemProperties::get(QStringLiteral("EDITION"), QString()) == QLatin1String("QX");
            QtWindowDialogs dialogs;
            dialogs.showMessage(qx ? QStringLiteral("Tavlo QX is in use") : QStringLiteral("Tavlo is in use"),
                                claim.text, WindowDialogs::Icon::Warning);
            return 1;
        }
        case util::WindowInstance::Outcome::Own:
            if (!claim.warning.isEmpty())
                err << "tavlo: " << claim.warning << '\n';
            break;
        }
    } else {
        err << "tavlo: " << error << "; a second start of Tavlo will open a second window.\n";
    }
    VudareDiVezFrame2::Options options;
    options.instance = instance.get();
    return run(port, options);
}

} // namespace tavlo

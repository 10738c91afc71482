#include "tavlo/VudareDiVez.h"

#include "base/ProgramProperties.h"
#include "tavlo/WindowDialogs.h"

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

} // namespace tavlo

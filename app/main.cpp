#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

#include "ui/app_info.h"
#include "ui/frm_main.h"
#include "ui/qt_desktop.h"

namespace {

// Exit status for a command line the program does not understand.
constexpr int kUsageError = 2;

void describeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Divides a large file into chunks and glues the chunks back."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("file"),
        QStringLiteral("A division header (.hed) to glue, or any other file to divide."),
        QStringLiteral("[file]"));
}

// True when `name` may be an option that QApplication takes for itself.
bool isWindowSystemOption(const QString& name) {
    static const QStringList names = {QStringLiteral("platform"),
                                      QStringLiteral("platformpluginpath"),
                                      QStringLiteral("platformtheme"),
                                      QStringLiteral("plugin"),
                                      QStringLiteral("qwindowgeometry"),
                                      QStringLiteral("qwindowicon"),
                                      QStringLiteral("qwindowtitle"),
                                      QStringLiteral("reverse"),
                                      QStringLiteral("session"),
                                      QStringLiteral("display"),
                                      QStringLiteral("geometry"),
                                      QStringLiteral("style"),
                                      QStringLiteral("stylesheet"),
                                      QStringLiteral("widgetcount"),
                                      QStringLiteral("title"),
                                      QStringLiteral("name"),
                                      QStringLiteral("visual"),
                                      QStringLiteral("ncols"),
                                      QStringLiteral("cmap"),
                                      QStringLiteral("nograb"),
                                      QStringLiteral("dograb"),
                                      QStringLiteral("sync"),
                                      QStringLiteral("fontengine"),
                                      QStringLiteral("dialogs"),
                                      QStringLiteral("testability"),
                                      QStringLiteral("qmljsdebugger")};
    return names.contains(name);
}

// Reads the command line; the exit status when the program ends without a
// window. Until `final`, an option it does not know may be one of the window
// system's, which only QApplication takes away, so it is left for later.
std::optional<int> readCommandLine(QCommandLineParser& parser, bool final) {
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (!parsed && !final) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty() ||
            std::any_of(unknown.begin(), unknown.end(), isWindowSystemOption)) {
            return std::nullopt;
        }
    }
    if (!parsed || parser.positionalArguments().size() > 1) {
        const QString error =
            parsed ? QStringLiteral("Only one file can be opened.") : parser.errorText();
        std::fprintf(stderr, "%s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return kUsageError;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QString::fromLatin1(morvane::kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    QCommandLineParser parser;
    describeCommandLine(parser);
    {
        // Help, the version and most mistakes are answered without a display.
        QCoreApplication reader(argc, argv);
        if (const std::optional<int> status = readCommandLine(parser, false)) return *status;
    }

    QApplication application(argc, argv);
    // Desktops match the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));
    if (const std::optional<int> status = readCommandLine(parser, true)) return *status;

    morvane::QtDesktop desktop;
    morvane::frmMain window(desktop);
    window.show();
    window.centreOnScreen();
    if (!parser.positionalArguments().isEmpty()) {
        const QString file = parser.positionalArguments().constFirst();
        // Opened from the event loop, so that its messages stand over a shown window.
        QTimer::singleShot(0, &window, [&window, file] { window.openPath(file); });
    }
    return application.exec();
}

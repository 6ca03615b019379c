#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "cli/command_line.h"
#include "ui/app_info.h"
#include "ui/frm_main.h"
#include "ui/qt_desktop.h"

namespace {

// Exit status for a command line the program does not understand.
constexpr int kUsageError = 2;
// Exit status when the window is asked for but there is nothing to show it on.
constexpr int kNoDisplay = 1;

void describeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Divides a large file into chunks and glues the chunks back.\n"
                       "Without a command, opens the window, on the file when one is given.\n\n") +
        QString::fromStdString(morvane::commandsHelp()));
    // Qt's own options are single-dash words (-platform, -style, -reverse); so are ours.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("file"),
        QStringLiteral("A division header (.hed), or the recovery index (.par2) of a set whose\n"
                       "header is lost, to glue; or any other file to divide."),
        QStringLiteral("[file]"));
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("A command to run without the window (listed above)."),
        QStringLiteral("| COMMAND ..."));
}

// True when neither the environment nor the command line says where a window
// would go: no display, no Wayland compositor, no window system chosen.
bool hasNoDisplay(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

// The window program: started by the launcher, `morvane`, for anything that
// is not a command, with the launcher's own arguments.
int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QString::fromLatin1(morvane::kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(MORVANE_VERSION));
    // Help, the version and usage errors need no display. Without one, the
    // window system that needs none is taken, so that they are still answered.
    const bool noDisplay = hasNoDisplay(argc, argv);
    if (noDisplay) qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    // Desktops match the window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));

    // QApplication has taken its own options out of the arguments by now.
    QCommandLineParser parser;
    describeCommandLine(parser);
    if (!parser.parse(QCoreApplication::arguments()) || parser.positionalArguments().size() > 1) {
        const QString error = parser.errorText().isEmpty()
                                  ? QStringLiteral("Only one file can be opened.")
                                  : parser.errorText();
        std::fprintf(stderr, "%s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return kUsageError;
    }
    // --help, --help-all and --version are answered here and end the program.
    parser.process(application);
    if (noDisplay) {
        std::fputs(
            "No display to show the window on: neither DISPLAY nor WAYLAND_DISPLAY is set.\n",
            stderr);
        return kNoDisplay;
    }

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

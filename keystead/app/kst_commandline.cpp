#include "kst_commandline.h"

#include "kst_version.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

namespace {

struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("?"), QStringLiteral("help")},
                            QStringLiteral("Print this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Print the version and build date and exit.")};
    QCommandLineOption logWindow{QStringLiteral("logwindow"),
                                 QStringLiteral("Open the log window.")};
    QCommandLineOption baseDir{QStringLiteral("basedir"),
                               QStringLiteral("Keep the panel set (cfg.xml) and the panel "
                                              "directories in DIR (default: "
                                              "$TESSALINE_BASE_DIR, else the program's "
                                              "directory, else "
                                              "~/.local/share/Corvane/Tessaline)."),
                               QStringLiteral("DIR")};
    QCommandLineOption imageDir{QStringLiteral("imdir"),
                                QStringLiteral("Look for face pictures in DIR before the "
                                               "built-in ones (default ./images2)."),
                                QStringLiteral("DIR")};

    QCommandLineOption http{QStringLiteral("http"),
                            QStringLiteral("Serve the remote API (JSON over HTTP, events over "
                                           "WebSocket) on ADDR:PORT; loopback unless told "
                                           "otherwise."),
                            QStringLiteral("ADDR:PORT")};
    QCommandLineOption httpToken{QStringLiteral("http-token"),
                                 QStringLiteral("Token every remote request must carry: the first "
                                                "line of FILE, or \"new\" for a random one kept in "
                                                "<base dir>/http-token. Required beyond loopback."),
                                 QStringLiteral("FILE")};

    Parser()
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            QStringLiteral("Keystead hosts emulated router control panels: racks of panels "
                           "whose faces are used with the mouse, each running its own "
                           "firmware and talking to a router controller over UDP."));
        parser.addOptions({help, version, logWindow, baseDir, imageDir, http, httpToken});
    }
};

} // namespace

KST_CommandLine KST_CommandLine::parse(const QStringList &arguments)
{
    KST_CommandLine line;
    Parser p;
    if (!p.parser.parse(arguments)) {
        line.action = Error;
        line.error = p.parser.errorText();
        return line;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        line.action = Error;
        line.error = QStringLiteral("Unexpected argument '%1'.")
                         .arg(p.parser.positionalArguments().constFirst());
        return line;
    }
    if (p.parser.isSet(p.help)) {
        line.action = ShowHelp;
        return line;
    }
    if (p.parser.isSet(p.version)) {
        line.action = ShowVersion;
        return line;
    }
    line.logWindow = p.parser.isSet(p.logWindow);
    if (p.parser.isSet(p.baseDir)) {
        line.baseDir = p.parser.value(p.baseDir);
        if (line.baseDir.isEmpty()) {
            line.action = Error;
            line.error = QStringLiteral("--basedir needs a directory.");
            return line;
        }
    }
    line.imageDir = p.parser.value(p.imageDir);
    line.httpAddress = p.parser.value(p.http);
    line.httpToken = p.parser.value(p.httpToken);
    if (p.parser.isSet(p.httpToken) && !p.parser.isSet(p.http)) {
        line.action = Error;
        line.error = QStringLiteral("--http-token needs --http.");
    }
    return line;
}

KST_CommandLine::Action KST_CommandLine::earlyAction(const QStringList &arguments)
{
    // Options of this program and of Qt that take the next argument as
    // their value.
    static const QStringList withValue = {
        QStringLiteral("basedir"), QStringLiteral("imdir"), QStringLiteral("http"),
        QStringLiteral("http-token"), QStringLiteral("platform"),
        QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"), QStringLiteral("display"), QStringLiteral("style"),
        QStringLiteral("stylesheet"), QStringLiteral("session"), QStringLiteral("qwindowgeometry"),
        QStringLiteral("qwindowtitle"), QStringLiteral("qwindowicon")};
    for (int i = 1; i < arguments.size(); ++i) {
        QString a = arguments.at(i);
        if (a == QLatin1String("--"))
            break;
        if (!a.startsWith(QLatin1Char('-')))
            continue;
        while (a.startsWith(QLatin1Char('-')))
            a.remove(0, 1);
        if (a == QLatin1String("h") || a == QLatin1String("help") || a == QLatin1String("?"))
            return ShowHelp;
        if (a == QLatin1String("v") || a == QLatin1String("version"))
            return ShowVersion;
        if (withValue.contains(a))
            ++i;
    }
    return Run;
}

QString KST_CommandLine::helpText()
{
    Parser p;
    QString text = p.parser.helpText();
    // The usage line names the program as it is installed.
    text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                 QStringLiteral("Usage: keystead"));
    text += QStringLiteral(
        "\nFiles:\n"
        "  <base dir>/cfg.xml          the racks and panels\n"
        "  <base dir>/data/p<uid>/     each panel's firmware copy and configuration\n"
        "  log.txt                     the log, in the current directory (log.txt.1: the one before)\n"
        "  main.dmp                    crash report, next to the program (else in the base dir)\n"
        "\nEnvironment:\n"
        "  TESSALINE_BASE_DIR          the base directory when --basedir is not given\n"
        "  TMPDIR                      where the single-instance lock keystead.lock lives\n");
    return text;
}

QString KST_CommandLine::versionText()
{
    return QStringLiteral("keystead %1 (build date %2)\n")
        .arg(QLatin1String(KST_VERSION), QLatin1String(KST_BUILD_DATE));
}

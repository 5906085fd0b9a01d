#ifndef KST_COMMANDLINE_H
#define KST_COMMANDLINE_H

// Keystead's command line:
//   --logwindow     open the log window
//   --basedir DIR   keep cfg.xml and the panel directories in DIR
//   -imdir DIR      look for face pictures in DIR first (read by the face
//                   picture container itself)
//   --http ADDR:PORT        serve the remote API there
//   --http-token FILE|new   the token it requires (a file's first line, or a
//                           new random one kept in <base dir>/http-token)
//   -h, --help      print the usage and exit
//   -v, --version   print the version and build date and exit
// Options of Qt itself (-platform, -display, ...) are taken out by the
// application object before these are read. Both "-name" and "--name"
// spellings are accepted for every option.

#include <QString>
#include <QStringList>

struct KST_CommandLine
{
    enum Action { Run, ShowHelp, ShowVersion, Error };

    Action action = Run;
    bool logWindow = false;
    QString baseDir;  // empty: not given
    QString imageDir; // empty: not given
    QString httpAddress; // empty: the remote API stays off
    QString httpToken;   // empty: none
    QString error;    // for Error: what is wrong, one line

    // Reads arguments (the program name first).
    static KST_CommandLine parse(const QStringList &arguments);
    // ShowHelp or ShowVersion when the raw arguments (Qt's own options
    // still among them) ask for either, the first one asked for winning;
    // else Run. Such a run needs no display and starts nothing.
    static Action earlyAction(const QStringList &arguments);

    static QString helpText();
    static QString versionText();
};

#endif

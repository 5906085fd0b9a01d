// pcslpack: prepares panel configuration files.
//
//   pcslpack pack [--compress] IN.pcsl OUT   PCSL text -> configuration file
//   pcslpack unpack IN OUT.pcsl              configuration file -> PCSL text
//   pcslpack check [--verbose] IN            parse it, print messages and CRC
//
// Exit status: 0 success, 1 bad input (or syntax errors for check),
// 2 wrong usage.

#include "config_container.h"
#include "report_semantics.h"

#include "estreambuf.h"
#include "parser.h"

#include <QCoreApplication>
#include <QFile>
#include "tess_savefile.h"
#include <QStringList>

#include <cstdio>

using namespace pcslpack;

static const char *const s_usage =
    "usage: pcslpack pack [--compress] IN.pcsl OUT\n"
    "       pcslpack unpack IN OUT.pcsl\n"
    "       pcslpack check [--verbose] IN\n"
    "\n"
    "pack    wraps PCSL text in a panel configuration file (\"CONFIG\" header),\n"
    "        plain or, with --compress, LZ77 + adaptive Huffman coded.\n"
    "unpack  writes the PCSL text of a plain or compressed configuration file.\n"
    "check   parses the configuration, prints the parser's messages and the\n"
    "        CRC-16/XMODEM of the payload; --verbose prints what was parsed.\n";

static int fail(const QString &msg)
{
    fflush(stdout);
    fprintf(stderr, "pcslpack: %s\n", qPrintable(msg));
    return 1;
}

static bool readFile(const QString &path, QByteArray *data, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    // Nothing a panel loads is near this; it only keeps a wrong file from
    // being read whole.
    if (f.size() > MaxTextSize) {
        *error = QStringLiteral("%1 is too large (%2 bytes)").arg(path).arg(f.size());
        return false;
    }
    *data = f.readAll();
    return true;
}

static bool writeFile(const QString &path, const QByteArray &data, QString *error)
{
    tess::SaveError failure;
    if (!tess::writeFileAtomically(path, data, &failure)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, failure.text);
        return false;
    }
    return true;
}

// Reads a configuration file and returns its PCSL text.
static bool loadText(const QString &path, QByteArray *payload, PayloadKind *kind, QByteArray *text,
                     QString *error)
{
    QByteArray file;
    qint64 trailing = 0;
    if (!readFile(path, &file, error))
        return false;
    if (!readContainer(file, payload, &trailing, error)) {
        *error = path + QStringLiteral(": ") + *error;
        return false;
    }
    if (trailing > 0)
        fprintf(stderr, "pcslpack: warning: %s has %lld bytes after the length its header gives; "
                        "a panel ignores them\n", qPrintable(path), trailing);
    QString why;
    decodePayload(*payload, kind, text, &why);
    return true;
}

static int cmdPack(const QStringList &args)
{
    bool compress = false;
    QStringList files;
    for (const QString &a : args) {
        if (a == QLatin1String("--compress"))
            compress = true;
        else
            files << a;
    }
    if (files.size() != 2) {
        fputs(s_usage, stderr);
        return 2;
    }
    QString error;
    QByteArray text;
    if (!readFile(files[0], &text, &error))
        return fail(error);
    if (!text.startsWith("#####")) {
        // A panel recognises PCSL by this comment line.
        text.prepend(headerLine());
        fprintf(stderr, "pcslpack: note: added the line of '#' a panel recognises PCSL text by\n");
    }
    QByteArray payload = text;
    if (compress && !compressText(text, &payload, &error))
        return fail(files[0] + QStringLiteral(": ") + error);
    const QByteArray file = makeContainer(payload);
    if (file.size() > MaxFileSize) {
        return fail(QStringLiteral("%1 would be %2 bytes; a panel loads at most %3%4")
                        .arg(files[1]).arg(file.size()).arg(int(MaxFileSize))
                        .arg(compress ? QString() : QStringLiteral(" (try --compress)")));
    }
    if (!writeFile(files[1], file, &error))
        return fail(error);
    printf("%s: %lld bytes, %s payload of %lld bytes (text %lld bytes), CRC-16/XMODEM %04X\n",
           qPrintable(files[1]), qint64(file.size()),
           kindName(compress ? PayloadKind::CompressedPcsl : PayloadKind::PlainPcsl),
           qint64(payload.size()), qint64(text.size()), checksum(payload));
    return 0;
}

static int cmdUnpack(const QStringList &args)
{
    if (args.size() != 2) {
        fputs(s_usage, stderr);
        return 2;
    }
    QString error;
    QByteArray payload, text;
    PayloadKind kind;
    if (!loadText(args[0], &payload, &kind, &text, &error))
        return fail(error);
    if (kind == PayloadKind::Binary)
        return fail(args[0] + QStringLiteral(" holds a binary configuration, not PCSL text"));
    if (!writeFile(args[1], text, &error))
        return fail(error);
    printf("%s: %lld bytes of PCSL text from a %s payload\n", qPrintable(args[1]),
           qint64(text.size()), kindName(kind));
    return 0;
}

static int cmdCheck(const QStringList &args)
{
    bool verbose = false;
    QStringList files;
    for (const QString &a : args) {
        if (a == QLatin1String("--verbose") || a == QLatin1String("-v"))
            verbose = true;
        else
            files << a;
    }
    if (files.size() != 1) {
        fputs(s_usage, stderr);
        return 2;
    }
    QString error;
    QByteArray payload, text;
    PayloadKind kind;
    if (!loadText(files[0], &payload, &kind, &text, &error))
        return fail(error);
    printf("%s: %lld bytes, %s payload of %lld bytes\n", qPrintable(files[0]),
           qint64(payload.size() + HeaderSize), kindName(kind), qint64(payload.size()));
    printf("CRC-16/XMODEM: %04X\n", checksum(payload));
    if (kind == PayloadKind::Binary) {
        fflush(stdout);
        return fail(QStringLiteral("not PCSL text: a panel reads this payload as a binary configuration"));
    }
    if (kind == PayloadKind::CompressedPcsl)
        printf("text: %lld bytes\n", qint64(text.size()));

    EMemBuf mem;
    mem.setbuf(text.data(), size_t(text.size()));
    mem.open("r");
    ReportSemantics sem(verbose);
    Parser parser;
    parser.attach(&mem, &sem);
    const int result = parser.parse();
    printf("parse result: %d (%d objects, %d properties, %d commands, %d calls, nesting %d)\n",
           result, sem.objects, sem.properties, sem.commands, sem.calls, sem.maxDepth);
    fflush(stdout);
    return result == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h")) {
        fputs(s_usage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const QString cmd = args.takeFirst();
    if (cmd == QLatin1String("pack"))
        return cmdPack(args);
    if (cmd == QLatin1String("unpack"))
        return cmdUnpack(args);
    if (cmd == QLatin1String("check"))
        return cmdCheck(args);
    fprintf(stderr, "pcslpack: unknown command '%s'\n", qPrintable(cmd));
    fputs(s_usage, stderr);
    return 2;
}

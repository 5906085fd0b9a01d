#include "rm_http_head.h"

#include <QHostAddress>

#include <QList>

#include <algorithm>

namespace remote {

namespace {

bool isTokenChar(char c)
{
    // RFC 9110 tchar
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char c : s)
        if (!isTokenChar(c))
            return false;
    return true;
}

} // namespace

HeadResult parseHttpHead(const QByteArray &data, HttpHead *out)
{
    *out = HttpHead();
    // The head ends at the first empty line (CRLF CRLF, or bare LFs).
    const qsizetype limit = std::min<qsizetype>(data.size(), MaxHeadBytes);
    qsizetype end = -1;
    for (qsizetype i = 0; i < limit; ++i) {
        if (data[i] != '\n')
            continue;
        if (i + 1 < data.size() && data[i + 1] == '\n') {
            end = i + 2;
            break;
        }
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') {
            end = i + 3;
            break;
        }
    }
    if (end < 0)
        return data.size() >= MaxHeadBytes ? HeadResult::TooLarge : HeadResult::Incomplete;
    if (end > MaxHeadBytes)
        return HeadResult::TooLarge;
    out->headBytes = end;

    const QList<QByteArray> lines = data.left(end).split('\n');
    // The last two entries are the blank line and what follows it.
    int fields = 0;
    bool first = true;
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (first) {
            first = false;
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 3 || !isToken(parts[0]) || !parts[1].startsWith('/')
                || (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0"))
                return HeadResult::Malformed;
            for (char c : parts[1])
                if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
                    return HeadResult::Malformed;
            out->method = parts[0];
            out->target = parts[1];
            const qsizetype q = out->target.indexOf('?');
            out->path = q < 0 ? out->target : out->target.left(q);
            out->query = q < 0 ? QByteArray() : out->target.mid(q + 1);
            continue;
        }
        if (line.isEmpty())
            continue;
        if (++fields > MaxHeaderFields)
            return HeadResult::TooLarge;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return HeadResult::Malformed;
        const QByteArray name = line.left(colon).toLower();
        if (!isToken(name))
            return HeadResult::Malformed;
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            if (value.isEmpty() || value.size() > 18)
                return HeadResult::Malformed;
            qint64 n = 0;
            for (char c : value) {
                if (c < '0' || c > '9')
                    return HeadResult::Malformed;
                n = n * 10 + (c - '0');
            }
            if (out->hasContentLength && out->contentLength != n)
                return HeadResult::Malformed;
            out->hasContentLength = true;
            out->contentLength = n;
        } else if (name == "authorization") {
            out->authorization = value;
        } else if (name == "cookie") {
            out->cookie = out->cookie.isEmpty() ? value : out->cookie + "; " + value;
        } else if (name == "upgrade") {
            out->upgrade = value.toLower();
        } else if (name == "transfer-encoding") {
            out->transferEncoding = value.toLower();
        } else if (name == "host") {
            out->host = value;
        } else if (name == "origin") {
            out->origin = value;
        }
    }
    return HeadResult::Complete;
}

QByteArray bearerToken(const QByteArray &authorization)
{
    const QByteArray a = authorization.trimmed();
    if (a.size() < 7 || a.left(7).toLower() != "bearer ")
        return QByteArray();
    return a.mid(7).trimmed();
}

QByteArray cookieValue(const QByteArray &cookie, const QByteArray &name)
{
    for (const QByteArray &pair : cookie.split(';')) {
        const QByteArray p = pair.trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq > 0 && p.left(eq).trimmed() == name)
            return p.mid(eq + 1).trimmed();
    }
    return QByteArray();
}

QByteArray queryValue(const QByteArray &query, const QByteArray &name)
{
    for (const QByteArray &pair : query.split('&')) {
        const qsizetype eq = pair.indexOf('=');
        const QByteArray key = eq < 0 ? pair : pair.left(eq);
        if (key == name)
            return eq < 0 ? QByteArray() : QByteArray::fromPercentEncoding(pair.mid(eq + 1));
    }
    return QByteArray();
}

bool hostIsAddress(const QByteArray &host)
{
    QByteArray h = host.trimmed().toLower();
    if (h.startsWith('[')) {
        // [v6]:port
        const qsizetype end = h.indexOf(']');
        return end > 1 && !QHostAddress(QString::fromLatin1(h.mid(1, end - 1))).isNull();
    }
    const qsizetype colon = h.lastIndexOf(':');
    if (colon >= 0)
        h = h.left(colon);
    if (h == "localhost")
        return true;
    QHostAddress a;
    return !h.isEmpty() && a.setAddress(QString::fromLatin1(h)) && a.protocol() == QAbstractSocket::IPv4Protocol;
}

bool sameToken(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size() || a.isEmpty())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= uchar(a[i]) ^ uchar(b[i]);
    return diff == 0;
}

} // namespace remote

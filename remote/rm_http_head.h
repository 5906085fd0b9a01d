#ifndef RM_HTTP_HEAD_H
#define RM_HTTP_HEAD_H

// The head of an HTTP/1.x request (request line and header fields) as the
// remote API's listener reads it before anything else touches the
// connection: enough to refuse a request early (no or a wrong token, a body
// too large, too many event clients) and to tell WebSocket upgrades apart.

#include <QByteArray>
#include <QtGlobal>

namespace remote {

enum {
    MaxHeadBytes = 16 * 1024, // request line and header fields
    MaxBodyBytes = 64 * 1024,
    MaxHeaderFields = 100
};

struct HttpHead
{
    QByteArray method;  // as sent, e.g. "GET"
    QByteArray target;  // "/api/v1/panels?x=1"
    QByteArray path;    // "/api/v1/panels"
    QByteArray query;   // "x=1" (no '?')
    QByteArray authorization;
    QByteArray cookie;
    QByteArray upgrade;
    QByteArray transferEncoding;
    QByteArray host;    // the Host field as sent
    QByteArray origin;  // the Origin field browsers send, else empty
    bool hasContentLength = false;
    qint64 contentLength = 0;
    qsizetype headBytes = 0; // up to and including the blank line
};

enum class HeadResult { Incomplete, Complete, Malformed, TooLarge };

// Reads the head at the start of data (what has arrived so far). Incomplete
// while its blank line has not come and it is still within MaxHeadBytes;
// TooLarge beyond that or with more than MaxHeaderFields fields.
HeadResult parseHttpHead(const QByteArray &data, HttpHead *out);

// The bearer token of an Authorization field ("Bearer TOKEN"), else empty.
QByteArray bearerToken(const QByteArray &authorization);
// The value of cookie name in a Cookie field, else empty.
QByteArray cookieValue(const QByteArray &cookie, const QByteArray &name);
// The value of name in a query ("a=1&token=x"), percent-decoded; empty
// when absent.
QByteArray queryValue(const QByteArray &query, const QByteArray &name);
// Whether a Host field names an IP address or "localhost" (with or
// without a port), not a host name that could be made to point anywhere.
bool hostIsAddress(const QByteArray &host);
// Compares in time independent of where the two differ.
bool sameToken(const QByteArray &a, const QByteArray &b);

} // namespace remote

#endif

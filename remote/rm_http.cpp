#include "rm_http.h"

#include "rm_router.h"

#include <QTcpSocket>
#include <QtHttpServer/QHttpServerRequest>
#include <QtHttpServer/QHttpServerResponder>

namespace remote {

namespace {

QByteArray methodText(QHttpServerRequest::Method m)
{
    switch (m) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "UNKNOWN";
    }
}

} // namespace

HttpLayer::HttpLayer(Router *router, QObject *parent) : QAbstractHttpServer(parent), m_router(router)
{
}

bool HttpLayer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    Request rq;
    rq.method = methodText(request.method());
    rq.path = request.url().path(QUrl::FullyEncoded).toUtf8();
    rq.query = request.url().query(QUrl::FullyEncoded).toUtf8();
    rq.body = request.body();
    const Reply reply = m_router->handle(rq);

    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    responder.writeHeader("Content-Type", reply.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("Connection", "close");
    for (const auto &h : reply.headers)
        responder.writeHeader(h.first, h.second);
    responder.writeBody(rq.method == "HEAD" ? QByteArray() : reply.body);
    socket->disconnectFromHost();
    return true;
}

void HttpLayer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    handleRequest(request, socket);
}

} // namespace remote

#ifndef RM_HTTP_H
#define RM_HTTP_H

// remote::HttpLayer: the one place that uses Qt's HTTP server classes. It
// takes the connections the listener has let through (each holding one
// whole request), hands each request to the router and writes its reply;
// every connection serves one request and is then closed, so that the
// listener checks every request before anything reads it.

#include <QtHttpServer/QAbstractHttpServer>

namespace remote {

class Router;

class HttpLayer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    explicit HttpLayer(Router *router, QObject *parent = nullptr);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    Router *m_router;
};

} // namespace remote

#endif

#include "mailbox/OAuthListener.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include "mime/Charset.h"

namespace {

// A request line and its headers fit in this; a longer request is no redirect.
constexpr qsizetype RequestLimit = 16384;
// Connections served at once; more are closed at once (nothing but a browser should call).
constexpr int ConnectionLimit = 16;

constexpr const char* DonePage =
    "\x94" "F\x8f\xd8\x82\xaa\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81" "B\x82\xb1\x82\xcc\x83" "E\x83" "B\x83\x93\x83h\x83" "E\x82\xf0\x95\xc2\x82\xb6\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 認証が完了しました。このウィンドウを閉じてください。 */;
constexpr const char* FailedPage =
    "\x94" "F\x8f\xd8\x82\xcd\x8a\xae\x97\xb9\x82\xb5\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81" "BPurgel\x82\xcc\x89\xe6\x96\xca\x82\xc9\x96\xdf\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81" "B" /* sjis: 認証は完了しませんでした。Purgelの画面に戻ってください。 */;

QByteArray Response(int status, const std::string& sjisText)
{
    const char* reason = status == 200 ? "OK" : status == 400 ? "Bad Request" : "Not Found";
    const QByteArray body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Purgel</title></head><body><p>" +
                            mime::SjisToQString(sjisText).toHtmlEscaped().toUtf8() + "</p></body></html>\n";
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
           "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TOAuthListener::TOAuthListener(std::string state) : FState(std::move(state)) {}

TOAuthListener::~TOAuthListener()
{
    // The page goes out before its connection closes with the listener (loopback: at once).
    if (FServer)
        for (QTcpSocket* socket : FServer->findChildren<QTcpSocket*>())
            if (socket->bytesToWrite() > 0)
                socket->waitForBytesWritten(1000);
}

bool TOAuthListener::Listen()
{
    FServer = std::make_unique<QTcpServer>();
    if (!FServer->listen(QHostAddress::LocalHost, 0))
        return false;
    FPort = FServer->serverPort();   // the redirect URI outlives the listening
    QObject::connect(FServer.get(), &QTcpServer::newConnection, FServer.get(), [this] {
        while (QTcpSocket* socket = FServer->nextPendingConnection()) {
            // Sockets belong to the server and go with it.
            if (FAnswered || FServer->findChildren<QTcpSocket*>().size() > ConnectionLimit)
                socket->abort();
            else
                Serve(socket);
        }
    });
    return true;
}

std::string TOAuthListener::RedirectUri() const
{
    return "http://127.0.0.1:" + std::to_string(FPort);
}

void TOAuthListener::Serve(QTcpSocket* socket)
{
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        if (socket->property("served").toBool())
            return;
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        const qsizetype end = request.indexOf("\r\n\r\n");
        if (end < 0 && request.size() <= RequestLimit) {
            socket->setProperty("request", request);
            return;
        }
        socket->setProperty("served", true);
        // "GET <target> HTTP/1.1"
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        const bool get = end >= 0 && words.size() == 3 && words[0] == "GET";
        const auto [status, page] = get ? Answer(words[1].toStdString()) : std::pair<int, std::string>(400, FailedPage);
        socket->write(Response(status, page));
        socket->disconnectFromHost();
    });
}

std::pair<int, std::string> TOAuthListener::Answer(const std::string& target)
{
    const QUrl url(QString::fromStdString("http://127.0.0.1" + target));
    const QUrlQuery query(url);
    if (FAnswered || url.path() != "/")
        return {404, FailedPage};
    if (query.queryItemValue("state", QUrl::FullyDecoded).toStdString() != FState)
        return {400, FailedPage};
    const auto value = [&query](const char* name) { return query.queryItemValue(name, QUrl::FullyDecoded).toStdString(); };
    FCode = value("code");
    FError = value("error");
    FDescription = value("error_description");
    if (FCode.empty() && FError.empty())
        return {400, FailedPage};
    FAnswered = true;
    FServer->close();
    return {FError.empty() ? 200 : 400, FError.empty() ? DonePage : FailedPage};
}

#pragma once
// A peer on a loopback address for the contact tests: takes TCP connections
// on address:port, keeps every request and answers each with what the
// answer function returns (nothing when it returns an empty array).

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace contacttest
{

class FakePeer
{
public:
    using Answer = std::function<QByteArray(const QString& request)>;

    FakePeer(const QString& address, quint16 port, Answer answer) : m_answer(std::move(answer))
    {
        m_server.listen(QHostAddress(address), port);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
                    const QString request = QString::fromLatin1(socket->readAll());
                    requests << request;
                    const QByteArray reply = m_answer ? m_answer(request) : QByteArray();
                    if (!reply.isEmpty())
                        socket->write(reply);
                });
            }
        });
    }

    QStringList requests;
    int connections = 0;

private:
    QTcpServer m_server;
    Answer m_answer;
};

} // namespace contacttest

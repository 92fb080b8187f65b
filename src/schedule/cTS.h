#pragma once
// One entry of the time-server list: a server, its protocol and a location label.

#include <QString>
#include <QtGlobal>

namespace schedule
{

class cTS
{
public:
    qint16 nPortNumber() const { return m_nPortNumber; }
    void setnPortNumber(qint16 v) { m_nPortNumber = v; }
    const QString& sServer() const { return m_sServer; }
    void setsServer(const QString& v) { m_sServer = v; }
    const QString& sProtocol() const { return m_sProtocol; }
    void setsProtocol(const QString& v) { m_sProtocol = v; }
    const QString& sLocation() const { return m_sLocation; }
    void setsLocation(const QString& v) { m_sLocation = v; }

    void copy_to(cTS& other) const;

private:
    qint16 m_nPortNumber = 0;
    QString m_sServer;
    QString m_sProtocol;
    QString m_sLocation;
};

} // namespace schedule

#include "contact/colClients.h"

#include "logging/DebugLog.h"
#include "logging/SyncLog.h"
#include "platform/PrivateFile.h"
#include "runtime/CsvFields.h"
#include "runtime/CurrentError.h"
#include "runtime/DateText.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QFile>
#include <QTextStream>

#include <cerrno>
#include <cmath>

namespace contact
{

namespace
{

const QString kModule = QStringLiteral("colClients");
constexpr int kFieldCount = 11;

QString Quoted(const QString& text)
{
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

// A date field: a literal between number signs; an empty field is the zero date.
bool DateField(const QString& text, rt::Date& out)
{
    if (text.trimmed().isEmpty()) {
        out = 0;
        return true;
    }
    return rt::DateLiteralToDate(text, out);
}

bool FloatField(const QString& text, float& out)
{
    double value = 0;
    if (!rt::TextToDouble(text, value))
        return false;
    out = float(value);
    return true;
}

// The fields of a client line, converted; false when one does not convert.
struct ClientLine {
    qint16 id = 0;
    qint16 type = 0;
    qint16 protocol = 0;
    QString name;
    QString address;
    QString mac;
    QString notes;
    float lastDiff = 0;
    rt::Date lastSetting = 0;
    qint16 status = 0;
    rt::Date statusDate = 0;
};

bool ConvertFields(const QStringList& f, ClientLine& out)
{
    if (f.size() < kFieldCount)
        return false;
    out.name = f[3];
    out.address = f[4];
    out.mac = f[5];
    out.notes = f[6];
    return rt::TextToInt16(f[1], out.type) && rt::TextToInt16(f[2], out.protocol) &&
           FloatField(f[7], out.lastDiff) && DateField(f[8], out.lastSetting) &&
           rt::TextToInt16(f[9], out.status) && DateField(f[10], out.statusDate);
}

} // namespace

cClient* colClients::Add(qint16& nClientID, qint16 nClientType, qint16 nClientProtocol,
                         const QString& sIPname, const QString& sIPAddr, const QString& sNotes,
                         float uLastSettingDiff, rt::Date dLastSettingDate, qint16 nStatus,
                         rt::Date dStatusDate, const QString& sMACaddr, bool /*allowDuplicates*/,
                         const QString& key)
{
    if (!key.isEmpty() && m_byKey.contains(FoldKey(key))) {
        rt::RaiseError(457, QStringLiteral("This key is already associated with an element of "
                                           "this collection"));
        return nullptr;
    }
    if (nClientID == 0 && !rt::ToInt16(double(Count()) + 1, nClientID)) {
        rt::RaiseError(6, QStringLiteral("Overflow"));
        return nullptr;
    }
    auto client = std::make_unique<cClient>();
    client->nClientID = nClientID;
    client->nClientType = nClientType;
    client->nClientProtocol = nClientProtocol;
    client->sIPname = sIPname;
    client->sIPAddr = sIPAddr;
    client->sNotes = sNotes;
    client->uLastSettingDiff = uLastSettingDiff;
    client->dLastSettingDate = dLastSettingDate;
    client->nStatus = nStatus;
    client->dStatusDate = dStatusDate;
    client->sMACaddr = sMACaddr;
    if (!key.isEmpty()) {
        client->sKey = key;
        m_byKey.insert(FoldKey(key), client.get());
    } else {
        client->sKey = settings::Options().ClientKeyType() == settings::ClientKeyType::ByAddress
                           ? sIPAddr
                           : sIPname;
    }
    if (nStatus == cClient::StatusActive)
        ++m_activeCount;
    m_clients.push_back(std::move(client));
    return m_clients.back().get();
}

cClient* colClients::Item(const QString& key) const
{
    if (key.isEmpty()) {
        failed_action(QStringLiteral("update"));
        return nullptr;
    }
    return m_byKey.value(FoldKey(key), nullptr);
}

cClient* colClients::Item(qint32 position) const
{
    if (position < 1 || position > Count())
        return nullptr;
    return m_clients[std::size_t(position - 1)].get();
}

void colClients::Drop(std::size_t index)
{
    cClient* client = m_clients[index].get();
    for (auto it = m_byKey.begin(); it != m_byKey.end(); ++it) {
        if (it.value() == client) {
            m_byKey.erase(it);
            break;
        }
    }
    if (client->nStatus == cClient::StatusActive)
        --m_activeCount;
    m_clients.erase(m_clients.begin() + std::ptrdiff_t(index));
}

bool colClients::Remove(const QString& key)
{
    if (key.isEmpty()) {
        failed_action(QStringLiteral("delete"));
        return false;
    }
    const cClient* client = m_byKey.value(FoldKey(key), nullptr);
    for (std::size_t i = 0; client && i < m_clients.size(); ++i) {
        if (m_clients[i].get() == client) {
            Drop(i);
            return true;
        }
    }
    return false;
}

bool colClients::Remove(qint32 position)
{
    if (position < 1 || position > Count())
        return false;
    Drop(std::size_t(position - 1));
    return true;
}

void colClients::EraseAll()
{
    m_clients.clear();
    m_byKey.clear();
    m_activeCount = 0;
}

void colClients::failed_action(const QString& verb)
{
    logging::WriteDebug(QStringLiteral("Cant ") + verb + QStringLiteral(" client with empty key"));
}

bool colClients::ReadLine(const QString& line, qint32 lineNumber, qint32& count, qint16 keyType)
{
    const QStringList fields = rt::ReadFields(line);
    qint16 id = 0;
    if (fields.isEmpty() || (rt::TextToInt16(fields[0], id) && id < 0)) {
        NCL_TRACE(QStringLiteral("(Line  is empty)"));
        return true;
    }
    ClientLine c;
    if (!rt::TextToInt16(fields[0], c.id) || !ConvertFields(fields, c)) {
        rt::RaiseError(13, QStringLiteral("Type mismatch"));
        logging::ReportError(logging::Problem,
                             QStringLiteral("Bad line ") + QString::number(lineNumber) +
                                 QStringLiteral(" in client file, skipped: ") + line,
                             13, kModule, QStringLiteral("Read_in_file"), 10);
        return false;
    }
    ++count;
    NCL_TRACE(QString::number(count) + QStringLiteral("-> ID:_") + QString::number(c.id) +
              QStringLiteral("_ IPName:_") + c.name + QStringLiteral("_ IPaddr:_") + c.address +
              QStringLiteral("_ MACaddr:_") + c.mac + QStringLiteral("_ Notes:_") + c.notes +
              QStringLiteral("_ Status:_") + QString::number(c.status) + QStringLiteral("<-"));
    const QString key = keyType != 0 ? c.name : c.address;
    if (!Add(c.id, c.type, c.protocol, c.name, c.address, c.notes, c.lastDiff, c.lastSetting,
             c.status, c.statusDate, c.mac, false, key)) {
        logging::ReportError(logging::Problem,
                             QStringLiteral("Client of line ") + QString::number(lineNumber) +
                                 QStringLiteral(" not added: ") + key,
                             0, kModule, QStringLiteral("Read_in_file"), 11);
        return false;
    }
    return true;
}

bool colClients::Read_in_file(const QString& path, qint16 keyType)
{
    if (path.isEmpty())
        return false;
    EraseAll();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        rt::RaiseErrno(errno, path); // still the failed open's
        logging::ReportError(logging::Problem, QStringLiteral("Can't read client file ") + path,
                             rt::Err().number, kModule, QStringLiteral("Read_in_file"), 12);
        return false;
    }
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Latin1);
    qint32 count = 0;
    qint32 lineNumber = 0;
    while (!in.atEnd())
        ReadLine(in.readLine(), ++lineNumber, count, keyType);
    file.close();
    Print_Clients();
    return true;
}

void colClients::ReadInData(qint32 skipLines, const QString& syncLogPath)
{
    if (syncLogPath.isEmpty())
        return;
    QFile file(syncLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Latin1);
    qint32 seen = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.trimmed().isEmpty() || ++seen <= skipLines)
            continue;
        rt::Date day = 0;
        rt::Date time = 0;
        if (!logging::SyncLogDate(line, day) || !rt::TextToDate(line.mid(9, 8).trimmed(), time))
            continue;
        const rt::Date stamp = day + rt::TimePart(time);
        const float difference = float(rt::Val(line.mid(19, 8)));
        const QString key = line.mid(47, 20).trimmed();
        cClient* client = key.isEmpty() ? nullptr : m_byKey.value(FoldKey(key), nullptr);
        if (client && client->dLastSettingDate < stamp) {
            client->dLastSettingDate = stamp;
            client->uLastSettingDiff = difference;
        }
    }
}

QString colClients::RecordLine(const cClient& c)
{
    const QChar comma(u',');
    return QString::number(c.nClientID) + comma + QString::number(c.nClientType) + comma +
           QString::number(c.nClientProtocol) + comma + Quoted(c.sIPname) + comma +
           Quoted(c.sIPAddr) + comma + Quoted(c.sMACaddr) + comma + Quoted(c.sNotes) + comma +
           rt::SingleText(c.uLastSettingDiff) + comma + rt::DateLiteral(c.dLastSettingDate) +
           comma + QString::number(c.nStatus) + comma + rt::DateLiteral(c.dStatusDate);
}

bool colClients::SavetoDisk(const QString& path) const
{
    NCL_TRACE(QStringLiteral("Saving contents to file: ") + path);
    QFile file;
    QString error;
    if (!platform::OpenFileForWriting(file, path, platform::WriteMode::Truncate, error)) {
        rt::RaiseErrno(errno, path); // still the failed open's
        logging::ReportError(logging::Problem, QStringLiteral("Can't write client file ") + path,
                             rt::Err().number, kModule, QStringLiteral("SavetoDisk"), 13);
        return false;
    }
    for (const auto& c : m_clients) {
        NCL_TRACE(QStringLiteral("ID: ") + QString::number(c->nClientID) +
                  QStringLiteral(" IPaddr: ") + c->sIPAddr + QStringLiteral(" SecDiff: ") +
                  rt::SingleText(c->uLastSettingDiff) + QStringLiteral("  Notes: ") + c->sNotes +
                  QStringLiteral(" IPname: ") + c->sIPname + QStringLiteral(" Status: ") +
                  QString::number(c->nStatus) + QStringLiteral(" MAC: ") + c->sMACaddr);
        file.write((RecordLine(*c) + QStringLiteral("\r\n")).toLatin1());
    }
    return true;
}

void colClients::Print_Clients() const
{
    if (!logging::DebugOn)
        return;
    for (const auto& c : m_clients) {
        logging::WriteDebug(QStringLiteral("Client ID: ") + QString::number(c->nClientID) +
                            QStringLiteral(" CliType: ") + QString::number(c->nClientType) +
                            QStringLiteral(" CliProtocol: ") + QString::number(c->nClientProtocol) +
                            QStringLiteral(" IPname: ") + c->sIPname + QStringLiteral(" IPAddr: ") +
                            c->sIPAddr + QStringLiteral(" MAC: ") + c->sMACaddr +
                            QStringLiteral(" Notes: ") + c->sNotes + QStringLiteral(" Status: ") +
                            QString::number(c->nStatus) + QStringLiteral(" StatusDate: ") +
                            rt::GeneralDate(c->dStatusDate) + QStringLiteral(" Contact Count: ") +
                            QString::number(c->nContactCount) + QStringLiteral(" LastContact: ") +
                            rt::GeneralDate(c->dContactDate) + QStringLiteral(" Last Setting: ") +
                            rt::GeneralDate(c->dLastSettingDate));
    }
}

qint32 colClients::fill_cbo(QStringList& list, qint16 keyType, const QString& firstEntry) const
{
    list.clear();
    list << QStringLiteral("<all>");
    for (const auto& c : m_clients)
        list << (keyType != 0 ? c->sIPname : c->sIPAddr);
    const qint32 index = qint32(list.indexOf(firstEntry));
    return index < 0 ? 0 : index;
}

qint32 colClients::find_max_time_diff() const
{
    qint32 kept = 0;
    for (const auto& c : m_clients) {
        qint32 rounded = 0;
        if (rt::ToInt32(double(c->sglTimeDiffSec), rounded) &&
            std::abs(qint64(rounded)) > std::abs(qint64(kept)))
            kept = rounded;
    }
    return kept;
}

} // namespace contact

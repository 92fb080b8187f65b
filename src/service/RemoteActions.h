#pragma once
// The console's remote commands ("C+..."): exit the system (log off, shut
// down, reboot, power off, forced or not), wake another computer, send a file
// back block by block, or run any other command line as a program.
//
// A file goes back in blocks of 4096 bytes: the console asks for block 0 with
// the file's name ("ncl_getfile <name>"), then for blocks 1, 2, ... by number
// ("ncl_getfile.<n>"). The block that reaches the end of the file sets the
// done flag; the next file request sends nothing and clears it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace service
{

class WakeOnLan;

// The exit flags that the words after "C+Windows" ask for.
quint32 ExitFlagsFor(const QString& sData);

// Block n (from 0) of a file in pieces of 4096 bytes: the last piece read when
// the file ends first. endOfFile tells whether the end was reached. An empty
// name gives nothing; a file that cannot be read is reported and gives nothing.
QByteArray ReadInData(const QString& name, qint32 n, bool& endOfFile);

// Asks the power control to exit with the flags; true when it accepted.
bool Exit_Windows(quint32 flags);

class RemoteActions
{
public:
    // Sends bytes on element index of the listener; false when they did not go.
    using SendData = std::function<bool(qint16 index, const QByteArray& bytes)>;

    RemoteActions(WakeOnLan& wakeOnLan, SendData send);

    // Carries out the command in sData (the whole request, "C+" included);
    // returns the result text, sets sLog to the action text.
    QString do_command(const QString& sData, qint16 Index, QString& sLog);

    // The file being sent and whether its last block has gone.
    QString sFileName;
    bool bFileDone = false;

private:
    QString ExitCommand(const QString& sData, QString& sLog);
    QString WolCommand(const QString& sData, QString& sLog);
    void OtherCommand(const QString& command, qint16 index, QString& sLog);
    void FileCommand(const QString& command, qint16 index);
    void SendFileBlock(qint16 index, const QString& name, qint32 block);

    WakeOnLan& m_wakeOnLan;
    SendData m_send;
};

} // namespace service

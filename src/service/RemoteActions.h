#pragma once
// The console's remote commands ("C+..."): exit the system (log off, shut
// down, reboot, power off, forced or not), wake another computer, send a file
// back block by block, or run any other command line as a program.
//
// A file goes back in blocks of 4096 bytes: the console asks for block 0 with
// the file's name ("ncl_getfile <name>"), then for blocks 1, 2, ... by number
// ("ncl_getfile.<n>"). The block that reaches the end of the file sets the
// done flag; the next file request sends nothing and clears it. The file and
// the flag are kept per console address, so a block only ever goes to the
// address that asked for block 0 of that file. Only regular files are sent.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace service
{

class ConsoleAccess;
class WakeOnLan;

// The exit flags that the words after "C+Windows" ask for.
quint32 ExitFlagsFor(const QString& sData);

// Block n (from 0) of a file in pieces of 4096 bytes: the last piece read when
// the file ends first. endOfFile tells whether the end was reached. An empty
// name gives nothing; a file that cannot be read, and anything but a regular
// file (a FIFO, a device, a folder, a symlink), is reported as missing and
// gives nothing. Never waits on the file.
QByteArray ReadInData(const QString& name, qint32 n, bool& endOfFile);

// The name to read when files may only be fetched below `root`: the path
// with every symlink resolved, empty when it leads outside (or nowhere). An
// empty root takes any name as it is.
QString FetchablePath(const QString& name, const QString& root);

// Asks the power control to exit with the flags; true when it accepted.
bool Exit_Windows(quint32 flags);

class RemoteActions
{
public:
    // Sends bytes on element index of the listener; false when they did not go.
    using SendData = std::function<bool(qint16 index, const QByteArray& bytes)>;

    RemoteActions(WakeOnLan& wakeOnLan, SendData send);

    // What remote commands may do; unset, everything as described.
    void SetAccess(const ConsoleAccess* access) { m_access = access; }
    // The console address of element index, which keys the file transfers.
    void SetPeerOf(std::function<QString(qint16 index)> peerOf) { m_peerOf = std::move(peerOf); }

    // Carries out the command in sData (the whole request, "C+" included);
    // returns the result text, sets sLog to the action text.
    QString do_command(const QString& sData, qint16 Index, QString& sLog);

    // The file being sent to a console address and whether its last block has gone.
    QString FileName(const QString& peer = {}) const { return m_transfers.value(peer).sFileName; }
    bool FileDone(const QString& peer = {}) const { return m_transfers.value(peer).bFileDone; }

private:
    QString ExitCommand(const QString& sData, QString& sLog);
    QString WolCommand(const QString& sData, QString& sLog);
    void OtherCommand(const QString& command, qint16 index, QString& sLog);
    void FileCommand(const QString& command, qint16 index);
    void SendFileBlock(qint16 index, const QString& name, qint32 block);

    struct FileTransfer {
        QString sFileName;
        bool bFileDone = false;
    };
    FileTransfer& TransferOf(qint16 index);

    WakeOnLan& m_wakeOnLan;
    SendData m_send;
    const ConsoleAccess* m_access = nullptr;
    std::function<QString(qint16)> m_peerOf;
    QHash<QString, FileTransfer> m_transfers;
};

} // namespace service

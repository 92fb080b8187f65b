#pragma once
// SIGINT and SIGTERM as a Qt signal on the event loop (self-pipe), so a
// foreground run or a service ends through the main window's unload instead
// of dying mid-write.

#include <QObject>

class QSocketNotifier;

namespace host
{

class UnixSignals : public QObject
{
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void onReadable();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace host

#pragma once
// Service manager operations of the agent: state queries with their texts,
// indices and colours; start, stop, pause and continue; and the service
// messages an interactive copy sends to the running service as custom control
// codes, with the acknowledgement read back from the "Settings" values.
//
// Each operation opens and closes its own manager and service handles.
// Machine name "" is the local computer.

#include <QString>
#include <QtGlobal>

namespace host
{

// The agent's service name.
inline const QString kServiceName = QStringLiteral("Nightcall");

// Status-label colours (0x00BBGGRR).
constexpr quint32 kColorGreen = 0x00FF00;
constexpr quint32 kColorLightYellow = 0x80FFFF;
constexpr quint32 kColorLightRed = 0xC0C0FF;
constexpr quint32 kColorGrey = 0x808080;

QString ServiceStatus(const QString& machine, const QString& service, qint16& index);
quint32 StatusColor(qint16 index);
quint32 ServiceStateColor(const QString& service);
QString ServicePause(const QString& machine, const QString& service, qint16& index);
QString ServiceContinue(const QString& machine, const QString& service, qint16& index);
QString ServiceStart(const QString& machine, const QString& service, qint16& index);
QString ServiceStop(const QString& machine, const QString& service, qint16& index);

// Sends one control code: 9 starts the service instead; codes without an
// access right (0, 6 to 8, 10 to 127, above 255) are refused without
// contacting the manager.
bool ServiceCommand(qint32 code, const QString& service);
// ServiceCommand; a failed custom code (128 to 255) goes to the error reporter.
bool Send_Mesg(qint32 code, const QString& service);
// Clears "OK", sends the code and polls up to 30 times for the acknowledgement.
// True when the message was delivered, acknowledged or not.
bool SendAndWait(qint32 code, const QString& keyPath, const QString& service);
// "OPTIONS_CHANGED" 128, "HEARTBEAT" 133, "STATUS" 140, "START" 144,
// "RESET_PORTS" 148 to the service "Nightcall".
bool svc_call_func(const QString& command, const QString& appName, const QString& keyPath);
// Polls a value up to 50 times until it is not empty.
bool ReadStatusValue(const QString& keyPath, quint32 root, const QString& name, QString& value);

} // namespace host

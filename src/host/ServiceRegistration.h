#pragma once
// Registering the agent as a service and removing the registration.
//
// There is no external installer here: RegisterViaInstsrv builds the
// installer's command line for the trace and registers directly.

#include <QString>

namespace host
{

// Registers the executable as an own-process service with automatic start.
bool ServiceCreate(const QString& name, const QString& path);
bool ServiceDelete(const QString& name);
// "INSTALL" registers the short form of the executable path; any other
// command removes the registration.
bool RegisterService(const QString& name, const QString& command, const QString& executable);
// Always true; a failed registration goes to the error reporter.
bool RegisterViaInstsrv(const QString& installer, const QString& name, const QString& command,
                        const QString& executable);

} // namespace host

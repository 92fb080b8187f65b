#pragma once
// The fixture of the contact tests: this agent's listener on 127.0.0.2 and
// its outbound contact, with a main window that makes the engine on demand
// and keeps what the heartbeat's completion hands it.

#include "contact/ControllerContact.h"
#include "timeset/CNISTtimeset.h"

#include "FakePeer.h"
#include "ListenerFixture.h"

#include <memory>

namespace contacttest
{

class Window : public enginetest::RecordingDisplay
{
public:
    void HeartbeatDone(const QString& key, const QString& upDown, const QString& mac) override
    {
        done << key + "|" + upDown + "|" + mac;
        legTime = engine->NISTLegTime();
        engine.reset();
    }
    timeset::CNISTtimeset& Engine()
    {
        if (!engine)
            engine = std::make_unique<timeset::CNISTtimeset>();
        return *engine;
    }

    std::unique_ptr<timeset::CNISTtimeset> engine;
    QStringList done;
    float legTime = -1;
};

// The controller and the polled computers are other loopback addresses on the same port.
class ContactFixture : public loopback::ListenerFixture
{
protected:
    ContactFixture() : ListenerFixture("127.0.0.2") {}

    Window window;
    contact::ControllerContact contact{
        listener, window, [this]() -> timeset::CNISTtimeset& { return window.Engine(); }};
};

} // namespace contacttest

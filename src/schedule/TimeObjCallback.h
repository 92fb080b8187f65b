#pragma once
// What a paced wait calls while it runs: once about every second and once a
// minute (on wall-clock minutes once aligned). The main window implements it.

namespace schedule
{

class TimeObjCallback
{
public:
    virtual ~TimeObjCallback() = default;
    virtual void NewSecond() = 0;
    virtual void NewMinute() = 0;
};

} // namespace schedule

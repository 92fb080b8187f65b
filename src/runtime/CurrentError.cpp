#include "runtime/CurrentError.h"

namespace rt
{

CurrentError& Err()
{
    static CurrentError current;
    return current;
}

void RaiseError(qint32 number, const QString& description)
{
    Err().number = number;
    Err().description = description;
}

void ClearError()
{
    Err().number = 0;
    Err().description.clear();
}

} // namespace rt

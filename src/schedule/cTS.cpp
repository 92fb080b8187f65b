#include "schedule/cTS.h"

namespace schedule
{

void cTS::copy_to(cTS& other) const
{
    other.setsProtocol(m_sProtocol);
    other.setsLocation(m_sLocation);
    other.setsServer(m_sServer);
    other.setnPortNumber(m_nPortNumber);
}

} // namespace schedule

#include "workflows/session.h"

#include "workflows/deviceview.h"

namespace irlearn {

Session::Session(DeviceView &view, CommControl::PortResolver resolver)
    : comm(std::move(resolver)), replies(state, comm, io, log, view), connection(comm, log, view),
      keys(state, comm, exchange, view), numbered(state, comm, exchange, view),
      read(state, comm, io, exchange, view), download(state, comm, io, exchange, log, view),
      save(state, view)
{
    QObject::connect(&comm, &CommControl::OnComm, &comm, [this] { replies.MSComm1_OnComm(); });
}

} // namespace irlearn

#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ListenSocket.h"
#include "ServerPlatform.h"

class TServerCore;

// What a listening set serves: the pages' HTTP, or Modbus TCP masters.
enum class TListenerKind { Http, ModbusTcp };

// The platform side of a server: the listening sockets, the connections, the timers and the
// inbox of the server's thread, delivering their events to a server core. One realisation per
// platform: Qt's event loop (QtServerSockets.cpp), Winsock on a message-only window
// (Win32ServerSockets.cpp). Made and used on the server's thread.
class TServerSockets : public TServerPlatform {
public:
    // Events reach the core from now on.
    virtual void Attach(TServerCore& core) = 0;
    // No event reaches the core any more; the connections stay open until the object goes.
    virtual void Detach() = 0;
    // Why no request could be answered (the server's thread cannot be woken from the worker,
    // or the sockets cannot be used at all): the call and its error; Error 0 when all is well.
    virtual TListenSocket SetupFailure() const = 0;
    // Takes over the listening sockets and accepts on them, each connection for the core as its
    // kind; false with the text for the operator when it cannot (the sockets are closed then).
    virtual bool Listen(const TListenSocket& listening, TListenerKind kind,
                        std::string& errorText) = 0;
    // The port listened on for the kind; 0 before Listen.
    virtual uint16_t Port(TListenerKind kind) const = 0;
    virtual void CloseListeners() = 0;
    // Closes every connection at the server's end, none left lingering on the port, and no
    // event of theirs reaches the core any more.
    virtual void CloseConnections() = 0;
};

std::unique_ptr<TServerSockets> MakeServerSockets();

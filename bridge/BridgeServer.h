#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "AccessGate.h"
#include "AccessSettings.h"
#include "BridgeHost.h"
#include "BridgePort.h"
#include "LimitedLines.h"
#include "MainThreadInbox.h"
#include "RequestProcedure.h"

class QTcpSocket;
class TRavo32;
class TRequestAssembler;

// The HTTP front end: accepts connections, assembles each request, asks the access gate, serves
// one request at a time on a worker thread and hands the response back to the connection it
// came from. While a request is served, only a GET of the bridge's page is read (and the gate
// answers it); anything else stays unread. Everything but the worker runs on the thread that owns
// the server.
class TBridgeServer : public QObject {
public:
    // Request bytes held per connection; a larger request is served as far as this goes.
    static constexpr size_t kMaxRequestBytes = 1 << 20;
    // How long a request that TCP delivers in pieces may take to arrive whole.
    static constexpr int kCompletionWaitMs = 1000;
    static constexpr int kShutdownPauseMs = 500;
    // A page needs a handful of connections; beyond this many the oldest idle one is closed, so
    // that idle or abandoned clients cannot use up the descriptors or the memory.
    static constexpr size_t kMaxConnections = 256;
    static constexpr int kAcceptRetryMs = 100;

    // Starts a thread running the task; throws std::system_error when the system cannot create
    // one, as std::thread does. Tests put in one that fails.
    using TThreadStarter = std::function<std::thread(std::function<void()>)>;
    static std::thread StartThread(std::function<void()> task) {
        return std::thread(std::move(task));
    }

    TBridgeServer(TRavo32& link, TBridgeHost& host, QObject* parent = nullptr,
                  TThreadStarter startThread = StartThread);
    ~TBridgeServer() override;

    // Who may drive the devices; set before Open. The defaults serve this computer only.
    void SetAccess(TAccessSettings access);
    // The error number with which the link's stop request or the server's inbox could not get
    // its descriptor; 0 when both have one. Without them a request could be neither stopped nor
    // answered, and Open fails.
    int SetupError() const;
    // Listens as the access settings say; on failure, false and the text for the operator.
    bool Open(uint16_t port, std::string& errorText);
    uint16_t ListeningPort() const;
    // The information line that says where the server listens.
    std::string ListeningLine() const;

    // Called on the server's thread for a request of an origin that the operator has not
    // answered about (Origins=ask), until it returns true: the question is in front of the
    // operator or waits its turn there.
    std::function<bool(const std::string& origin)> AskAboutOrigin;
    // The general error report, on the server's thread, for an exception that escaped the
    // request's own fault reply (nothing on the request road should throw); the request is
    // answered with the internal fault all the same. Without one the text goes to the log.
    std::function<void(const std::string& text)> ReportFault;
    // The operator's answer: the origin's requests are served or refused from now on.
    void DecideOrigin(const std::string& origin, bool allowed) {
        Gate.DecideOrigin(origin, allowed);
    }
    bool Busy() const { return WorkerThread.joinable(); }
    size_t ConnectionCount() const { return Connections.size(); }

    // Stops a running request, closes the port, pauses and closes the server.
    void Shutdown();

private:
    struct TConnection;

    void AcceptConnections(QTcpServer& server);
    void DropOldestIdleConnection();
    // Runs when data arrives, and when the wait for the rest of a request is over.
    void ServerSocketClientRead(QTcpSocket* socket, bool waitOver);
    void ServerSocketClientDisconnect(QTcpSocket* socket);
    // The first bytes the connection holds, assembled or still unread.
    static std::string HeldBytes(const TConnection& connection, QTcpSocket& socket);
    // The two busy lines, within their limit.
    void NoteBusy();
    // The lines of the gate and of the busy rule; the count lines of their limits come later.
    void WriteLines(const std::vector<TLogEntry>& lines);
    void FlushLines();
    void StartWorker(QTcpSocket* socket, TConnection& connection, const TAccessVerdict& verdict);
    // The worker thread's whole work; nothing escapes it.
    void ServeOnWorker(uint64_t generation, const std::string& received,
                       const TProcedureOptions& options) noexcept;
    void FinishRequest(uint64_t generation, std::optional<std::string> response,
                       const std::optional<std::string>& fault);
    void StopWorker();

    TRavo32& Link;
    TBridgeHost& Host;
    TThreadStarter StartWorkerThread;
    std::vector<std::unique_ptr<QTcpServer>> Servers;
    std::vector<std::string> ListeningAddresses;
    TAccessGate Gate;
    // The two busy lines, for each arrival of data while a request is served.
    TLimitedLines BusyLines;
    QTimer LineFlush;
    TMainThreadInbox Inbox;
    std::unordered_map<QTcpSocket*, std::unique_ptr<TConnection>> Connections;
    // The busy mark: joinable from the start of a worker until the GUI thread joins it.
    std::thread WorkerThread;
    QPointer<QTcpSocket> ClientSocket;
    uint64_t ConnectionsAccepted = 0;
    // Tells a finished worker's hand-over from that of a worker stopped before it arrived.
    uint64_t Generation = 0;
};

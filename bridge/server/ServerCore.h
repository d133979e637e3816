#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "AccessGate.h"
#include "AccessSettings.h"
#include "BridgeHost.h"
#include "LimitedLines.h"
#include "LineQueue.h"
#include "MbapFraming.h"
#include "ModbusTcpSettings.h"
#include "QueueSettings.h"
#include "RequestAssembler.h"
#include "RequestProcedure.h"
#include "ServerPlatform.h"
#include "WorkerThread.h"

class TRavo32;

// What the program that runs a server gives it besides its host.
struct TServerHooks {
    // Called on the server's thread for a request of an origin that the operator has not
    // answered about (Origins=ask), until it returns true: the question is in front of the
    // operator or waits its turn there. None where nobody can be asked.
    std::function<bool(const std::string& origin)> AskAboutOrigin;
    // The general error report, on the server's thread, for an exception that escaped the
    // request's own fault reply (nothing on the request road should throw); the request is
    // answered with the internal fault all the same. Without one the text goes to the log.
    std::function<void(const std::string& text)> ReportFault;
};

// The HTTP server without its sockets: the connections and the assembly of each request, the
// access gate, the busy rule and its lines, the worker thread and the hand-over of its response,
// the stop of a request whose client left, and shutdown. While a request is served, only a GET of
// the bridge's page is read (and the gate answers it); anything else stays unread. It runs on the
// server's thread and talks to the sockets, timers, clock and event loop only through
// TServerPlatform, whose events it receives; no toolkit, no socket calls, no clock of its own.
class TServerCore {
public:
    // Request bytes held per connection; a larger request is served as far as this goes.
    static constexpr size_t kMaxRequestBytes = 1 << 20;
    // How long a request that TCP delivers in pieces may take to arrive whole.
    static constexpr int kCompletionWaitMs = 1000;
    static constexpr int kShutdownPauseMs = 500;
    // A page needs a handful of connections; beyond this many the oldest idle one is closed, so
    // that idle or abandoned clients cannot use up the descriptors or the memory.
    static constexpr size_t kMaxConnections = 256;
    // The timer of the count lines. A connection's wait for the rest of its request is the
    // timer numbered as the connection.
    static constexpr uint64_t kLineFlushTimer = 0;
    // The timer of the oldest wait in the line's queue; no connection gets this id, and a
    // platform may add its own base to it.
    static constexpr uint64_t kQueueWaitTimer = uint64_t{1} << 62;
    // Modbus TCP masters keep their connection; more than this many are refused, and one that
    // sends nothing for kModbusIdleMs (with no request of its own under way) is closed.
    static constexpr size_t kMaxModbusConnections = 32;
    static constexpr int kModbusIdleMs = 60'000;
    // Requests of one Modbus TCP connection taken at a time; its further bytes stay unread until
    // answers go out, so one client cannot fill the queue alone.
    static constexpr size_t kMostOutstanding = 16;
    // A client that leaves more than this of its answers untaken is closed before it may ask
    // again: its answers would otherwise pile up in the bridge (a page of the demo is 44 KB for a
    // request of 50 bytes).
    static constexpr size_t kMostUnsentBytes = size_t{1} << 20;

    // Runs a request's task on the worker's thread; throws std::system_error when the system
    // cannot make that thread. None: the core's own TWorkerThread. Tests run the task at once, or
    // fail.
    using TTaskRunner = std::function<void(std::function<void()>)>;

    TServerCore(TRavo32& link, TBridgeHost& host, TServerPlatform& platform,
                const TServerHooks& hooks, TTaskRunner runOnWorker = {});
    // Stops a running request.
    ~TServerCore();
    TServerCore(const TServerCore&) = delete;
    TServerCore& operator=(const TServerCore&) = delete;

    // Who may drive the devices; the defaults serve this computer only.
    void SetAccess(TAccessSettings access);
    // The line's queue; without one (Depth 0) a request that finds the line busy is refused.
    // Set before the first request.
    void SetQueue(TQueueSettings settings);
    // The line of the Modbus TCP front end; set before its first connection.
    void SetModbusTcp(const TModbusTcpSettings& settings) { ModbusTcp = settings; }
    const TAccessSettings& Access() const { return Gate.Settings(); }
    // The [Origins] section read again applies from the next request (TAccessGate).
    void SetOriginDecisions(std::map<std::string, bool> decisions) {
        Gate.SetOriginDecisions(std::move(decisions));
    }
    // The port and host name the server listens under, and where the interface addresses come
    // from (asked for each request with Listen=any), once it listens.
    void SetLocalNames(uint16_t port, std::string hostName, TAccessGate::TAddressSource addresses);
    // The operator's answer: the origin's requests are served or refused from now on.
    void DecideOrigin(const std::string& origin, bool allowed) {
        Gate.DecideOrigin(origin, allowed);
    }
    // The operator takes the origin off the list (TAccessGate::ForgetOrigin).
    void ForgetOrigin(const std::string& origin) { Gate.ForgetOrigin(origin); }
    // The origins listed and seen, with their requests since the start.
    std::vector<TKnownOrigin> KnownOrigins() { return Gate.KnownOrigins(Platform.NowMs()); }
    bool Busy() const { return Serving; }
    size_t ConnectionCount() const { return Connections.size(); }
    size_t WaitingCount() const { return Queue.Size(); }

    // The platform's events, on the server's thread. A new connection gets its id here.
    TConnectionId Accepted(std::string peer);
    // A connection on the Modbus TCP port; 0 when kMaxModbusConnections are open already, and the
    // platform closes it.
    TConnectionId AcceptedModbus(std::string peer);
    void DataArrived(TConnectionId connection) { TakeClientBytes(connection, false); }
    void Closed(TConnectionId connection) { ForgetConnection(connection); }
    void TimerFired(uint64_t timer);
    // No descriptor was left for a new connection: the oldest idle one makes room.
    void AcceptFailed() { DropOldestIdleConnection(); }

    // Drops the waiting requests unanswered, stops a running request, closes the port and
    // pauses; the listening sockets close after.
    void Shutdown();

private:
    struct TConnection {
        // The peer's address, as the log names it.
        std::string Peer;
        TRequestAssembler Request{kMaxRequestBytes};
        uint64_t FirstByteMs = 0;
        // A Modbus TCP connection: its bytes are MBAP frames, its answers go out in order.
        bool Modbus = false;
        TMbapStream Frames;
        // Its framing broke: nothing more is read, and it closes once the requests before the
        // break are answered.
        bool CloseWhenAnswered = false;
        struct TSlot {
            uint64_t Ticket = 0;
            // Empty for a request that gets no answer (a broadcast).
            std::optional<std::string> Answer;
        };
        // Its requests in the order they came, until each and those before it are answered.
        std::deque<TSlot> Slots;
    };

    void DropOldestIdleConnection();
    // Closes the connection when its client has not taken kMostUnsentBytes of its answers.
    bool DroppedForUnreadAnswers(TConnectionId id);
    // Runs when data arrives, and when the wait for the rest of a request is over.
    void TakeClientBytes(TConnectionId id, bool waitOver);
    void ForgetConnection(TConnectionId id);
    // The first bytes the connection holds, assembled or still unread.
    std::string HeldBytes(TConnectionId id, const TConnection& connection);
    // The two busy lines, within their limit.
    void NoteBusy();
    // A Modbus TCP connection's bytes: its whole requests are answered at once or go to the line.
    void TakeModbusBytes(TConnectionId id);
    void AdmitModbus(TConnectionId id, TConnection& connection, TMbapRequest request);
    // The answer of the connection's request under the ticket; what is answered in order goes out.
    void AnswerModbus(TConnectionId id, uint64_t ticket, std::string answer);
    void WriteModbusAnswers(TConnectionId id, TConnection& connection);
    // The 60 s idle close of a Modbus TCP connection, from its last activity.
    void ModbusIdle(TConnectionId id);
    size_t ModbusConnectionCount() const;
    // The lines of the gate and of the busy rule; the count lines of their limits come later.
    void WriteLines(const std::vector<TLogEntry>& lines);
    void FlushLines();
    // False when no thread could take it: the FAULT line is written.
    bool StartWorker(TConnectionId id, const std::string& peer, THttpRequest request,
                     const TAccessVerdict& verdict);
    bool StartModbusWorker(TConnectionId id, uint64_t ticket, const std::string& peer,
                           TMbapRequest request);
    // What the worker does for one request: its response bytes, none when a stop ended it.
    using TServeTask = std::function<std::optional<std::string>(const TProcedureOptions&)>;
    // The response when the task failed with an exception.
    using TFaultAnswer = std::function<std::string()>;
    bool StartTask(TConnectionId id, uint64_t ticket, TServeTask serve, TFaultAnswer faultAnswer,
                   TProcedureOptions options);
    // The worker thread's whole work; nothing escapes it. restMs: the pause the line still owes
    // its last exchange.
    void ServeOnWorker(uint64_t generation, const TServeTask& serve,
                       const TFaultAnswer& faultAnswer, const TProcedureOptions& options,
                       uint32_t restMs) noexcept;
    // Until the worker's task has ended, once it has handed its response over or was stopped.
    void WaitForWorkerTask();
    void FinishRequest(uint64_t generation, std::optional<std::string> response,
                       const std::optional<std::string>& fault, const std::optional<TLineUse>& use);
    // A request that found the line busy, with the queue on: it waits its turn, is refused as
    // when there is no queue, or, for a silent slave, answered at once.
    void Enqueue(TConnectionId id, TConnection& connection, THttpRequest request,
                 const TAccessVerdict& verdict);
    // While the line is free, the next waiting request takes it.
    void ServeNextWaiting();
    void ExpireWaits();
    void ArmQueueTimer();
    bool HasWaitingRequest(TConnectionId id) const;
    // 128 on the connection, nothing of the request sent.
    void AnswerUnsent(TConnectionId id, const THttpRequest& request);
    void StopWorker();

    TRavo32& Link;
    TBridgeHost& Host;
    TServerPlatform& Platform;
    const TServerHooks& Hooks;
    TWorkerThread Worker;
    TTaskRunner RunOnWorker;
    TAccessGate Gate;
    // The two busy lines, for each arrival of data while a request is served.
    TLimitedLines BusyLines;
    // The lines of requests that waited too long (128).
    TLimitedLines QueueLines;
    TQueueSettings QueueSettings;
    TLineQueue Queue{0, 0};
    struct TWaitingRequest {
        TConnectionId Connection = 0;
        std::string Peer;
        THttpRequest Request;
        TAccessVerdict Verdict;
        // A Modbus TCP request in place of the HTTP one.
        std::optional<TMbapRequest> Modbus;
    };
    // By the ticket the queue knows them by.
    std::map<uint64_t, TWaitingRequest> WaitingRequests;
    uint64_t LastTicket = 0;
    // Until when the line rests after an exchange that ended without its pause (queue on).
    uint64_t LineRestUntilMs = 0;
    // When the count lines' timer is due, while it runs.
    std::optional<uint64_t> LineFlushAtMs;
    // By id, so the oldest comes first.
    std::map<TConnectionId, TConnection> Connections;
    TConnectionId LastConnection = 0;
    // What the platform's Read fills, kept between reads.
    std::string ReadBuffer;
    // The busy mark: from the hand-over of a request to the worker until the server's thread has
    // taken its response, or stopped it.
    bool Serving = false;
    // True while the worker's task runs, up to its last step; guarded by TaskLock.
    bool TaskRunning = false;
    std::mutex TaskLock;
    std::condition_variable TaskEnded;
    // The connection whose request the worker serves; 0 while none.
    TConnectionId ClientConnection = 0;
    // The served request's ticket on a Modbus TCP connection.
    uint64_t ServedTicket = 0;
    TModbusTcpSettings ModbusTcp;
    // Tells a finished worker's hand-over from that of a worker stopped before it arrived.
    uint64_t Generation = 0;
};

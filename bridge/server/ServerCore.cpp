#include "ServerCore.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <system_error>

#include "DemoPages.h"
#include "ModbusExchange.h"
#include "Ravo32.h"
#include "RequestErrors.h"
#include "RequestWorker.h"

namespace {

constexpr char kBusyText[] = "Предыдущая команда не обработана ...";
constexpr char kBusyAdvice[] =
    "Нужно в браузере на странице Демо в параметрах связи увеличить время частоты опроса!";
constexpr char kThreadFault[] = "FAULT! Создание потока ...";
// What the general error report says of an exception that is not a standard one.
constexpr char kUnknownFault[] = "Unknown error";
// The most taken from the platform in one read.
constexpr size_t kReadChunkBytes = 64 * 1024;

std::string UnloggedBusyLine(uint64_t count) {
    return "Ещё запросов во время обработки предыдущей команды без строки в журнале: " +
           std::to_string(count);
}

std::string UnloggedQueueLine(uint64_t count) {
    return "Ещё ответов 128 без строки в журнале: " + std::to_string(count);
}

std::string SilentSlaveLine(const TSlaveId& slave) {
    return "Устройство с адресом " + std::to_string(slave.Address) + " на COM" +
           std::to_string(slave.Port) +
           " не ответило на последний запрос: пока оно молчит, в очереди ждёт один его запрос, "
           "остальные сразу получают ошибку 128";
}

}  // namespace

TServerCore::TServerCore(TRavo32& link, TBridgeHost& host, TServerPlatform& platform,
                         const TServerHooks& hooks, TTaskRunner runOnWorker)
    : Link(link),
      Host(host),
      Platform(platform),
      Hooks(hooks),
      RunOnWorker(std::move(runOnWorker)),
      BusyLines(UnloggedBusyLine),
      QueueLines(UnloggedQueueLine),
      ReadBuffer(kReadChunkBytes, '\0') {
    if (!RunOnWorker) {
        RunOnWorker = [this](std::function<void()> task) { Worker.Run(std::move(task)); };
    }
}

TServerCore::~TServerCore() {
    StopWorker();
}

void TServerCore::SetAccess(TAccessSettings access) {
    Gate.SetSettings(std::move(access));
}

void TServerCore::SetQueue(TQueueSettings settings) {
    QueueSettings = settings;
    Queue = TLineQueue(settings.Depth, settings.WaitMs);
}

void TServerCore::SetLocalNames(uint16_t port, std::string hostName,
                                TAccessGate::TAddressSource addresses) {
    Gate.SetLocalNames(port, std::move(hostName));
    Gate.SetAddressSource(std::move(addresses));
}

TConnectionId TServerCore::Accepted(std::string peer) {
    if (Connections.size() >= kMaxConnections) {
        DropOldestIdleConnection();
    }
    const TConnectionId id = ++LastConnection;
    Connections[id].Peer = std::move(peer);
    return id;
}

TConnectionId TServerCore::AcceptedModbus(std::string peer) {
    if (ModbusConnectionCount() >= kMaxModbusConnections) {
        return 0;
    }
    const TConnectionId id = Accepted(std::move(peer));
    Connections[id].Modbus = true;
    Platform.StartTimer(id, kModbusIdleMs);
    return id;
}

size_t TServerCore::ModbusConnectionCount() const {
    return static_cast<size_t>(
        std::count_if(Connections.begin(), Connections.end(),
                      [](const auto& entry) { return entry.second.Modbus; }));
}

void TServerCore::TimerFired(uint64_t timer) {
    if (timer == kLineFlushTimer) {
        LineFlushAtMs.reset();
        FlushLines();
    } else if (timer == kQueueWaitTimer) {
        ExpireWaits();
    } else if (const auto found = Connections.find(timer);
               found != Connections.end() && found->second.Modbus) {
        ModbusIdle(timer);
    } else {
        TakeClientBytes(timer, true);
    }
}

void TServerCore::Shutdown() {
    // Nothing more may take the line, also when the served client's closing comes after this.
    Queue = TLineQueue(0, 0);
    WaitingRequests.clear();
    Platform.StopTimer(kQueueWaitTimer);
    StopWorker();
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
    Platform.Pause(kShutdownPauseMs);
}

void TServerCore::DropOldestIdleConnection() {
    const auto oldest =
        std::find_if(Connections.begin(), Connections.end(), [this](const auto& entry) {
            return entry.first != ClientConnection && !entry.second.Modbus &&
                   !HasWaitingRequest(entry.first);
        });
    if (oldest == Connections.end()) {
        return;
    }
    const TConnectionId id = oldest->first;
    Connections.erase(oldest);
    Platform.StopTimer(id);
    Platform.Abort(id);
}

void TServerCore::TakeClientBytes(TConnectionId id, bool waitOver) {
    // A client that gave up on its request and asks again at once: its closing may wait behind
    // this data in the event queue, but it must stop its request first, as it would have.
    if (Busy() && ClientConnection != 0 && Platform.PeerHasClosed(ClientConnection)) {
        StopWorker();
        ServeNextWaiting();
    }
    const auto found = Connections.find(id);
    if (found == Connections.end()) {
        return;
    }
    TConnection& connection = found->second;
    if (connection.Modbus) {
        TakeModbusBytes(id);
        return;
    }
    if (DroppedForUnreadAnswers(id)) {
        return;
    }
    // Only a request for the bridge's page goes on while another is served: it never touches the
    // line. Any other data stays unread: the page asks faster than the line answers. With the
    // queue on, a request of another client is read and waits its turn; a client whose request
    // is served or waits has its next one left unread.
    const bool queueing = QueueSettings.Depth > 0;
    if (Busy() && (id == ClientConnection || HasWaitingRequest(id) ||
                   (!queueing && !MayBeDemoPageRequest(HeldBytes(id, connection))))) {
        NoteBusy();
        return;
    }
    while (!connection.Request.Full()) {
        const size_t got = Platform.Read(id, ReadBuffer.data(),
                                         std::min(ReadBuffer.size(), connection.Request.Room()));
        if (got == 0) {
            break;
        }
        if (connection.Request.Empty()) {
            connection.FirstByteMs = Platform.NowMs();
        }
        connection.Request.Append(std::string_view(ReadBuffer.data(), got));
    }
    if (connection.Request.Empty()) {
        return;
    }
    if (!connection.Request.Complete() && !connection.Request.Full() && !waitOver) {
        const uint64_t waited = Platform.NowMs() - connection.FirstByteMs;
        if (waited < kCompletionWaitMs) {
            Platform.StartTimer(id, static_cast<int>(kCompletionWaitMs - waited));
            return;
        }
    }
    Platform.StopTimer(id);
    THttpRequest request = connection.Request.Parsed();
    const TGateDecision decision = Gate.Decide({.Request = request,
                                                .Peer = connection.Peer,
                                                .NowMs = Platform.NowMs(),
                                                .ErrorsOnly = Host.ViewError(),
                                                .CanAsk = static_cast<bool>(Hooks.AskAboutOrigin),
                                                .Busy = Busy() && !queueing});
    if (decision.Question && Hooks.AskAboutOrigin(*decision.Question)) {
        Gate.OriginAsked(*decision.Question);
    }
    WriteLines(decision.Lines);
    if (decision.Action == TGateAction::Busy) {
        // Held with its connection like unread data: the next data on it brings it along.
        NoteBusy();
        return;
    }
    if (decision.Action == TGateAction::Answer) {
        connection.Request.Clear();
        Platform.Write(id, decision.Response);
        return;
    }
    if (queueing && (Busy() || !Queue.Empty())) {
        Enqueue(id, connection, std::move(request), decision.Verdict);
        ServeNextWaiting();
        return;
    }
    if (StartWorker(id, connection.Peer, std::move(request), decision.Verdict)) {
        connection.Request.Clear();
    }
}

std::string TServerCore::HeldBytes(TConnectionId id, const TConnection& connection) {
    const std::string_view assembled = connection.Request.Bytes();
    if (assembled.size() >= kDemoPageRequestStartBytes) {
        return std::string(assembled.substr(0, kDemoPageRequestStartBytes));
    }
    std::string held(assembled);
    held.resize(kDemoPageRequestStartBytes);
    const size_t waiting = Platform.Peek(id, held.data() + assembled.size(),
                                         kDemoPageRequestStartBytes - assembled.size());
    held.resize(assembled.size() + waiting);
    return held;
}

void TServerCore::NoteBusy() {
    // A client that keeps sending must not fill the log, so the lines have the refusals' limit.
    std::vector<TLogEntry> lines;
    BusyLines.Note(Platform.NowMs(),
                   {{TLogKind::Error, kBusyText}, {TLogKind::Notice, kBusyAdvice}}, lines);
    WriteLines(lines);
}

void TServerCore::WriteLines(const std::vector<TLogEntry>& lines) {
    WriteLogEntries(Host, lines);
    // One timer writes the count lines of both limits, at the earlier of their times.
    std::optional<uint64_t> due = Gate.FlushDue();
    for (const std::optional<uint64_t> otherDue : {BusyLines.FlushDue(), QueueLines.FlushDue()}) {
        if (otherDue && (!due || *otherDue < *due)) {
            due = otherDue;
        }
    }
    if (!due || (LineFlushAtMs && *LineFlushAtMs <= *due)) {
        return;
    }
    const uint64_t now = Platform.NowMs();
    LineFlushAtMs = due;
    Platform.StartTimer(kLineFlushTimer, static_cast<int>(*due > now ? *due - now : 0));
}

void TServerCore::FlushLines() {
    const uint64_t now = Platform.NowMs();
    std::vector<TLogEntry> lines = Gate.Flush(now);
    BusyLines.Flush(now, lines);
    QueueLines.Flush(now, lines);
    // Also arms the timer again when it fired before either limit's time.
    WriteLines(lines);
}

void TServerCore::ForgetConnection(TConnectionId id) {
    Connections.erase(id);
    Platform.StopTimer(id);
    // Its waiting requests leave the queue; none of them touched the line.
    for (const TQueueEntry& entry : Queue.RemoveClient(id)) {
        WaitingRequests.erase(entry.Ticket);
    }
    ArmQueueTimer();
    // Only the connection that waits for the answer may cancel it: browsers close idle and
    // speculative connections on their own.
    if (Busy() && id == ClientConnection) {
        StopWorker();
        ServeNextWaiting();
    }
}

bool TServerCore::StartWorker(TConnectionId id, const std::string& peer, THttpRequest request,
                              const TAccessVerdict& verdict) {
    TProcedureOptions options;
    options.Ports = Gate.Settings().Ports;
    options.PortRefused = [this, peer, verdict](const std::string& reason) {
        Platform.Post([this, peer, verdict, reason] {
            WriteLines(Gate.PortRefused(reason, peer, verdict, Platform.NowMs()));
        });
    };
    return StartTask(
        id, 0,
        [this, request = std::move(request)](const TProcedureOptions& taskOptions) {
            return ServeRequest(request, Link, Host, taskOptions);
        },
        InternalFaultResponse, std::move(options));
}

bool TServerCore::StartModbusWorker(TConnectionId id, uint64_t ticket, const std::string& peer,
                                    TMbapRequest request) {
    TFaultAnswer faultAnswer = [request] {
        return BuildMbapException(request, MbapException::DeviceFailure);
    };
    return StartTask(id, ticket,
                     [this, peer, request = std::move(request),
                      line = ModbusTcp](const TProcedureOptions& taskOptions) {
                         return RunModbusExchange(request, line, peer, Link, Host, taskOptions);
                     },
                     std::move(faultAnswer), {});
}

bool TServerCore::StartTask(TConnectionId id, uint64_t ticket, TServeTask serve,
                            TFaultAnswer faultAnswer, TProcedureOptions options) {
    Link.ResetStop();
    ClientConnection = id;
    ServedTicket = ticket;
    const uint64_t generation = ++Generation;
    const uint64_t now = Platform.NowMs();
    const auto restMs =
        static_cast<uint32_t>(LineRestUntilMs > now ? LineRestUntilMs - now : uint64_t{0});
    {
        const std::lock_guard<std::mutex> hold(TaskLock);
        TaskRunning = true;
    }
    try {
        RunOnWorker([this, generation, serve = std::move(serve),
                     faultAnswer = std::move(faultAnswer), options = std::move(options), restMs] {
            ServeOnWorker(generation, serve, faultAnswer, options, restMs);
            // Told under the lock: once the server's thread sees the task ended, nothing of
            // the core is touched from here, and the core may go.
            const std::lock_guard<std::mutex> hold(TaskLock);
            TaskRunning = false;
            TaskEnded.notify_all();
        });
    } catch (const std::system_error&) {
        // The request stays with its connection, unread and unanswered, as if it had never
        // been taken: the next data on that connection brings it along.
        {
            const std::lock_guard<std::mutex> hold(TaskLock);
            TaskRunning = false;
        }
        ClientConnection = 0;
        ServedTicket = 0;
        Host.LogError(kThreadFault);
        return false;
    }
    Serving = true;
    return true;
}

void TServerCore::WaitForWorkerTask() {
    std::unique_lock<std::mutex> hold(TaskLock);
    TaskEnded.wait(hold, [this] { return !TaskRunning; });
}

void TServerCore::ServeOnWorker(uint64_t generation, const TServeTask& serve,
                                const TFaultAnswer& faultAnswer, const TProcedureOptions& options,
                                uint32_t restMs) noexcept {
    // An exception that left the thread would end the process. One that escaped the request's
    // own fault reply (the host itself failed) becomes the general error report on the server's
    // thread, and the request is still answered with the internal fault.
    std::optional<std::string> response;
    std::optional<std::string> fault;
    std::optional<TLineUse> use;
    try {
        // The pause the last exchange is owed holds whoever sent it; a stop ends it, unanswered.
        if (restMs == 0 || Link.Pause(restMs)) {
            TProcedureOptions taskOptions = options;
            taskOptions.LineUsed = [&use](const TLineUse& used) { use = used; };
            response = serve(taskOptions);
        }
    } catch (const std::exception& error) {
        fault = *error.what() != '\0' ? error.what() : kUnknownFault;
    } catch (...) {
        fault = kUnknownFault;
    }
    if (fault) {
        try {
            response = faultAnswer();
        } catch (...) {
            // No memory even for the reply: the page's own time-out ends its wait.
        }
    }
    try {
        Platform.Post(
            [this, generation, response = std::move(response), fault = std::move(fault),
             use]() mutable { FinishRequest(generation, std::move(response), fault, use); });
    } catch (...) {
        // Not even the hand-over could be queued (no memory left): the server stays busy until
        // its shutdown joins this thread, rather than the process ending here.
    }
}

void TServerCore::FinishRequest(uint64_t generation, std::optional<std::string> response,
                                const std::optional<std::string>& fault,
                                const std::optional<TLineUse>& use) {
    if (fault) {
        if (Hooks.ReportFault) {
            Hooks.ReportFault(*fault);
        } else {
            Host.LogError(*fault);
        }
    }
    if (generation != Generation || !Serving) {
        return;
    }
    // The busy mark is cleared and the reply handed over in one step, so a client that sends
    // its next request the moment it reads the reply is served.
    WaitForWorkerTask();
    Serving = false;
    // A worker cut short by an exception may have left the port open.
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
    const TConnectionId id = ClientConnection;
    const uint64_t ticket = ServedTicket;
    ClientConnection = 0;
    ServedTicket = 0;
    if (const auto found = Connections.find(id); found != Connections.end()) {
        if (found->second.Modbus) {
            AnswerModbus(id, ticket, response.value_or(std::string()));
        } else if (response) {
            Platform.Write(id, *response);
        }
    }
    if (use) {
        if (use->Answered) {
            Queue.Heard(use->Slave, *use->Answered);
        }
        LineRestUntilMs = QueueSettings.Depth > 0 && use->PauseOwedMs > 0
                              ? Platform.NowMs() + use->PauseOwedMs
                              : 0;
    }
    ServeNextWaiting();
}

void TServerCore::Enqueue(TConnectionId id, TConnection& connection, THttpRequest request,
                          const TAccessVerdict& verdict) {
    const TQueueEntry entry{.Ticket = ++LastTicket,
                            .Client = id,
                            .Slave = RequestSlave(request.Json),
                            .ArrivedMs = Platform.NowMs()};
    switch (Queue.Admit(entry)) {
        case TAdmission::Full:
            // As without a queue: the request stays with its connection, unanswered.
            NoteBusy();
            return;
        case TAdmission::SlaveSilent:
            if (Queue.FirstRefusalSinceSilent(*entry.Slave)) {
                Host.LogError(SilentSlaveLine(*entry.Slave));
            }
            connection.Request.Clear();
            AnswerUnsent(id, request);
            return;
        case TAdmission::Queued:
            connection.Request.Clear();
            WaitingRequests.emplace(
                entry.Ticket,
                TWaitingRequest{id, connection.Peer, std::move(request), verdict, std::nullopt});
            ArmQueueTimer();
            return;
    }
}

void TServerCore::ServeNextWaiting() {
    while (!Busy()) {
        const std::optional<TQueueEntry> next = Queue.TakeNext();
        if (!next) {
            break;
        }
        auto waiting = WaitingRequests.extract(next->Ticket);
        ArmQueueTimer();
        if (waiting.empty() || !Connections.contains(waiting.mapped().Connection)) {
            continue;
        }
        TWaitingRequest& request = waiting.mapped();
        if (request.Modbus) {
            // Its slot must be answered, or the connection's later answers would wait forever.
            const std::string unserved =
                BuildMbapException(*request.Modbus, MbapException::DeviceFailure);
            if (!StartModbusWorker(request.Connection, next->Ticket, request.Peer,
                                   std::move(*request.Modbus))) {
                AnswerModbus(request.Connection, next->Ticket, unserved);
            }
        } else {
            StartWorker(request.Connection, request.Peer, std::move(request.Request),
                        request.Verdict);
        }
    }
}

void TServerCore::ExpireWaits() {
    const uint64_t now = Platform.NowMs();
    std::vector<TLogEntry> lines;
    const int shown = ShownErrorCode(ErrorCode::QueueWaitExpired);
    for (const TQueueEntry& entry : Queue.TakeExpired(now)) {
        auto waiting = WaitingRequests.extract(entry.Ticket);
        if (waiting.empty() || !Connections.contains(entry.Client)) {
            continue;
        }
        if (waiting.mapped().Modbus) {
            AnswerModbus(entry.Client, entry.Ticket,
                         BuildMbapException(*waiting.mapped().Modbus, MbapException::TargetFailed));
        } else {
            AnswerUnsent(entry.Client, waiting.mapped().Request);
        }
        QueueLines.Note(now, {{TLogKind::Error, ErrorLine(shown, ErrorText(shown))}}, lines);
    }
    WriteLines(lines);
    ArmQueueTimer();
}

void TServerCore::ArmQueueTimer() {
    const std::optional<uint64_t> due = Queue.NextExpiryMs();
    if (!due) {
        Platform.StopTimer(kQueueWaitTimer);
        return;
    }
    const uint64_t now = Platform.NowMs();
    Platform.StartTimer(kQueueWaitTimer, static_cast<int>(*due > now ? *due - now : 0));
}

bool TServerCore::HasWaitingRequest(TConnectionId id) const {
    return std::any_of(WaitingRequests.begin(), WaitingRequests.end(),
                       [id](const auto& waiting) { return waiting.second.Connection == id; });
}

void TServerCore::AnswerUnsent(TConnectionId id, const THttpRequest& request) {
    Platform.Write(
        id, BuildHttpResponse(UnsentRequestReply(request.Json, ErrorCode::QueueWaitExpired)));
}

void TServerCore::StopWorker() {
    if (!Serving) {
        return;
    }
    Link.RequestStop();
    WaitForWorkerTask();
    Serving = false;
    ++Generation;
    ClientConnection = 0;
    ServedTicket = 0;
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
}

bool TServerCore::DroppedForUnreadAnswers(TConnectionId id) {
    if (Platform.Unsent(id) <= kMostUnsentBytes) {
        return false;
    }
    ForgetConnection(id);
    Platform.Abort(id);
    return true;
}

void TServerCore::TakeModbusBytes(TConnectionId id) {
    if (DroppedForUnreadAnswers(id)) {
        return;
    }
    for (;;) {
        auto found = Connections.find(id);
        if (found == Connections.end()) {
            return;
        }
        TConnection& connection = found->second;
        if (connection.CloseWhenAnswered || connection.Slots.size() >= kMostOutstanding) {
            return;
        }
        const TMbapParsed parsed = connection.Frames.Next();
        if (parsed.Result == TMbapParse::Malformed) {
            // Nothing after a broken header can be trusted, and none of it reaches the line.
            Host.LogError("Modbus TCP от " + connection.Peer +
                          ": кадр не по правилам MBAP, соединение закрыто");
            connection.CloseWhenAnswered = true;
            if (connection.Slots.empty()) {
                ForgetConnection(id);
                Platform.Abort(id);
            }
            return;
        }
        if (parsed.Result == TMbapParse::Request) {
            AdmitModbus(id, connection, parsed.Request);
            continue;
        }
        const size_t got = Platform.Read(id, ReadBuffer.data(),
                                         std::min(ReadBuffer.size(), connection.Frames.Room()));
        if (got == 0) {
            return;
        }
        connection.Frames.Append(std::string_view(ReadBuffer.data(), got));
        Platform.StartTimer(id, kModbusIdleMs);
    }
}

void TServerCore::AdmitModbus(TConnectionId id, TConnection& connection, TMbapRequest request) {
    const uint64_t ticket = ++LastTicket;
    connection.Slots.push_back({ticket, std::nullopt});
    if (const std::optional<TModbusRefusal> refusal =
            ModbusPortRefusal(request, ModbusTcp.Com, Gate.Settings().Ports)) {
        WriteLines(Gate.PortRefused(refusal->Reason, connection.Peer, {}, Platform.NowMs()));
        AnswerModbus(id, ticket, BuildMbapException(request, refusal->Exception));
        return;
    }
    if (!Busy() && Queue.Empty()) {
        const std::string peer = connection.Peer;
        if (!StartModbusWorker(id, ticket, peer, request)) {
            AnswerModbus(id, ticket, BuildMbapException(request, MbapException::DeviceFailure));
        }
        return;
    }
    const TSlaveId slave = ModbusSlave(request, ModbusTcp);
    const TQueueEntry entry{
        .Ticket = ticket, .Client = id, .Slave = slave, .ArrivedMs = Platform.NowMs()};
    switch (Queue.Admit(entry)) {
        case TAdmission::Full:
            NoteBusy();
            AnswerModbus(id, ticket, BuildMbapException(request, MbapException::PathUnavailable));
            return;
        case TAdmission::SlaveSilent:
            if (Queue.FirstRefusalSinceSilent(slave)) {
                Host.LogError(SilentSlaveLine(slave));
            }
            AnswerModbus(id, ticket, BuildMbapException(request, MbapException::TargetFailed));
            return;
        case TAdmission::Queued:
            WaitingRequests.emplace(ticket, TWaitingRequest{.Connection = id,
                                                            .Peer = connection.Peer,
                                                            .Request = {},
                                                            .Verdict = {},
                                                            .Modbus = std::move(request)});
            ArmQueueTimer();
            ServeNextWaiting();
            return;
    }
}

void TServerCore::AnswerModbus(TConnectionId id, uint64_t ticket, std::string answer) {
    const auto found = Connections.find(id);
    if (found == Connections.end()) {
        return;
    }
    TConnection& connection = found->second;
    for (TConnection::TSlot& slot : connection.Slots) {
        if (slot.Ticket == ticket) {
            slot.Answer = std::move(answer);
            break;
        }
    }
    WriteModbusAnswers(id, connection);
}

void TServerCore::WriteModbusAnswers(TConnectionId id, TConnection& connection) {
    const bool wasFull = connection.Slots.size() >= kMostOutstanding;
    while (!connection.Slots.empty() && connection.Slots.front().Answer) {
        if (!connection.Slots.front().Answer->empty()) {
            Platform.Write(id, *connection.Slots.front().Answer);
        }
        connection.Slots.pop_front();
    }
    if (connection.CloseWhenAnswered) {
        if (connection.Slots.empty()) {
            ForgetConnection(id);
            Platform.Abort(id);
        }
        return;
    }
    Platform.StartTimer(id, kModbusIdleMs);
    // Bytes left unread while it had its most requests outstanding come in now.
    if (wasFull && connection.Slots.size() < kMostOutstanding) {
        Platform.Post([this, id] { TakeModbusBytes(id); });
    }
}

void TServerCore::ModbusIdle(TConnectionId id) {
    const auto found = Connections.find(id);
    if (found == Connections.end()) {
        return;
    }
    if (!found->second.Slots.empty()) {
        Platform.StartTimer(id, kModbusIdleMs);
        return;
    }
    ForgetConnection(id);
    Platform.Abort(id);
}

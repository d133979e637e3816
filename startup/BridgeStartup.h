#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BridgeHost.h"
#include "BridgePort.h"
#include "IniFile.h"

class TBridgeServer;
class TRavo32;

// The three view options as the settings file keeps them.
struct TViewOptions {
    bool Error = false;
    bool Set = false;
    bool Hex = false;
};

// What a program that runs the bridge gives its start-up besides the settings and the log.
struct TBridgeShell {
    // Tests give 0 for a free port.
    uint16_t Port = kBridgePort;
    // Puts a page's origin that the settings neither allow nor refuse to the operator; true once
    // it is put. Without it nobody can be asked, and Origins=ask serves the listed origins only.
    std::function<bool(const std::string& origin)> AskAboutOrigin;
    // A fault that a request's reply could only call internal (TServerHooks::ReportFault).
    std::function<void(const std::string& text)> ReportFault;
    // The program that holds the port when another one listens on it, as the log names it;
    // empty when the shell cannot tell, and the line then names the system's tool that can.
    std::function<std::string(uint16_t port)> PortHolder;
    // Without a server, the start lines and the line that says why are written and the program
    // runs on (the window); otherwise nothing is written and the shell reports the reason.
    bool StartLinesWithoutServer = false;
    // Information lines of the shell's own, written after where the server listens (the window's
    // daily files).
    std::vector<std::string> ShellLines;
};

enum class TStartResult {
    Serving,
    // The port could not be listened on (taken, most often); Reason is the socket error, or
    // for a shell that ends the whole line of a start without its server (NoServerLine).
    NoServer,
    // The descriptors that stop a request or hand over its answer could not be made: the server
    // could serve nobody, and the program must not start.
    NotSetUp,
};

struct TStartOutcome {
    TStartResult Result = TStartResult::Serving;
    std::string Reason;
    // NoServer: another program listens on the port.
    bool PortTaken = false;
};

// The start of the bridge in every program that runs it, without a toolkit: the settings file,
// the COM map, the access settings with their problems and risks, the server, and the lines
// that begin the log. The shell (the window, modbus-bridged, a service) gives the settings' path,
// the log (its TBridgeHost) and what only it knows. Made and used on the thread whose event loop
// serves the server.
class TBridgeStartup {
public:
    // Reads the settings file (a UTF-8 path; a missing file reads as the defaults) and maps the
    // COM numbers. Nothing listens yet.
    explicit TBridgeStartup(const std::string& settingsPath);
    // Stops what runs, writing nothing: the host may be gone.
    ~TBridgeStartup();
    TBridgeStartup(const TBridgeStartup&) = delete;
    TBridgeStartup& operator=(const TBridgeStartup&) = delete;

    TIniFile& Settings() { return Settings_; }
    // Why the settings file could not be read at the start (the defaults apply); empty when it
    // was read or did not exist.
    const std::string& SettingsError() const { return Settings_.LoadError(); }
    TViewOptions ViewOptions() const;

    // Makes the server with the host as its log, listens and writes the start lines; once. The
    // host must outlive the server: Shutdown ends it.
    TStartOutcome Start(TBridgeHost& host, TBridgeShell shell);

    // Reads the [Origins] section of the settings file again and lets the server apply it from
    // the next request; one line tells how many sites are allowed now. A file that cannot be
    // read leaves the sites as they were, and the line says why. The other settings take a
    // restart. Nothing happens without a server.
    void ReloadOrigins(TBridgeHost& host);

    // The server once started; none before Start, after Shutdown, or when it was not set up.
    TBridgeServer* Server() { return Server_.get(); }
    // The COM port's link, whose map the window's ports dialog changes while it runs.
    TRavo32* Link() { return Link_.get(); }
    // 0 when nothing listens.
    uint16_t ListeningPort() const;

    // Stops a running request, closes the COM port and the server; nothing is written to the
    // settings. Again, it does nothing.
    void Shutdown();

private:
    TIniFile Settings_;
    std::unique_ptr<TRavo32> Link_;
    // Last, so that it goes first.
    std::unique_ptr<TBridgeServer> Server_;
};

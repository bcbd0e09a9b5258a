// SNMP agent thread: the net-snmp master agent run inside the card
// application (SNMP v1, v2c and v3), on a thread of its own. snmp_Start
// (app/startup.h) creates it detached near the end of start-up; the board's
// own objects are the board MIB module (snmp/qam_mib.h).
//
// Threads: everything SNMP runs on this one thread: requests and the MIB
// handlers, SET processing, traps, persistent state. net-snmp is built
// non-reentrant, so no other thread calls it.
//
// Files, all resolved under the run profile's data root (the library's
// compiled-in defaults differ, so every path is set explicitly): the agent's
// log "/var/log/snmpd.log", truncated at start; its persistent state under
// "/var/net-snmp" (created 0700); its configuration files (snmpd.conf,
// snmpd.local.conf, snmp.conf) searched in "/usr/local/etc/snmp",
// "/vandik_app/app", "/usr/local/lib/snmp" and "$HOME/.snmp". The program
// writes no configuration: communities, USM users, views and trap sinks come
// from those files and the persistent state only.
//
// Address: ":161" (UDP 161, every interface) on the card; with a profile that
// listens on one address (a PC run, tests) "udp:<address>:<snmpPort>". An
// "agentaddress" line of a configuration file overrides either.
//
// Signals, process-wide from the thread's start: SIGTERM and SIGINT stop only
// the agent (after its shutdown trap; the application keeps running), SIGHUP
// re-reads the configuration once the agent is up (ignored before), SIGUSR1
// dumps the agent's registrations to its log, SIGXFSZ ends the process with
// status 1, SIGPIPE is ignored. A signal may land on any thread, so the
// handlers only set flags and write a byte to a pipe the agent's loop waits
// on; the loop, on the SNMP thread, does the work.
//
// A failure to initialise the agent or to open its address ends the whole
// process with status 1, after the logs are flushed.
#pragma once

#include <string>

#include "core/types.h"

namespace hx {

constexpr const char* kSnmpdLogPath = "/var/log/snmpd.log";
constexpr const char* kSnmpPersistentDirectory = "/var/net-snmp";

// Thread entry: runs the agent until SIGTERM or SIGINT (or Snmpd_RequestStop),
// then shuts it down and returns. Runs once per process.
void* Snmpd_Server(void* argument);

// Signal handlers (async-signal-safe: flags and a write to the loop's pipe).
void SnmpdShutDown(int sig);            // SIGTERM, SIGINT: stop the loop
void SnmpdReconfig(int sig);            // SIGHUP: re-read the configuration
void SnmpdDump(int sig);                // SIGUSR1: dump the registrations
void SnmpdCatchRandomSignal(int sig);   // SIGXFSZ: log, flush, exit status 1

// Always 1; registered nowhere.
int snmp_input();
// Frees every configuration handler's settings and re-reads the
// configuration files. SNMP thread only; nothing calls it.
void SNMP_refreshConfig();

// The configuration search path, ':'-separated, resolved under the data root.
std::string Snmpd_ConfigurationPath();
// The transport address the agent opens for the current profile.
std::string Snmpd_AgentAddress();

// For tests, from any thread:
// Waits until the agent answers on its address (true), or `timeoutMs` of real
// time passed or the agent thread ended first (false).
bool Snmpd_WaitListening(U32 timeoutMs);
// The UDP port the agent listens on once listening (the kernel's choice when
// the profile asks for port 0), else 0.
U16 Snmpd_ListenPort();
// Stops the loop as SIGTERM does.
void Snmpd_RequestStop();

}  // namespace hx

// The board's SSH service on the simulated board: the recorded
// "/etc/init.d/dropbear start" and "/etc/init.d/dropbear stop" switch a state,
// and "ps" answers from that state, so the engineering page's SSH switch and
// query see the simulated card, never the host's processes.
//
// "dropbear" (the init script, by its base name) is recorded as every host
// command of the simulated board is (Command_Record) and not run; "start"
// marks the service running, "stop" stopped, any other word changes nothing
// and exits with status 1, as the script would. "ps" prints a header, the
// init process and, while the service runs, a dropbear line; to the command's
// output file when it names one, else as its captured output.
//
// Installed on the simulated board's power-on (the service starts stopped);
// tests may install it themselves. The state is an atomic; the handlers run
// in the thread that runs the command (the HTTP server's, for the web pages).
#pragma once

namespace hx::sim {

// The process line "ps" shows while the service runs.
constexpr const char* kSimDropbearProcess = "/usr/sbin/dropbear -r /etc/dropbear/dropbear_rsa_host_key";

// Installs the handlers for "dropbear" and "ps", the service stopped.
void SimSsh_Install();
// Whether the service runs.
bool SimSsh_Running();

}  // namespace hx::sim

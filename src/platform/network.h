// Ethernet set-up of the card: the two PHYs, the addresses of eth0 (chassis
// network) and eth1 (IP monitor output), the network settings check, and the
// iperf3 network test. The main FPGA's side of it (PHY reset line, MAC
// registers, own-address filter) is platform/fpga_net.h.
//
// Every host change (ifconfig, route, date, iperf3) goes through the command
// runner, so the simulated board records it instead of running it. Called
// from start-up, the inter-board server thread (network settings, network
// test) and the HTTP thread (IP monitor); the functions keep no state of their
// own beyond the resource and IP-monitor records they write, which have no lock.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/types.h"

namespace hx {

using MacAddress = std::array<U8, 6>;

constexpr U32 kLocalNetmask = 0xFFFFFF00;  // both ports are set up as /24
constexpr const char* kIperf3Archive = "/vandik_app/tools/iperf3.tar";
constexpr const char* kIperf3Folder = "/tmp/iperf3/";
constexpr const char* kIperf3Program = "/tmp/iperf3/iperf3";

// The one check of network settings that arrive from outside (serial answer,
// inter-board message 514): the own and the back-board address must be a
// unicast address (not 0.0.0.0, below 224.0.0.0) and the netmask non-zero and
// contiguous. Settings failing it are refused whole.
bool IPconfig_IsValidSettings(U32 u32BackBoardIP, U32 u32OwnIP, U32 u32Mask);

// The IP monitor port's address: the own address with its third octet plus 1
// (mod 256), so eth1 sits in the neighbouring /24.
U32 IPconfig_DeriveIP1(U32 u32IP);

// Own address: resource record, FPGA own-address filter (269), "ifconfig eth0
// A netmask 255.255.255.0", and the IP monitor port's address derived from it.
U32 IPconfig_SetIP(U32 u32IP);
// "ifconfig eth0 netmask M".
U32 IPconfig_SetLocalMask(U32 u32MaskIP);
// "route del default", "route add default gw G", register 358 = G.
U32 IPconfig_SetDefaultGate(U32 u32Gate);
// eth1: its MAC ("ifconfig eth1 hw ether" when the IP monitor record holds a
// second MAC), "ifconfig eth1 IP1 netmask 255.255.255.0", the MAC into
// registers 521/522 (FPGA_SetMacAddr), then the IP monitor settings applied.
U32 IPconfig_SetIP1();

// MAC of a network interface from "/sys/class/net/<name>/address". A missing
// file is handed to the interface source first, when start-up set one.
std::optional<MacAddress> Network_ReadMac(std::string_view interfaceName);
// The seam for the program's start-up: called with the interface's name when
// its address file is missing, so a back end without real interfaces (the
// simulated board, sim/sim_network.h) can create it. nullptr: none (the card).
using NetworkInterfaceSource = bool (*)(std::string_view interfaceName);
void Network_SetInterfaceSource(NetworkInterfaceSource source);
// "xx:xx:xx:xx:xx:xx" (hex digits of either case), optionally newline-ended.
std::optional<MacAddress> Network_ParseMac(std::string_view text);
std::string Network_FormatMac(const MacAddress& mac);
std::string Network_AddressText(U32 u32IP);

// Resets both PHYs (FPGA_PhyReset), then makes each advertise only 1000 Mbit/s
// full duplex and restart auto-negotiation.
void PHY_Init();

// Unpacks "/vandik_app/tools/iperf3.tar" into "/tmp/iperf3/"; succeeds when
// "/tmp/iperf3/iperf3" exists afterwards.
void Iperf3SoftwareInit();

// The network test's bounds: a run lasts at most 60 s (10 s when the back
// board names no duration) with at most 8 parallel streams, and is killed
// 10 s after its duration.
constexpr U32 kNetworkTestMaxSeconds = 60;
constexpr U32 kNetworkTestDefaultSeconds = 10;  // the tool's own default
constexpr U32 kNetworkTestMaxStreams = 8;
constexpr U32 kNetworkTestMarginSeconds = 10;
// Longest network test command accepted from the back board.
constexpr std::size_t kNetworkTestMaxText = 1024;

// Runs a network test command from the back board three times (" -R", " -u",
// " -u -R" appended), each ended at its duration plus the margin. The card
// runs only its own tool ("/tmp/iperf3/iperf3"), whatever path the first word
// gives for "iperf3"; every other word must be one of the client options
//   -c/--client host (required), -p/--port 1-65535, -t/--time 1-60,
//   -u/--udp, -b/--bitrate/--bandwidth up to 1G bit/s, -P/--parallel 1-8,
//   -R/--reverse, -i/--interval 0 or 0.1-60, -l/--length up to 1M,
//   -w/--window up to 16M, -f/--format one of kmgtKMGT
// each at most once, its value as the next word, after "=" (long form) or
// attached (short form). The tool gets them in their short form with
// canonical values. Anything else gives 4, nothing run, and a log line
// naming why; null gives 4.
U32 NetWorkQualityTest(const U8* pu8Command);

}  // namespace hx

// Ethernet set-up: the two PHYs, addresses of both ports, the network test tool.
#pragma once

namespace hx {

void PHY_Init();
void Iperf3SoftwareInit();

}  // namespace hx

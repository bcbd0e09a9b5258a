// Inter-board link: the server on the inter-board port, the client exchange,
// the command dispatcher and the messages to other boards. Callers include
// this one header; each concern has its own file pair.
#pragma once

#include "chassis/ipcomm_client.h"
#include "chassis/ipcomm_messages.h"
#include "chassis/ipcomm_packet.h"
#include "chassis/ipcomm_server.h"

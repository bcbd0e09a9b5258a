// Result codes of the whole program and their texts in the board's language.
//
// Every operation returns a 32-bit code, 0 for success. err_GetErrCodeString
// turns a code into the text the web replies, the back-board reports and the
// logs show; the language is set from the back board's resource record.
//
// The table is constant; the language is an atomic, set by the inter-board
// server thread and read by the HTTP thread.
#pragma once

#include <atomic>
#include <cstddef>

#include "core/types.h"

namespace hx {

enum vkErrCode : U32 {
    VK_SUCCESS = 0,
    VK_ERR_FAILURE = 1,
    VK_ERR_CONFIG_TIMEOUOT = 2,
    VK_ERR_VER = 3,
    VK_ERR_PARAMS = 4,
    VK_ERR_CRC = 5,
    VK_ERR_FILE_NOT_EXISTING = 6,
    VK_ERR_FILE_CAN_NOT_READE = 7,
    VK_ERR_MALLOC_FALIURE = 8,
    VK_ERR_UPGRADE_CHECK_HEADER = 9,
    VK_ERR_UPGRADE_CHECK_NET_HEADER = 10,
    VK_ERR_NO_DNS = 11,
    VK_ERR_NO_NETCARD_INFO = 12,
    VK_ERR_PARAMS_BY_MODIFY = 13,
    VK_ERR_REALTIME_STREAM_BANORMAL = 14,
    VK_ERR_PARAMS_MIGRATION = 15,
    VK_ERR_HARDWAREVER = 16,
    VK_ERR_TEMPERATURE = 17,
    VK_ERR_TAR_UPGRADE_FILE_ERROR = 18,
    VK_ERR_ENCODER_CONFIGTIMEOUT = 514,
    VK_ERR_ENCODER_PARAMETERS_ERR = 515,
    VK_ERR_ENCODER_FIRMWARE_ERR = 516,
    VK_ERR_ENCODER_NOT_LOCK_SIGNAL = 517,
    VK_ERR_WEB_NOTEXIST = 770,
    VK_ERR_WEB_MALLOC = 771,
    VK_ERR_WEB_GETPE = 772,
    VK_ERR_WEB_SETPE = 773,
    VK_ERR_WEB_POST_PARAM = 774,
    VK_ERR_WEB_BAD_PARAM = 775,
    VK_ERR_WEB_USER_AUTH = 776,
    VK_ERR_WEB_GET_PLAYER_ERR = 777,
    VK_ERR_WEB_GET_PROGRAM_ERR = 778,
    VK_ERR_WEB_TARFAIL = 779,
    VK_ERR_WEB_DIRCREATFAIL = 780,
    VK_ERR_USER_LEN_ERROR = 1026,
    VK_ERR_USER_EXIST = 1027,
    VK_ERR_USER_NOT_EXIST = 1028,
    VK_ERR_USER_FULL = 1029,
    VK_ERR_USER_OPEN_FILE_ERROR = 1030,
    VK_ERR_USER_PWD_ERR = 1031,
    VK_ERR_USER_TOKEN_ERR = 1032,
    VK_ERR_USER_TOKEN_TIMEOUT = 1033,
    VK_ERR_USER_WAS_LOGIN = 1034,
    VK_ERR_USER_NOT_MODUIFY_AUTHORITY = 1035,
    VK_ERR_COMM_PTHREAD_CREAT = 1282,
    VK_ERR_COMM_UART_RECV_MISS = 1283,
    VK_ERR_COMM_UART_RECV_HEADER = 1284,
    VK_ERR_COMM_UART_RECV_SLOT = 1285,
    VK_ERR_COMM_IP_RECV_MISS = 1286,
    VK_ERR_COMM_IP_TEMP_FULL = 1287,
    VK_ERR_PIN_PTHREAD_CREAT = 1537,
    VK_ERR_SOCKET_OPEN_FAIL = 1538,
    VK_ERR_SOCKET_CONNECT_FAIL = 1539,
    VK_ERR_IPCOMM_TIME_OUT = 1540,
    VK_ERR_FTP_DOWNLOAD_FILE_FAIL = 2049,
    VK_ERR_SEND_UPGRADE_FILE_TO_SUBMODULE_FAIL = 2050,
    VK_ERR_FTP_UPGRADE_TIME_OUT = 2051,
    VK_ERR_TSP_TS_ERROR = 2054,
    VK_ERR_SIP_ERROR_BAD_PARAM = 2306,
    VK_ERR_SIP_ERROR_OUT_OF_RANGE = 2307,
    VK_ERR_SIP_SUB_TABLEID_ALREADY_EXIST = 2308,
    VK_ERR_SIP_NIT_ALREADY_EXIST = 2309,
    VK_ERR_SIP_NIT_NO_EXIST = 2310,
    VK_ERR_UPGRADE_TO_LOW_VERSION = 2568,
    VK_ERR_UPGRADE_WITHOUT_TMP_VERSION = 2569,
};

// Web-edit clash results, which have texts though they are not members above.
constexpr U32 kErrPidConflict = 0x30017;
constexpr U32 kErrServiceIdConflict = 0x30024;

enum vkLanguage : U32 {
    EN_LANGUAGE_CN = 0,
    EN_LANGUAGE_EN = 1,
    EN_LANGUAGE_ES = 2,
    EN_LANGUAGE_FR = 3,
    EN_LANGUAGE_IT = 4,
    EN_LANGUAGE_GER = 5,
    EN_LANGUAGE_MAX = 6,
};

// One row of the message table.
struct ST_PE_ERR {
    U32 u32ErrCode;
    char arcEnglish[100];
    char arcChinese[100];
};

extern const ST_PE_ERR g_stErrArray[];
extern const std::size_t g_stErrArrayRows;

// The current language, English until the back board's record says otherwise.
extern std::atomic<U32> g_enLanguage;

// A language above 5 is refused with -1 and the language stays.
int err_SetLanguage(U32 enLanguage);
vkLanguage err_GetLanguage();
// The code's text in the current language; "" for a code without a row; null
// (and an ERROR log line) for an unsupported language. For the web replies.
const char* err_GetErrCodeString(U32 enErrCode);

}  // namespace hx

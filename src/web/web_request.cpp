// The web application's hooks in the HTTP server: which request bodies are
// spooled to an upload file, and the dispatch of every POST to its handler
// through the request table. Callers: the HTTP server's connection state
// machine, in the HTTP server thread, one request at a time; the body and
// the table need no lock.
#include "web/web_request.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/err.h"
#include "http/chunk.h"
#include "web/web_board.h"
#include "web/web_nit.h"
#include "web/web_output_status.h"
#include "web/web_reply.h"
#include "web/web_si_tables.h"
#include "web/web_stream.h"
#include "web/web_system.h"

namespace hx {

// Row order is match order; the pages rely on these names exactly as they
// are ("SetTsParam.w", "SetModulesAndlevel.w", "GetModules" without ".w").
const WEBInterface arstWEBComm[] = {
    {"Beat.w", web_processBeat},
    {"GetSubboardDetail.w", web_processGetSubboardDetail},
    {"GetSubboardParam.w", web_processGetSubboardParam},
    {"SetSubboardParam.w", web_processSetSubboardParam},
    {"GetSubboardIPMonitorParam.w", web_processGetSubboardIPMonitorParam},
    {"SetSubboardIPMonitorParam.w", web_processSetSubboardIPMonitorParam},
    {"GetSubboardReadyStatus.w", web_processGetSubboardReadyStatus},
    {"GetOutputTSStatus.w", web_processGetOutputTSStatus},
    {"GetOutputProgramStatus.w", web_processGetOutputProgramStatus},
    {"GetOutputTSDetailStatus.w", web_processGetOutputTSDetailStatus},
    {"ClearAllErr.w", web_processClearAllErr},
    {"ApplyAllParam.w", web_processApplyAllParam},
    {"ClearAllParam.w", web_processClearAllParam},
    {"DeleteTSConfig.w", web_processClearOneChannelProg},
    {"GetSubboardTSInfo.w", web_processGetSubboardTSInfo},
    {"SetTsParam.w", web_processSetTSParam},
    {"SetProgramParam.w", web_processSetProgramParam},
    {"GetTempTSInfo.w", web_processGetTempTSInfo},
    {"GetTempProgramInfo.w", web_processGetTempProgramInfo},
    {"Default.w", web_processDefault},
    {"Reboot.w", web_processReboot},
    {"SetNitVersionNum.w", web_processSetNITVersion},
    {"GetNIT.w", web_processGetNIT},
    {"AddNITNetwork.w", web_processAddNITNetwork},
    {"DeleteNITNetwork.w", web_processDelNITNetwork},
    {"AddNITStream.w", web_processAddNITTS},
    {"DeleteNITStream.w", web_processDelNITTS},
    {"DeleteLCN.w", web_processDelLCN},
    {"SetLCN.w", web_processSetLCN},
    {"AddDescriptor.w", web_processAddDescriptor},
    {"AutoGenerateNITDescriptor.w", web_processAutoGenerateNITDescriptor},
    {"ImportSiTable.w", nullptr},  // reads the spooled upload, see web_ProcessData
    {"ExportSiTable.w", web_processExportOneSiTable},
    {"GetSubboardPSIPChannel.w", web_GetSubboardPSIPChannel},
    {"SetSubboardPSIPChannel.w", web_SetSubboardPSIPChannel},
    {"GetTOTLocaltimeoffsetDescriptor.w", web_processGetTOT_LTODescriptor},
    {"SetTOTLocaltimeoffsetDescriptor.w", web_processSetTOT_LTODescriptor},
    {"Debug.w", web_processDebug},
    {"ReadReg.w", web_processReadReg},
    {"WriteReg.w", web_processWriteReg},
    {"ExportLogs.w", web_processExportLogs},
    {"ClearLogs.w", web_processClearLogs},
    {"SaveLog.w", web_saveLog},
    {"GetLog.w", web_processGetLog},
    {"SetModulesAndlevel.w", web_processSetModulesAndLevel},
    {"GetModules", web_processGetModules},
    {"ExportMibs.w", web_processExportMibs},
    {nullptr, nullptr},
};

char* g_ps8RevData = nullptr;

namespace {

constexpr size_t kBodyStep = 2048;
constexpr char kImportSiTable[] = "ImportSiTable.w";

size_t g_revDataCapacity = 0;
WebProcessDataHook g_requestHook = nullptr;

// Appends `length` bytes to the body of `used` bytes, growing it by whole
// steps; false (body freed) when memory runs out.
bool AppendToBody(size_t* used, const char* text, size_t length) {
    const size_t needed = *used + length + 1;  // the terminator included
    if (needed > g_revDataCapacity) {
        const size_t shortfall = needed - g_revDataCapacity;
        const size_t capacity = g_revDataCapacity + shortfall / kBodyStep * kBodyStep + kBodyStep;
        char* grown = static_cast<char*>(std::realloc(g_ps8RevData, capacity));
        if (grown == nullptr) {
            freeRevData();
            return false;
        }
        g_ps8RevData = grown;
        g_revDataCapacity = capacity;
    }
    std::memcpy(g_ps8RevData + *used, text, length);
    *used += length;
    return true;
}

U32 Dispatch(buffer* reply, connection* con) {
    if (con == nullptr) {
        return VK_ERR_WEB_NOTEXIST;
    }
    const U32 gathered = web_GatherBody(con);
    if (gathered != VK_SUCCESS) {
        return gathered;
    }
    const WEBInterface* row = web_FindRequest(con);
    if (row == nullptr) {
        freeRevData();
        return VK_ERR_WEB_NOTEXIST;
    }
    U32 result = VK_SUCCESS;
    if (std::strcmp(row->pcStr, kImportSiTable) == 0) {
        const buffer* header = con->request.request;
        result = web_processImportOneSiTable(reply, header != nullptr && header->used > 0 ? header->ptr : "");
    } else if (row->pfProcess != nullptr) {
        result = row->pfProcess(reply);
    }
    freeRevData();
    if (result != VK_SUCCESS) {
        // A failing request is answered 200 with its error object, so only an
        // unknown name becomes a 404.
        web_processErr(reply, result, row->pcStr);
    }
    return VK_SUCCESS;
}

}  // namespace

void freeRevData() {
    std::free(g_ps8RevData);
    g_ps8RevData = nullptr;
    g_revDataCapacity = 0;
}

U32 web_RevDataCapacity() {
    return g_ps8RevData != nullptr ? static_cast<U32>(g_revDataCapacity) : 0;
}

U32 web_GatherBody(const connection* con) {
    freeRevData();
    g_ps8RevData = static_cast<char*>(std::malloc(kBodyStep));
    if (g_ps8RevData == nullptr) {
        return VK_ERR_WEB_NOTEXIST;
    }
    g_revDataCapacity = kBodyStep;
    size_t used = 0;
    const chunkqueue* queue = con != nullptr ? con->request_content_queue : nullptr;
    // An upload's file chunk ends the walk: its body stays in the file.
    for (const chunk* c = queue != nullptr ? queue->first : nullptr; c != nullptr; c = c->next) {
        if (c->type != MEM_CHUNK || c->mem == nullptr || c->mem->ptr == nullptr || c->mem->used <= 1) {
            break;
        }
        const size_t length = strnlen(c->mem->ptr, c->mem->used - 1);
        if (!AppendToBody(&used, c->mem->ptr, length)) {
            return VK_ERR_WEB_NOTEXIST;
        }
    }
    g_ps8RevData[used] = '\0';
    return VK_SUCCESS;
}

const WEBInterface* web_FindRequest(const connection* con) {
    if (con == nullptr) {
        return nullptr;
    }
    // Only the request line's path decides: a Referer or Cookie naming an
    // earlier row must not turn a Set into a Get or into "ClearAllParam.w".
    const std::string_view name = web_RequestName(con);
    for (const WEBInterface* row = arstWEBComm; row->pcStr != nullptr; ++row) {
        if (name == row->pcStr) {
            return row;
        }
    }
    return nullptr;
}

std::string_view web_RequestName(const connection* con) {
    const buffer* header = con->request.request;
    if (header == nullptr || header->used <= 1) {
        return {};
    }
    // One pass over the request line, which ends at its CR or LF: the target
    // follows the first space and ends at the next space, '?' or '#'; the name
    // is its last path segment. (The set searches of string_view would call
    // memchr once per byte, on every request.)
    const char* p = header->ptr;
    const char* const end = p + header->used - 1;
    while (p != end && *p != ' ' && *p != '\r' && *p != '\n') {
        ++p;
    }
    if (p == end || *p != ' ') {
        return {};
    }
    const char* name = ++p;
    while (p != end && *p != ' ' && *p != '?' && *p != '#' && *p != '\r' && *p != '\n') {
        if (*p == '/') {
            name = p + 1;
        }
        ++p;
    }
    return {name, static_cast<size_t>(p - name)};
}

bool web_IsRequestName(std::string_view name) {
    return name == "GetModules" || (name.size() > 2 && name.substr(name.size() - 2) == ".w");
}

int web_ProcessIsLargeData(connection* con) {
    if (con == nullptr) {
        return 0;
    }
    const std::string_view name = web_RequestName(con);
    return name == "Upgrade.w" || name == "ImportConfig.w" || name == kImportSiTable ? 1 : 0;
}

U32 web_ProcessData(buffer* reply, server* srv, connection* con) {
    if (g_requestHook != nullptr) {
        return g_requestHook(reply, srv, con);
    }
    return Dispatch(reply, con);
}

U32 web_DispatchRequest(buffer* reply, connection* con) {
    return Dispatch(reply, con);
}

void Web_SetRequestHookForTest(WebProcessDataHook hook) { g_requestHook = hook; }

}  // namespace hx

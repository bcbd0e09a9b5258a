// Requests of the SI table pages: a stream's NIT exported to and imported
// from a NIT table file, the TOT's local time offset entry, and per output
// channel the tables the board generates and whether PSI insertion is on.
//
// Caller: the HTTP server thread (the request table), one request at a time.
// Model access holds the model lock (engine/model_lock.h); "SetSubboardPSIPChannel.w"
// holds it for the table switches and the apply, then, after releasing it,
// the QAM apply lock (platform/qam_apply.h) for the PSI insertion values and
// the saves: the two are never nested. The import and the TOT edit change the
// temporary copy; the import applies it at once (Web_MuxProcess, taken
// without the model lock because it sends to other boards).
//
// Files: the export writes "/tmp/TS<n>_NIT.table" and links it from
// "/vandik_app/web/download/"; the import reads the spooled upload named in
// g_arcUpgradeFiledir. All paths lie in the data root.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "core/types.h"
#include "engine/model_records.h"
#include "http/http_base.h"
#include "si/section_codec.h"

namespace hx {

// The 28-byte head of a NIT table file: seven little-endian 32-bit words,
// followed by dwDataLength bytes of NIT sections back to back.
struct DeviceConfigureSaveFileHeader_t {
    U32 dwSignature = 0;
    U32 dwDeviceType = 0;
    U32 dwVersion = 0;
    U32 dwDataLength = 0;
    U32 dwDataCRC = 0;  // Common_CRCCalculate(data, length, 0): CRC-32/MPEG-2
    U32 dwRes1 = 0;
    U32 dwRes2 = 0;
};

constexpr U32 kSiTableFileHeaderBytes = 28;
constexpr U32 kSiTableFileSignature = 53117;
constexpr U32 kSiTableFileDeviceType = 0xEEFD;
// What "ImportSiTable.w" answers: seconds the page waits before it reloads.
constexpr int kImportDelaySeconds = 5;

std::array<U8, kSiTableFileHeaderBytes> SiTableHeader_Serialize(const DeviceConfigureSaveFileHeader_t& header);
// The first 28 bytes; nullopt when fewer arrived.
std::optional<DeviceConfigureSaveFileHeader_t> SiTableHeader_Parse(std::span<const U8> bytes);

// One output stream's table switches (0 off, 1 generate), copied field for
// field to and from the stream record.
struct PSITRANS {
    U8 u8PATGenerate = 0;
    U8 u8PMTGenerate = 0;
    U8 u8CATGenerate = 0;
    U8 u8SDTGenerate = 0;
    U8 u8BATGenerate = 0;
    U8 u8NITGenerate = 0;
    U8 u8TDTGenerate = 0;
    U8 u8TOTGenerate = 0;
    U8 u8EITGenerate = 0;
    U8 u8MGTGenerate = 0;
    U8 u8VCTGenerate = 0;
    U8 u8STTGenerate = 0;
    U8 u8ETTGenerate = 0;
    U16 u16TransChannel = 0;
    U32 u32VCTType = 0;
};

// The import of a spooled SI table file; `header` is the request's raw
// header text (its request line's query names the table).
U32 web_processImportOneSiTable(buffer* reply, const char* header);
U32 web_processExportOneSiTable(buffer* reply);
U32 web_GetSubboardPSIPChannel(buffer* reply);
U32 web_SetSubboardPSIPChannel(buffer* reply);
U32 web_processGetTOT_LTODescriptor(buffer* reply);
U32 web_processSetTOT_LTODescriptor(buffer* reply);

// Writes the channel's live NIT as "/tmp/TS<channel+1>_NIT.table", links it
// under the download folder and fills `pu8ExportUrl` (512 bytes) with the
// link text ("download/TS1_NIT.table"), empty when the file could not be
// written. 780 no download folder, 2310 no NIT, 0xC0008 a NIT past 40,000
// bytes, 8 no memory. Takes the model lock.
U32 Web_ExportNIT(U32 u32RealChannel, U8* pu8ExportUrl);
// Unwraps the spooled upload and makes its NIT sections the channel's NIT in
// the temporary copy. The unwrap's code; 7 unreadable; 4 no data byte after
// the head, a CRC mismatch or a first byte other than 0x40; the NIT store's
// code. Takes the model lock.
U32 Web_ImportNIT(U32 u32RealChannel);

// The first two tokens of `org` at any of the characters of `sep`, at most
// n - 1 characters each, into zero-filled `left` and `right` of n bytes.
void splitIntoTwoParts(const char* org, const char* sep, char* left, char* right, U32 n);

// The stream's stored TOT in the temporary copy, parsed (TSP_GetTOTTableInfo).
U32 Web_TSP_GetTOTTableInfo(U16 nChannel, TOTTable_t* pstTOTTable);
// The sections become the stream's TOT in the temporary copy (TSP_EditTOT_LTODescriptor).
U32 Web_TSP_AddTOT_LTODescriptor(U16 u16Channel, const TOTBuf_t* pstTOTBuf);

// The switches of the channel's stream in the live model; a channel without a
// stream reports PAT, PMT, CAT, SDT, TDT, MGT, VCT and STT on. 775 for a
// channel above 31 or no record. Caller holds the model lock.
U32 web_GetPSITransparent(U16 u16OutputChannel, PSITRANS* pstPSITrans);
// Writes the switches into the channel's stream of `model`. 775 for a channel
// above 31, no record or a pass-through stream; 2054 no stream. Caller holds
// the model lock.
U32 web_SetPSITransparent(U16 u16OutputChannel, const PSITRANS* pstPSITrans, Output_TSInfo* model);
// The apply pipeline on the live model; its code is only logged. 0.
U32 Web_MuxProcessForPSITransparent();

}  // namespace hx

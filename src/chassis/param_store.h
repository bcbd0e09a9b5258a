// Parameter store: the QAM parameter file "/vandik_data/HX_QAM.conf" and the
// output-model file "/vandik_data/HX_OutPutTSP.conf", with their CRCs, the
// checks made at start-up, the factory defaults, and PARAMS_Init, which decides
// at start-up what is loaded, defaulted or restored.
//
// g_stCurPE is the image of the QAM file for the whole process: every QAM or
// IP-monitor setter copies into it and rewrites the whole file. The semaphore
// g_stParametersSem makes each of those (copy, CRCs, write) one step, so a save
// never writes a record another setter is changing. Setters run in the
// caller's thread (start-up, the inter-board server, the HTTP and SNMP
// threads). Every file is rewritten as a new file (temporary file, sync,
// rename): a power cut leaves the old file or the new one.
//
// Both files are little-endian. Every CRC is Common_CRCCalculate with the
// initial value 0x04C11DB7.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <semaphore>

#include "core/types.h"
#include "platform/qam_params.h"

namespace hx {

constexpr const char* kQamParamFilePath = "/vandik_data/HX_QAM.conf";
constexpr const char* kModelParamFilePath = "/vandik_data/HX_OutPutTSP.conf";

constexpr U32 kParamsVersion = 0x20170310;
constexpr U32 kParamsStartTag = 0x50415241;  // "PARA"
constexpr U32 kQamSectionTag = 0x51414D54;   // "QAMT"
constexpr U32 kIPMonitorTag = 0x49504D54;    // "IPMT"
constexpr U32 kSectionEndTag = 0x54454E44;   // "TEND"

// The QAM section of the file (file offsets 8 to 6,379).
struct ST_VK_QAM {
    U32 u32StructStartTag;
    TParameter_QAM stQAM160TParams;
    U32 u32StructCRC;  // over the tag and the parameter set
    U32 u32StructEndTag;
};

// The IP monitor section (file offsets 6,380 to 6,435).
struct ST_VK_IPMONITOR {
    U32 u32StructStartTag;
    QAM_IPMonitorPara stIPMonitorParams;
    U32 u32StructCRC;  // over the tag and the record
    U32 u32StructEndTag;
};

// The whole QAM parameter file.
struct ST_VK_PARAMS {
    U32 u32StructStartTag;
    U32 u32StructVersionIndex;
    ST_VK_QAM st_QAMParams;
    ST_VK_IPMONITOR st_IPMonitorParams;
    U32 u32StructCRC;  // over bytes 0 to 6,435, section CRCs in place
    U32 u32StructEndTag;
};

// File offsets; the file is written field by field (QamParams_Serialize), never
// by copying the struct, so these are what the file holds on any build.
constexpr std::size_t kQamParamFileSize = 6444;
constexpr std::size_t kQamSectionOffset = 8;
constexpr std::size_t kQamPairsOffset = 12;
constexpr std::size_t kQamSectionCrcOffset = 6372;
constexpr std::size_t kQamSectionEndOffset = 6376;
constexpr std::size_t kIPMonitorSectionOffset = 6380;
constexpr std::size_t kIPMonitorRecordOffset = 6384;
constexpr std::size_t kIPMonitorCrcOffset = 6428;
constexpr std::size_t kIPMonitorEndOffset = 6432;
constexpr std::size_t kWholeCrcOffset = 6436;
constexpr std::size_t kWholeEndOffset = 6440;
static_assert(sizeof(ST_VK_QAM) == 6372);
static_assert(sizeof(ST_VK_IPMONITOR) == 56);
static_assert(sizeof(ST_VK_PARAMS) == kQamParamFileSize);

using QamParamFileBytes = std::array<U8, kQamParamFileSize>;
// The file image of a record, and the record of a file image.
QamParamFileBytes QamParams_Serialize(const ST_VK_PARAMS& params);
ST_VK_PARAMS QamParams_Parse(const QamParamFileBytes& bytes);

// The image of the QAM file; all zeros until start-up loads or defaults it.
extern ST_VK_PARAMS g_stCurPE;
// Serialises writes of the QAM file and changes of g_stCurPE.
extern std::binary_semaphore g_stParametersSem;

// For the web pages: g_stCurPE, and copies of one section of
// it; 4 for a null pointer.
ST_VK_PARAMS* PARAMS_GetCurParamsHandler();
U32 PARAMS_GetQAMParams(ST_VK_QAM* pstQAMParams);
U32 PARAMS_GetIPMonitorParams(ST_VK_IPMONITOR* pstIPMParams);
// Copy the set into g_stCurPE and save the file, as one step. 0; 1 when the
// file could not be written (logged; g_stCurPE keeps the new values, the old
// file stays), so a full or read-only data partition is never reported as
// saved; 4 for a null pointer.
U32 PARAMS_SetQAMParams(const TParameter_QAM* pstQAMParams);
U32 PARAMS_SetIPMonitorParams(const QAM_IPMonitorPara* pstIPMonitor);
// Saves g_stCurPE; 0 whatever the save did.
U32 PARAMS_SaveCurParam();
U32 PARAMS_InitParametersSem();
void PARAMS_GetParametersSem();
void PARAMS_FreeParametersSem();

// Puts the two section CRCs and then the whole-record CRC into the record and
// writes it as the QAM file. 0; 1 when the file could not be written (the old
// file stays); 4 for a null pointer.
U32 PARAMS_ParametersSave(ST_VK_PARAMS* stModifiedParams);
// Checks the QAM file and deletes what it rejects: 0 usable; 1 missing or
// damaged; 15 another size or version.
U32 PARAMS_VerifyConfigFiles();
// Reads the QAM file whole into g_stCurPE; 1 when it cannot (g_stCurPE then
// keeps what it held).
U32 PARAMS_Load();
// Checks both section CRCs of g_stCurPE and, only when both hold, copies the
// sections into the live QAM set and IP monitor record; 4 when one fails.
U32 PARAMS_Update_QAM();
// Factory QAM set and IP monitor record in the live records and in a rebuilt
// g_stCurPE (tags included), log settings reset and stored, QAM file saved.
U32 PARAMS_Factory();

// The output-model file: the 240-byte header, five pools, CRC. The save takes
// the (recursive) model lock itself, so the apply pipeline calls it under the
// lock and saves from several threads never interleave. 0; 1 when the file
// could not be written (the old file stays).
U32 PARAMS_TSPParametersSave();
// The model file: a 240-byte header (version, length, the five pool counts),
// the stream, program, PID, table and descriptor pools whole in that order,
// and a CRC.
constexpr std::size_t kModelFileHeaderSize = 240;
constexpr std::size_t kModelFileCrcSize = 4;
constexpr std::size_t kModelFilePoolCount = 5;
using ModelFileCounts = std::array<U32, kModelFilePoolCount>;
// The length a model file of these counts has: header, pools and CRC, summed
// in 64 bits so no count can wrap it.
std::uint64_t PARAMS_ModelFileLength(const ModelFileCounts& counts);
// Checks the model file and deletes what it rejects: 0, 1 or 15 as above.
U32 PARAMS_VerifyTSPConfigFiles();
// Loads the model file into the live model under the model lock, then runs the
// apply pipeline and the resource update; 0. A file that cannot be loaded whole
// (short read, counts that do not add up to its length, no memory for its
// pools) leaves the live model untouched, is logged, and the factory model
// takes its place; 1.
U32 PARAMS_TSP_Load();
// Clear orders to the input slots, both models empty with the factory pools,
// the apply pipeline (which saves the file), the resource update, the EIT list.
U32 PARAMS_TSP_Factory();

enum WebFactoryMode : U8 { WEB_SET_FACTORY = 0, WEB_CLEAR_TS = 1 };
// The web's factory reset ("Default.w", "ClearAllParam.w"): the model
// always, and for WEB_SET_FACTORY the QAM settings too; 1 (nothing reset) when
// there is no model file.
U32 PARAMS_WEB_Factory(U8 u8Mode);

// Start-up: QAM file, model file, OID snapshot, user rights. Returns 0.
U32 PARAMS_Init();

// Test only: replaces unlink() for the deletions of the start-up checks (null
// restores it), so a test run as root can make a deletion fail.
using ParamsRemoveHook = int (*)(const char* path);
void PARAMS_SetRemoveHook(ParamsRemoveHook hook);

}  // namespace hx

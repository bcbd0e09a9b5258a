#include "chassis/param_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "chassis/ipcomm_messages.h"
#include "chassis/oid_snapshot.h"
#include "chassis/qam_json.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/model_pools.h"
#include "engine/mux_process.h"
#include "engine/output_model.h"
#include "engine/slot_bookkeeping.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"
#include "web/user_authority.h"

namespace hx {

ST_VK_PARAMS g_stCurPE{};
std::binary_semaphore g_stParametersSem{1};

namespace {

using QamPairs = std::array<Parameter_Common, kQamPairs>;
static_assert(sizeof(QamPairs) == sizeof(TParameter_QAM));

std::atomic<ParamsRemoveHook> g_removeHook{nullptr};

// Holds g_stParametersSem for one scope.
class ParametersSemGuard {
public:
    ParametersSemGuard() { g_stParametersSem.acquire(); }
    ~ParametersSemGuard() { g_stParametersSem.release(); }
    ParametersSemGuard(const ParametersSemGuard&) = delete;
    ParametersSemGuard& operator=(const ParametersSemGuard&) = delete;
};

// ---- QAM file image ---------------------------------------------------------

void PutIPMonitor(U8* out, const QAM_IPMonitorPara& record) {
    out[0] = record.u8Enable;
    out[1] = record.u8Channel;
    PutLe16(out + 2, record.u16DestPort);
    PutLe32(out + 4, record.u32DestIPAddr);
    PutLe16(out + 8, record.u16IP1MaxRate);
    out[10] = record.u8Mac1LicFlag;
    out[11] = record.u8Padding;
    PutLe16(out + 12, record.u16PSIInterval);
    std::memcpy(out + 14, record.aru8Mac1, sizeof record.aru8Mac1);
    PutLe32(out + 20, record.u32IP1);
    std::memcpy(out + 24, record.u8Res, sizeof record.u8Res);
    std::memcpy(out + 41, record.u8Tail, sizeof record.u8Tail);
}

QAM_IPMonitorPara GetIPMonitor(const U8* in) {
    QAM_IPMonitorPara record{};
    record.u8Enable = in[0];
    record.u8Channel = in[1];
    record.u16DestPort = GetLe16(in + 2);
    record.u32DestIPAddr = GetLe32(in + 4);
    record.u16IP1MaxRate = GetLe16(in + 8);
    record.u8Mac1LicFlag = in[10];
    record.u8Padding = in[11];
    record.u16PSIInterval = GetLe16(in + 12);
    std::memcpy(record.aru8Mac1, in + 14, sizeof record.aru8Mac1);
    record.u32IP1 = GetLe32(in + 20);
    std::memcpy(record.u8Res, in + 24, sizeof record.u8Res);
    std::memcpy(record.u8Tail, in + 41, sizeof record.u8Tail);
    return record;
}

constexpr std::size_t kQamSectionCrcLength = kQamSectionCrcOffset - kQamSectionOffset;          // 6,364
constexpr std::size_t kIPMonitorCrcLength = kIPMonitorCrcOffset - kIPMonitorSectionOffset;     // 48

U32 SectionCrc(const QamParamFileBytes& bytes, std::size_t offset, std::size_t length) {
    return Common_CRCCalculate(bytes.data() + offset, static_cast<U32>(length), kCrcInitLinks);
}

// Section CRCs first, then the whole-record CRC over a record that holds them.
void StampCrcs(ST_VK_PARAMS& params) {
    QamParamFileBytes bytes = QamParams_Serialize(params);
    params.st_QAMParams.u32StructCRC = SectionCrc(bytes, kQamSectionOffset, kQamSectionCrcLength);
    params.st_IPMonitorParams.u32StructCRC = SectionCrc(bytes, kIPMonitorSectionOffset, kIPMonitorCrcLength);
    bytes = QamParams_Serialize(params);
    params.u32StructCRC = SectionCrc(bytes, 0, kWholeCrcOffset);
}

const char* ErrorText(int number) { return std::strerror(number); }

// Writes the record as the QAM file; the caller holds g_stParametersSem.
U32 SaveLocked(ST_VK_PARAMS& params) {
    StampCrcs(params);
    const QamParamFileBytes bytes = QamParams_Serialize(params);
    const std::string path = ResolvePath(kQamParamFilePath);
    File_RemoveStaleTemporaries(path);
    if (!File_WriteAtomic(path, bytes)) {
        const int number = errno;
        HX_LOG_AS("PARAMS_ParametersSave", LOG_LEVEL_ERROR, LOG_MODULE_PARAMS,
                  "Open config files error: %s(errno: %d)\n", ErrorText(number), number);
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

// ---- start-up checks shared by both files -----------------------------------

struct FileCheck {
    const char* logicalPath;
    std::size_t crcTrailer;  // bytes at the end outside the CRC; the CRC word starts there
    std::size_t versionOffset;
    // The size the file should have, from its own content or fixed.
    U32 (*expectedSize)(const std::vector<U8>& content);
};

int RemoveFile(const char* path) {
    if (const ParamsRemoveHook hook = g_removeHook.load(std::memory_order_acquire)) {
        return hook(path);
    }
    return unlink(path);
}

void Delete(const char* caller, const FileCheck& check, const std::string& path) {
    if (RemoveFile(path.c_str()) != 0) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Delete file [%s] failed!\n", check.logicalPath);
    }
}

// The whole file, or nullopt when it cannot be read whole (a short read, a
// failed read, no memory for it).
std::optional<std::vector<U8>> ReadWhole(int fd, std::size_t size) {
    std::vector<U8> content;
    try {
        content.resize(size);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, content.data() + done, size - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        done += static_cast<std::size_t>(got);
    }
    return content;
}

constexpr std::size_t kSmallestFile = 11;

U32 VerifyFile(const char* caller, const FileCheck& check) {
    const std::string path = ResolvePath(check.logicalPath);
    if (access(path.c_str(), F_OK) != 0) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file [%s] is not exist!\n", check.logicalPath);
        return VK_ERR_FAILURE;
    }
    std::optional<std::vector<U8>> content;
    long size = 0;
    {
        FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (file.get() < 0 || fstat(file.get(), &info) != 0) {
            HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Can't open config file [%s]!\n", check.logicalPath);
            Delete(caller, check, path);
            return VK_ERR_FAILURE;
        }
        size = static_cast<long>(info.st_size);
        if (size <= static_cast<long>(kSmallestFile)) {
            HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "config file len %d too less[%s]!\n",
                      static_cast<int>(size), check.logicalPath);
            Delete(caller, check, path);
            return VK_ERR_FAILURE;
        }
        content = ReadWhole(file.get(), static_cast<std::size_t>(size));
    }
    if (!content) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Read config file [%s] failure, size %ld!\n",
                  check.logicalPath, size);
        Delete(caller, check, path);
        return VK_ERR_FAILURE;
    }
    const std::vector<U8>& bytes = *content;
    const std::size_t crcOffset = bytes.size() - check.crcTrailer;
    const U32 computed = Common_CRCCalculate(bytes.data(), static_cast<U32>(crcOffset), kCrcInitLinks);
    const U32 stored = GetLe32(bytes.data() + crcOffset);
    if (computed != stored) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file [%s] CRC fail [0x%x] vs [0x%x]!\n",
                  check.logicalPath, computed, stored);
        Delete(caller, check, path);
        return VK_ERR_FAILURE;
    }
    const U32 expected = check.expectedSize(bytes);
    if (bytes.size() != expected) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file size [%d] vs [%d]!\n",
                  static_cast<int>(bytes.size()), static_cast<int>(expected));
        Delete(caller, check, path);
        return VK_ERR_PARAMS_MIGRATION;
    }
    const U32 version = GetLe32(bytes.data() + check.versionOffset);
    if (version != kParamsVersion) {
        HX_LOG_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Config file version [%d] vs [%d]!\n",
                  static_cast<int>(kParamsVersion), static_cast<int>(version));
        Delete(caller, check, path);
        return VK_ERR_PARAMS_MIGRATION;
    }
    return VK_SUCCESS;
}

const FileCheck kQamFileCheck{kQamParamFilePath, 8, 4,
                              [](const std::vector<U8>&) { return static_cast<U32>(kQamParamFileSize); }};
// The model file states its own length (offset 4), CRC included.
const FileCheck kModelFileCheck{kModelParamFilePath, 4, 0,
                                [](const std::vector<U8>& content) { return GetLe32(content.data() + 4); }};

void TakeFactoryQamSettings(const char* caller) {
    HX_LOG_AS(caller, LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Factory parameters!\n");
    PARAMS_Factory();
    DATA_Recovery();
}

}  // namespace

QamParamFileBytes QamParams_Serialize(const ST_VK_PARAMS& params) {
    QamParamFileBytes bytes{};
    U8* out = bytes.data();
    PutLe32(out + 0, params.u32StructStartTag);
    PutLe32(out + 4, params.u32StructVersionIndex);
    PutLe32(out + kQamSectionOffset, params.st_QAMParams.u32StructStartTag);
    const QamPairs pairs = std::bit_cast<QamPairs>(params.st_QAMParams.stQAM160TParams);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        PutLe32(out + kQamPairsOffset + 8 * i, pairs[i].address);
        PutLe32(out + kQamPairsOffset + 8 * i + 4, pairs[i].value);
    }
    PutLe32(out + kQamSectionCrcOffset, params.st_QAMParams.u32StructCRC);
    PutLe32(out + kQamSectionEndOffset, params.st_QAMParams.u32StructEndTag);
    PutLe32(out + kIPMonitorSectionOffset, params.st_IPMonitorParams.u32StructStartTag);
    PutIPMonitor(out + kIPMonitorRecordOffset, params.st_IPMonitorParams.stIPMonitorParams);
    PutLe32(out + kIPMonitorCrcOffset, params.st_IPMonitorParams.u32StructCRC);
    PutLe32(out + kIPMonitorEndOffset, params.st_IPMonitorParams.u32StructEndTag);
    PutLe32(out + kWholeCrcOffset, params.u32StructCRC);
    PutLe32(out + kWholeEndOffset, params.u32StructEndTag);
    return bytes;
}

ST_VK_PARAMS QamParams_Parse(const QamParamFileBytes& bytes) {
    const U8* in = bytes.data();
    ST_VK_PARAMS params{};
    params.u32StructStartTag = GetLe32(in + 0);
    params.u32StructVersionIndex = GetLe32(in + 4);
    params.st_QAMParams.u32StructStartTag = GetLe32(in + kQamSectionOffset);
    QamPairs pairs{};
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        pairs[i].address = GetLe32(in + kQamPairsOffset + 8 * i);
        pairs[i].value = GetLe32(in + kQamPairsOffset + 8 * i + 4);
    }
    params.st_QAMParams.stQAM160TParams = std::bit_cast<TParameter_QAM>(pairs);
    params.st_QAMParams.u32StructCRC = GetLe32(in + kQamSectionCrcOffset);
    params.st_QAMParams.u32StructEndTag = GetLe32(in + kQamSectionEndOffset);
    params.st_IPMonitorParams.u32StructStartTag = GetLe32(in + kIPMonitorSectionOffset);
    params.st_IPMonitorParams.stIPMonitorParams = GetIPMonitor(in + kIPMonitorRecordOffset);
    params.st_IPMonitorParams.u32StructCRC = GetLe32(in + kIPMonitorCrcOffset);
    params.st_IPMonitorParams.u32StructEndTag = GetLe32(in + kIPMonitorEndOffset);
    params.u32StructCRC = GetLe32(in + kWholeCrcOffset);
    params.u32StructEndTag = GetLe32(in + kWholeEndOffset);
    return params;
}

ST_VK_PARAMS* PARAMS_GetCurParamsHandler() { return &g_stCurPE; }

U32 PARAMS_GetQAMParams(ST_VK_QAM* pstQAMParams) {
    if (pstQAMParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Input Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    ParametersSemGuard guard;
    *pstQAMParams = g_stCurPE.st_QAMParams;
    return VK_SUCCESS;
}

U32 PARAMS_GetIPMonitorParams(ST_VK_IPMONITOR* pstIPMParams) {
    if (pstIPMParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Input Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    ParametersSemGuard guard;
    *pstIPMParams = g_stCurPE.st_IPMonitorParams;
    return VK_SUCCESS;
}

U32 PARAMS_SetQAMParams(const TParameter_QAM* pstQAMParams) {
    if (pstQAMParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Input Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    ParametersSemGuard guard;
    g_stCurPE.st_QAMParams.stQAM160TParams = *pstQAMParams;
    return SaveLocked(g_stCurPE);
}

U32 PARAMS_SetIPMonitorParams(const QAM_IPMonitorPara* pstIPMonitor) {
    if (pstIPMonitor == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Input Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    ParametersSemGuard guard;
    g_stCurPE.st_IPMonitorParams.stIPMonitorParams = *pstIPMonitor;
    return SaveLocked(g_stCurPE);
}

U32 PARAMS_SaveCurParam() {
    ParametersSemGuard guard;
    SaveLocked(g_stCurPE);
    return VK_SUCCESS;
}

// The semaphore is initialised statically (to 1), so setters called before
// start-up reaches the parameter store find it ready; nothing can fail here.
U32 PARAMS_InitParametersSem() { return VK_SUCCESS; }

void PARAMS_GetParametersSem() { g_stParametersSem.acquire(); }

void PARAMS_FreeParametersSem() { g_stParametersSem.release(); }

U32 PARAMS_ParametersSave(ST_VK_PARAMS* stModifiedParams) {
    if (stModifiedParams == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Input Param is NULL\n");
        return VK_ERR_PARAMS;
    }
    ParametersSemGuard guard;
    return SaveLocked(*stModifiedParams);
}

U32 PARAMS_VerifyConfigFiles() { return VerifyFile(__func__, kQamFileCheck); }

U32 PARAMS_Load() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Load config files !\n");
    FileDescriptor file(open(ResolvePath(kQamParamFilePath).c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Open config files failure!\n");
        return VK_ERR_FAILURE;
    }
    const std::optional<std::vector<U8>> content = ReadWhole(file.get(), kQamParamFileSize);
    if (!content) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Read config files failure!\n");
        return VK_ERR_FAILURE;
    }
    QamParamFileBytes bytes;
    std::memcpy(bytes.data(), content->data(), bytes.size());
    ParametersSemGuard guard;
    g_stCurPE = QamParams_Parse(bytes);
    return VK_SUCCESS;
}

U32 PARAMS_Update_QAM() {
    ST_VK_PARAMS current;
    {
        ParametersSemGuard guard;
        current = g_stCurPE;
    }
    const QamParamFileBytes bytes = QamParams_Serialize(current);
    if (SectionCrc(bytes, kQamSectionOffset, kQamSectionCrcLength) != current.st_QAMParams.u32StructCRC) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "QAM CRC Check Error\n");
        return VK_ERR_PARAMS;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "QAM CRC Check Sucess\n");
    if (SectionCrc(bytes, kIPMonitorSectionOffset, kIPMonitorCrcLength) != current.st_IPMonitorParams.u32StructCRC) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "IP Monitor CRC Check Error\n");
        return VK_ERR_PARAMS;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "IP Monitor CRC Check Sucess\n");
    *GetQAMPara_Handle() = current.st_QAMParams.stQAM160TParams;
    *GetQAMIPMonitor_Handle() = current.st_IPMonitorParams.stIPMonitorParams;
    return VK_SUCCESS;
}

U32 PARAMS_Factory() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "[%s]%d: Parameters factory!\r\n", __func__, __LINE__);
    QAM160T_Init_Parmeter(GetQAMPara_Handle());
    Init_IPMonitor_Parmeter(GetQAMIPMonitor_Handle());
    LogSetting_ParamInit();
    LogSetting_StoreParam();
    ParametersSemGuard guard;
    g_stCurPE = ST_VK_PARAMS{};
    // Only a factory rebuild writes the tags; later saves keep them as they are.
    g_stCurPE.u32StructStartTag = kParamsStartTag;
    g_stCurPE.u32StructVersionIndex = kParamsVersion;
    g_stCurPE.st_QAMParams.u32StructStartTag = kQamSectionTag;
    g_stCurPE.st_QAMParams.u32StructEndTag = kSectionEndTag;
    g_stCurPE.st_IPMonitorParams.u32StructStartTag = kIPMonitorTag;
    g_stCurPE.st_IPMonitorParams.u32StructEndTag = kSectionEndTag;
    g_stCurPE.u32StructEndTag = kSectionEndTag;
    g_stCurPE.st_QAMParams.stQAM160TParams = *GetQAMPara_Handle();
    g_stCurPE.st_IPMonitorParams.stIPMonitorParams = *GetQAMIPMonitor_Handle();
    SaveLocked(g_stCurPE);
    return VK_SUCCESS;
}

namespace {

// ---- output-model file --------------------------------------------------------

// The pools the file stores, in file order, with the names the load logs use.
struct ModelFilePool {
    ModelPool pool;
    const char* readName;
};
constexpr ModelFilePool kModelFilePools[kModelFilePoolCount] = {
    {ModelPool::Stream, "Out_TS"},       {ModelPool::Program, "Out_Program"}, {ModelPool::Pid, "Out_PID"},
    {ModelPool::Table, "Out_Table"},     {ModelPool::Descriptor, "Out_Descriptor"},
};


// Reads the model file into the live model. Everything is read and checked
// before the live model is touched, and the new pools are allocated before
// the old ones go, so a failure leaves the live model as it was. The caller
// holds the model lock.
U32 LoadModelFileLocked() {
    FileDescriptor file(open(ResolvePath(kModelParamFilePath).c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Open config files failure!\n");
        return VK_ERR_FAILURE;
    }
    std::array<U8, kModelFileHeaderSize> header{};
    if (File_ReadUpTo(file.get(), header.data(), header.size()) != header.size()) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Read Structure TSIndex failure!\n");
        return VK_ERR_FAILURE;
    }
    const U32 totalLength = GetLe32(header.data() + 4);
    ModelFileCounts counts{};
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        counts[i] = GetLe32(header.data() + 8 + 4 * i);
    }
    std::printf("u32TSNumber[%u]\n", counts[0]);
    std::printf("u32ProgramNumber[%u]\n", counts[1]);
    std::printf("u32PIDNumber[%u]\n", counts[2]);
    std::printf("u32TableNumber[%u]\n", counts[3]);
    std::printf("u32DescriptorNumber[%u]\n", counts[4]);
    const std::uint64_t length = PARAMS_ModelFileLength(counts);
    if (length != totalLength) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "TSIndex counts give [%llu] bytes vs [%u]!\n",
               static_cast<unsigned long long>(length), totalLength);
        return VK_ERR_FAILURE;
    }
    for (const U32 count : counts) {
        if (count > kPoolCapacityLimit) {
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "TSIndex count [%u] too large!\n", count);
            return VK_ERR_FAILURE;
        }
    }

    std::vector<U8> body;
    try {
        body.resize(static_cast<std::size_t>(length) - kModelFileHeaderSize - kModelFileCrcSize);
    } catch (const std::bad_alloc&) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "malloc memory error\n");
        return VK_ERR_FAILURE;
    }
    const std::size_t got = File_ReadUpTo(file.get(), body.data(), body.size());
    if (got != body.size()) {
        // Name the pool the read stopped in and how many of its records arrived.
        std::size_t offset = 0;
        for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
            const std::size_t recordSize = ModelPool_RecordSize(kModelFilePools[i].pool);
            const std::size_t poolBytes = counts[i] * recordSize;
            if (got < offset + poolBytes) {
                HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Read Structure %s failure ret[%u]!\n",
                       kModelFilePools[i].readName, static_cast<U32>((got - offset) / recordSize));
                break;
            }
            offset += poolBytes;
        }
        return VK_ERR_FAILURE;
    }

    Output_TSInfo* model = TSP_GetTSParam();
    // The pass-through pool is not in the file; it keeps its size.
    const TSInfoInitNum sizes{counts[0], counts[1], counts[2], counts[3], counts[4], model->u32OutputBypassTSNumber};
    if (const U32 rc = TSP_InitTSInfo(model, &sizes); rc != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "malloc memory error\n");
        return VK_ERR_FAILURE;
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        const std::size_t poolBytes = counts[i] * ModelPool_RecordSize(kModelFilePools[i].pool);
        if (poolBytes != 0) {
            std::memcpy(ModelPool_Record(model, kModelFilePools[i].pool, 0), body.data() + offset, poolBytes);
        }
        offset += poolBytes;
    }
    ModelPool_RecordsChanged(model);
    return VK_SUCCESS;
}

}  // namespace

std::uint64_t PARAMS_ModelFileLength(const ModelFileCounts& counts) {
    std::uint64_t length = kModelFileHeaderSize + kModelFileCrcSize;
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        length += static_cast<std::uint64_t>(counts[i]) * ModelPool_RecordSize(kModelFilePools[i].pool);
    }
    return length;
}

U32 PARAMS_TSPParametersSave() {
    // Recursive: the apply pipeline calls this with the lock held.
    TSP_ModelLock lock;
    const Output_TSInfo* model = TSP_GetTSParam();
    ModelFileCounts counts{};
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        counts[i] = ModelPool_Count(model, kModelFilePools[i].pool);
    }
    const std::uint64_t length = PARAMS_ModelFileLength(counts);
    if (length > UINT32_MAX) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "malloc memory error\n");
        return VK_ERR_FAILURE;
    }
    std::array<U8, kModelFileHeaderSize> header{};
    PutLe32(header.data(), kParamsVersion);
    PutLe32(header.data() + 4, static_cast<U32>(length));
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        PutLe32(header.data() + 8 + 4 * i, counts[i]);
    }
    // The pools go to the file from where they are, records whole as they are
    // in memory (little-endian), and the CRC runs over them there.
    std::array<std::span<const U8>, 2 + kModelFilePoolCount> pieces;
    pieces[0] = header;
    U32 crc = Common_CRC_Calculate(header.data(), static_cast<U32>(header.size()), kCrcInitLinks);
    for (std::size_t i = 0; i < kModelFilePoolCount; ++i) {
        const std::size_t poolBytes = counts[i] * ModelPool_RecordSize(kModelFilePools[i].pool);
        if (poolBytes != 0) {
            pieces[1 + i] = {ModelPool_Record(model, kModelFilePools[i].pool, 0), poolBytes};
            crc = Common_CRC_Continue(crc, pieces[1 + i]);
        }
    }
    std::array<U8, kModelFileCrcSize> crcBytes{};
    PutLe32(crcBytes.data(), crc);
    pieces.back() = crcBytes;

    const std::string path = ResolvePath(kModelParamFilePath);
    File_RemoveStaleTemporaries(path);
    if (!File_WriteAtomicGathered(path, pieces)) {
        const int number = errno;
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Open TSP config files error: %s(errno: %d)\n", ErrorText(number),
               number);
        return VK_ERR_FAILURE;
    }
    return VK_SUCCESS;
}

U32 PARAMS_VerifyTSPConfigFiles() { return VerifyFile(__func__, kModelFileCheck); }

U32 PARAMS_TSP_Load() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Load TSP config files !\n");
    U32 loaded = VK_ERR_FAILURE;
    {
        TSP_ModelLock lock;
        loaded = LoadModelFileLocked();
    }
    if (loaded != VK_SUCCESS) {
        // A file that cannot be loaded whole must not leave the model without
        // pools: the factory model takes its place, and is saved over it.
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Load TSP config files failure, factory model instead!\n");
        PARAMS_TSP_Factory();
        return VK_ERR_FAILURE;
    }
    TSP_MuxProcess();
    TSP_UpdateResourceInfo();
    return VK_SUCCESS;
}

U32 PARAMS_TSP_Factory() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "[%s]%d: Parameters factory!\r\n", __func__, __LINE__);
    TSP_SendClearCmd();
    U32 result = VK_SUCCESS;
    {
        TSP_ModelLock lock;
        result = TSP_FactoryOutputTSInfo();
    }
    if (result != VK_SUCCESS) {
        return result;
    }
    TSP_MuxProcess();
    TSP_UpdateResourceInfo();
    IPComm_SendEITInfo();
    return VK_SUCCESS;
}

U32 PARAMS_WEB_Factory(U8 u8Mode) {
    // Only whether the file is there is asked: the factory model replaces it
    // as a new file, so emptying it first would only widen the window in
    // which a power cut loses it.
    {
        FileDescriptor file(open(ResolvePath(kModelParamFilePath).c_str(), O_RDWR | O_CLOEXEC));
        if (file.get() < 0) {
            const int number = errno;
            HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "Open TSP config files error: %s(errno: %d)\n",
                   ErrorText(number), number);
            return VK_ERR_FAILURE;
        }
    }
    if (const U32 result = PARAMS_TSP_Factory(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "PARAMS_TSP_Factory return error\n");
        return result;
    }
    if (u8Mode != WEB_SET_FACTORY) {
        return VK_SUCCESS;
    }
    if (const U32 result = PARAMS_Factory(); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_PARAMS, "PARAMS_Factory error\n");
        return result;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "PARAMS_Factory success\n");
    DATA_Save();
    return VK_SUCCESS;
}

U32 PARAMS_Init() {
    PARAMS_InitParametersSem();

    switch (PARAMS_VerifyConfigFiles()) {
        case VK_SUCCESS:
            // A file whose whole CRC holds but which cannot be read whole or
            // whose section CRC fails is as damaged as one the checks reject:
            // its zeroed or stale tables must reach neither the JSON copy nor
            // the 160T.
            if (PARAMS_Load() == VK_SUCCESS && PARAMS_Update_QAM() == VK_SUCCESS) {
                DATA_Save();
            } else {
                TakeFactoryQamSettings(__func__);
            }
            break;
        case VK_ERR_PARAMS_MIGRATION:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Migration parameters!\n");
            PARAMS_Factory();
            DATA_Recovery();
            break;
        default:
            TakeFactoryQamSettings(__func__);
            break;
    }

    switch (PARAMS_VerifyTSPConfigFiles()) {
        case VK_SUCCESS:
            PARAMS_TSP_Load();
            break;
        case VK_ERR_PARAMS_MIGRATION:
            PARAMS_TSP_Factory();
            break;
        default:
            HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_PARAMS, "Factory parameters!\n");
            PARAMS_TSP_Factory();
            break;
    }

    if (OIDDATA_Recovery() == VK_SUCCESS) {
        PARAMS_TSPParametersSave();
        PARAMS_SaveCurParam();
        TSP_MuxProcess();
        TSP_UpdateResourceInfo();
    }

    VKUser_InitUserAuthority();
    return VK_SUCCESS;
}

void PARAMS_SetRemoveHook(ParamsRemoveHook hook) { g_removeHook.store(hook, std::memory_order_release); }

}  // namespace hx

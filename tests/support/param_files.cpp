#include "support/param_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/run_profile.h"
#include "engine/model_lock.h"
#include "engine/output_model.h"
#include "platform/ip_monitor.h"
#include "platform/qam_defaults.h"

namespace hx::test {

void ResetParameterState() {
    PARAMS_GetParametersSem();
    g_stCurPE = ST_VK_PARAMS{};
    PARAMS_FreeParametersSem();
    std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
    std::memset(GetQAMIPMonitor_Handle(), 0, sizeof(QAM_IPMonitorPara));
}

void ApplyMarks(TParameter_QAM& qam, QAM_IPMonitorPara& monitor, MarkedSettings marks) {
    qam.Frequency[0].value = marks.frequency0;
    monitor.u16DestPort = marks.destPort;
}

int LiveMarks(const std::vector<MarkedSettings>& candidates) {
    const U32 frequency = GetQAMPara_Handle()->Frequency[0].value;
    const U16 port = GetQAMIPMonitor_Handle()->u16DestPort;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const bool qamMatches = candidates[i].frequency0 == frequency;
        const bool monitorMatches = candidates[i].destPort == port;
        if (qamMatches && monitorMatches) {
            return static_cast<int>(i);
        }
        if (qamMatches || monitorMatches) {
            return -2;
        }
    }
    return -1;
}

void WriteMarkedQamFile(MarkedSettings marks) {
    TParameter_QAM qam{};
    QAM_IPMonitorPara monitor{};
    QAM160T_Init_Parmeter(&qam);
    Init_IPMonitor_Parmeter(&monitor);
    ApplyMarks(qam, monitor, marks);
    ST_VK_PARAMS params{};
    params.u32StructStartTag = kParamsStartTag;
    params.u32StructVersionIndex = kParamsVersion;
    params.st_QAMParams.u32StructStartTag = kQamSectionTag;
    params.st_QAMParams.u32StructEndTag = kSectionEndTag;
    params.st_QAMParams.stQAM160TParams = qam;
    params.st_IPMonitorParams.u32StructStartTag = kIPMonitorTag;
    params.st_IPMonitorParams.u32StructEndTag = kSectionEndTag;
    params.st_IPMonitorParams.stIPMonitorParams = monitor;
    params.u32StructEndTag = kSectionEndTag;
    PARAMS_ParametersSave(&params);
}

std::vector<U8*> StoredRecordTails(Output_TSInfo* model) {
    std::vector<U8*> tails;
    for (const ModelPool pool : kModelFilePools) {
        const std::size_t size = ModelPool_RecordSize(pool);
        for (U32 i = 0; i < ModelPool_Count(model, pool); ++i) {
            tails.push_back(ModelPool_Record(model, pool, i) + size - kRecordTailBytes);
        }
    }
    return tails;
}

void MakeStampedLiveModel(const TSInfoInitNum& sizes, U8 stamp) {
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    ASSERT_EQ(0u, TSP_InitTSInfo(model, &sizes));
    for (U8* tail : StoredRecordTails(model)) {
        std::memset(tail, stamp, kRecordTailBytes);
    }
    ModelPool_RecordsChanged(model);
}

int LiveModelStamp() {
    TSP_ModelLock lock;
    int stamp = -1;
    for (const U8* tail : StoredRecordTails(TSP_GetTSParam())) {
        for (std::size_t i = 0; i < kRecordTailBytes; ++i) {
            if (stamp == -1) {
                stamp = tail[i];
            } else if (tail[i] != stamp) {
                return -2;
            }
        }
    }
    return stamp;
}

std::vector<U8> ReadBytes(const std::string& logical) {
    std::ifstream in(ResolvePath(logical), std::ios::binary);
    return std::vector<U8>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& logical, const std::vector<U8>& bytes) {
    std::ofstream out(ResolvePath(logical), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& logical) { return std::filesystem::exists(ResolvePath(logical)); }

}  // namespace hx::test

// A simulated board with empty output models and an empty carousel, for the
// SI tests: streams are added to the live model (or the temporary one), SI
// records go through the register window into the simulated main FPGA, and
// what it committed is read back as 196-byte records or as the packet file
// of a channel.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/timer.h"
#include "engine/output_model.h"
#include "platform/fpga_reg.h"
#include "platform/qam_params.h"
#include "platform/resource.h"
#include "si/si_packet.h"
#include "support/model_builder.h"
#include "support/psi_sections.h"
#include "support/sim_board.h"
#include "support/test_env.h"

namespace hx::test {

using SiRecord = std::array<U8, 196>;

class SiBoardTest : public ::testing::Test {
protected:
    SiBoardTest() {
        SSD_ResetForTest();
        Resource_Reset();
        std::memset(GetQAMPara_Handle(), 0, sizeof(TParameter_QAM));
        std::memset(GetQAMIPMonitor_Handle(), 0, sizeof(QAM_IPMonitorPara));
        GetQAMIPMonitor_Handle()->u16PSIInterval = 100;
        g_u32TimerCnt = 0;
        board.fpga().StartWriteLog();
    }
    ~SiBoardTest() override { SSD_ResetForTest(); }

    // A stream of the live model (and, with `temporary`, the same in the
    // temporary one) on an output channel.
    U16 AddStream(U16 channel, bool temporary = false) {
        TSP_ModelLock lock;
        const U16 live = ModelBuilder(TSP_GetTSParam()).AddStream(channel);
        if (temporary) {
            EXPECT_EQ(live, ModelBuilder(TSP_GetTempTSParam()).AddStream(channel));
        }
        return live;
    }

    Output_TSStream& LiveStream(U16 index) {
        TSP_ModelLock lock;
        return TSP_GetTSParam()->pOutputTS[index];
    }

    void SetAtsc(bool atsc) { GetQAMPara_Handle()->Standard.value = atsc ? 1 : 0; }

    void Tick() {
        std::lock_guard lock(SIMutex);
        SSD_SendBroadcastSI();
    }

    // Records committed to the insertion buffer since the last call.
    std::vector<SiRecord> Sent() {
        std::vector<SiRecord> records;
        std::array<U32, 49> words{};
        U32 index = 0;
        U32 data = 0;
        for (const auto& write : board.fpga().TakeWriteLog()) {
            if (write.index == kRegSiWordIndex) {
                index = write.value;
            } else if (write.index == kRegSiWordData) {
                data = write.value;
            } else if (write.index == kRegSiWordStrobe && write.value == 1 && index < 49) {
                words[index] = data;
            } else if (write.index == kRegSiCommit && write.value == 1) {
                SiRecord record{};
                Common_ChangeBit32To8(words.data(), record.data(), 196);
                records.push_back(record);
            }
        }
        return records;
    }

    // The packet file of a channel as it stands.
    std::vector<U8> Output(U16 channel) {
        char name[32];
        std::snprintf(name, sizeof name, "/sim/ts/out-%02u.ts", channel);
        const std::string text = env.ReadText(name);
        return {text.begin(), text.end()};
    }

    TestEnvironment env;
    SimBoard board;
    ScopedSharedModels models;
};

inline U16 RecordPid(const SiRecord& record) { return static_cast<U16>(((record[9] & 0x1F) << 8) | record[10]); }
inline U8 RecordCc(const SiRecord& record) { return static_cast<U8>(record[11] & 0x0F); }

}  // namespace hx::test

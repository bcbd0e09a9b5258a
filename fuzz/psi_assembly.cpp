// Fuzzes the table assembly over descriptor loops and names that came from
// an input card: the program-info, ES-info and SDT-info loops (their stored
// lengths may lie, up to a descriptor record's 1,024 bytes) and the service
// name and provider lengths. Layout: lengths of the three loops (LE16 each),
// name and provider lengths, then the bytes the loops and names are filled
// with, cyclically. Every PMT, SDT and VCT the assembly gives must build into
// sections whose lengths add up and whose CRC checks, or be refused.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/common_fun.h"
#include "core/log.h"
#include "engine/output_model.h"
#include "si/psi_assembly.h"
#include "si/psi_tables.h"
#include "support/model_builder.h"

namespace {

hx::U16 s_ts = 0;
hx::U16 s_program = 0;
hx::U16 s_es = 0;

void CheckSections(const std::vector<hx::U8>& buffer, hx::U32 length) {
    for (hx::U32 at = 0; at < length;) {
        if (at + 3 > length) {
            std::abort();
        }
        const hx::U16 bytes = hx::SIP_SectionBytes(&buffer[at]);
        if (bytes > hx::kSectionMaxBytes || at + bytes > length ||
            hx::Common_CRC_Calculate(&buffer[at], bytes, hx::kCrcInitMpeg2) != 0) {
            std::abort();
        }
        at += bytes;
    }
}

template <typename Table>
void Build(hx::U32 (*builder)(const Table*, hx::U8*, hx::U32, hx::U32*), const Table& table) {
    std::vector<hx::U8> buffer(hx::kSiConstructBytes);
    hx::U32 length = 0;
    if (builder(&table, buffer.data(), hx::kSiConstructBytes, &length) == 0) {
        CheckSections(buffer, length);
    } else if (length != 0) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    hx::Log_SetConsoleSink([](std::string_view) {});
    hx::TSP_ModelLock lock;
    if (hx::TSP_FactoryOutputTSInfo() != 0) {
        std::abort();
    }
    hx::test::ModelBuilder builder(hx::TSP_GetTSParam());
    s_ts = builder.AddStream(1);
    s_program = builder.AddProgram(s_ts, hx::test::ProgramSpec{});
    s_es = builder.AddPid(hx::PID_TYPE_ESPID, s_program, hx::test::PidSpec{.key = 1, .pid = 0x101});
    const hx::U16 ecm = builder.AddPid(hx::PID_TYPE_PS_ECMPID, s_program, hx::test::PidSpec{.key = 2, .pid = 0x150});
    hx::TSP_GetTSParam()->pOutputPID[ecm].u16CASID = 0x0B00;
    const std::vector<hx::U8> loop(hx::kDescriptorLoopSize, 0);
    builder.AddProgramDescriptor(s_program, loop);
    builder.AddEsDescriptor(s_es, loop);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) {
        return 0;
    }
    hx::TSP_ModelLock lock;
    hx::Output_TSInfo* model = hx::TSP_GetTSParam();
    hx::Output_TSProgram& program = model->pOutputProgram[s_program];
    hx::Output_TSPID& es = model->pOutputPID[s_es];
    const std::uint8_t* fill = data + 8;
    const std::size_t fillSize = size - 8;
    std::size_t cursor = 0;
    auto next = [&] { return fill[cursor++ % fillSize]; };
    auto fillBytes = [&](hx::U8* out, std::size_t count) { std::generate_n(out, count, next); };

    program.u16ProgramInfoLength = static_cast<hx::U16>(data[0] | data[1] << 8);
    es.u16ESInfoLength = static_cast<hx::U16>(data[2] | data[3] << 8);
    program.u16SDTInfoLength = static_cast<hx::U16>(data[4] | data[5] << 8);
    program.u8ServiceNameLen = data[6];
    program.u8ServiceProviderLen = data[7];
    program.u16SDTInfoDescriptorIndex = program.u16ProgramInfoDescriptorIndex;
    fillBytes(program.aru8ProgramInfo, sizeof program.aru8ProgramInfo);
    fillBytes(program.aru8SDTInfo, sizeof program.aru8SDTInfo);
    fillBytes(es.aru8ESInfo, sizeof es.aru8ESInfo);
    fillBytes(program.aru8ServiceName, sizeof program.aru8ServiceName);
    fillBytes(program.aru8ServiceProvider, sizeof program.aru8ServiceProvider);
    fillBytes(model->pDescriptor[program.u16ProgramInfoDescriptorIndex].u8DescriptorInfo, hx::kDescriptorLoopSize);
    fillBytes(model->pDescriptor[es.u16ESInfoDescriptorIndex].u8DescriptorInfo, hx::kDescriptorLoopSize);
    program.u8CIFlag = static_cast<hx::U8>(data[8] & 1);

    hx::PMTTable_t pmt;
    if (hx::TSP_GetPMTInfo(s_program, &pmt) == 0) {
        Build(hx::SIP_ConstructPMTSections, pmt);
    }
    hx::SDTTable_t sdt;
    if (hx::TSP_GetSDTInfo(s_ts, &sdt) == 0) {
        Build(hx::SIP_ConstructSDTSections, sdt);
    }
    hx::VCTTable_t vct;
    if (hx::TSP_GetVCTInfo(s_ts, &vct) == 0) {
        Build(hx::SIP_ConstructVCTSections, vct);
    }
    return 0;
}

// Writes the seed corpus of the input-message fuzz target: a valid message of
// every configuration command, every delete order and a monitor record of each
// type, each behind the messages that build what it refers to, all encoded by
// the simulated input card.
//
//   input_message_seeds <folder>   (fuzz/corpus/input_messages)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/input_messages_format.h"
#include "sim/input_card_messages.h"

namespace {

using namespace hx;
using fuzz::AppendMessage;

// Channel 1 from slot 3: programs 1 and 2 (the first with a PCR on its video,
// an audio ES with an ES-level ECM, a program ECM), an EMM and an other PID;
// channel 2 from slot 5: program 3 with one ES.
std::vector<U8> BaseModel(U8 flags) {
    std::vector<U8> input = {flags};
    AppendMessage(input, IPCOMM_SEND_TS, InputCard_EncodeStreams(std::vector{InputCard_Stream(1)}));
    std::vector<Output_TSProgram> programs = {
        InputCard_Program({.channel = 1, .programId = 1, .serviceId = 5, .pmtPid = 0x100, .pcrPid = 0x101}),
        InputCard_Program({.channel = 1, .programId = 2, .serviceId = 5, .pmtPid = 0x110, .pcrPid = 0x1FFF}),
        InputCard_Program({.sourceSlot = 5, .channel = 2, .programId = 3, .serviceId = 0, .pmtPid = 0x100,
                           .pcrPid = 0x101})};
    programs[0].u16MajorChannelNum = programs[1].u16MajorChannelNum = 5;
    programs[0].u16MinorChannelNum = programs[1].u16MinorChannelNum = 1;
    AppendMessage(input, IPCOMM_SEND_PROGRAM, InputCard_EncodePrograms(programs));
    AppendMessage(
        input, IPCOMM_SEND_PID,
        InputCard_EncodePids(std::vector{
            InputCard_Pid({.type = PID_TYPE_PCRPID, .channel = 1, .programId = 1, .key = 0x101, .pid = 0x101}),
            InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 1, .key = 0x101, .pid = 0x101}),
            InputCard_Pid(
                {.type = PID_TYPE_ESPID, .channel = 1, .programId = 1, .key = 0x102, .pid = 0x102, .streamType = 0x04}),
            InputCard_Pid({.type = PID_TYPE_ES_ECMPID, .channel = 1, .key = 0x102, .ownKey = 0x103, .pid = 0x103}),
            InputCard_Pid({.type = PID_TYPE_PS_ECMPID, .channel = 1, .programId = 1, .key = 0x104, .pid = 0x104}),
            InputCard_Pid({.type = PID_TYPE_ESPID, .channel = 1, .programId = 2, .key = 0x111, .pid = 0x111}),
            InputCard_Pid({.type = PID_TYPE_EMMPID, .channel = 1, .key = 0x600, .pid = 0x600}),
            InputCard_Pid({.type = PID_TYPE_OTHERPID, .channel = 1, .key = 0x12, .pid = 0x12}),
            InputCard_Pid(
                {.type = PID_TYPE_ESPID, .sourceSlot = 5, .channel = 2, .programId = 3, .key = 0x101, .pid = 0x101}),
        }));
    return input;
}

std::vector<U8> WithMessage(std::vector<U8> input, U32 command, const std::vector<U8>& payload) {
    AppendMessage(input, command, payload);
    return input;
}

void Write(const std::filesystem::path& folder, const std::string& name, const std::vector<U8>& input) {
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(input.data()),
                                                         static_cast<std::streamsize>(input.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    const std::vector<U8> base = BaseModel(0);
    const std::vector<U8> loop(300, 0x0A);

    Write(folder, "send_ts",
          WithMessage({0}, IPCOMM_SEND_TS,
                      InputCard_EncodeStreams(std::vector{InputCard_Stream(4), InputCard_Stream(4)})));
    Write(folder, "send_program_pid", base);
    Write(folder, "send_program_pid_atsc", BaseModel(fuzz::kFlagAtsc));
    Write(folder, "send_descriptor",
          WithMessage(
              base, IPCOMM_SEND_DESCRIPTOR,
              InputCard_EncodeDescriptors(std::vector{InputCard_ProgramLoop({.channel = 1, .programId = 1}, loop)})));
    TSTable nit{};
    nit.u16ChannelID = 1;
    nit.u8SlotID = 3;
    nit.u8TableType = 2;
    nit.aru8TableInfo[0] = 0x40;
    Write(folder, "send_nit", WithMessage(base, IPCOMM_SEND_NIT_TABLE, InputCard_EncodeTables(std::vector{nit})));
    Write(folder, "change_program", WithMessage(base, IPCOMM_CHANGE_PROGRAM, {1, 2, 3}));
    Output_TSPID cam = InputCard_Pid({.channel = 1, .key = 0x102, .pid = 0x102});
    cam.u16CISrcPID = 0x902;
    cam.u16SrcCIStreamID = 9;
    Write(folder, "change_pid", WithMessage(base, IPCOMM_CHANGE_PID, InputCard_EncodePids(std::vector{cam})));
    Output_TSProgram descrambled = InputCard_Program({.channel = 1, .programId = 1, .serviceId = 5});
    descrambled.u8CAMIndex = 2;
    Write(folder, "set_descramble",
          WithMessage(base, IPCOMM_PROG_SET_DESCRAMBLE, InputCard_EncodePrograms(std::vector{descrambled})));
    Write(folder, "del_descramble",
          WithMessage(base, IPCOMM_DEL_SCR, InputCard_EncodePrograms(std::vector{descrambled})));

    Write(folder, "del_ts", WithMessage(base, IPCOMM_DEL_TS,
                                        InputCard_EncodeDeleteStreams(std::vector<DeleteStreamOrder>{{.channel = 1}})));
    Write(folder, "del_program",
          WithMessage(BaseModel(fuzz::kFlagNoPidMux), IPCOMM_DEL_PROGRAM,
                      InputCard_EncodeDeletePrograms(std::vector<DeleteProgramOrder>{{.channel = 1, .programId = 1},
                                                                                    {.channel = 1, .programId = 2}})));
    std::vector<DeletePidOrder> pidOrders;
    for (U16 key : {0x103, 0x104, 0x102, 0x101, 0x600, 0x12}) {
        pidOrders.push_back({.channel = 1, .key = key});
    }
    pidOrders.push_back({.filterFlag = 1, .channel = 1, .key = 0x111});
    Write(folder, "del_pid", WithMessage(base, IPCOMM_DEL_PID, InputCard_EncodeDeletePids(pidOrders)));
    Write(folder, "del_descriptor",
          WithMessage(WithMessage(base, IPCOMM_SEND_DESCRIPTOR,
                                  InputCard_EncodeDescriptors(std::vector{
                                      InputCard_ProgramLoop({.channel = 1, .programId = 1}, loop)})),
                      IPCOMM_DEL_DESCRIPTOR,
                      InputCard_EncodeDeletePrograms(std::vector<DeleteProgramOrder>{{.channel = 1, .programId = 1}})));

    const MonitorChange changes[] = {
        {.type = 1, .newPid = 0x120, .channel = 1, .key = 1, .loop = {0x0A, 2, 'e', 'n'}, .loopLength = 4},
        {.type = 1, .newPid = 0x121, .channel = 1, .key = 2, .loopLength = 300, .descriptorIndex = 0},
        {.type = 2, .newPid = 0x131, .channel = 1, .key = 0x101},
        {.type = 3, .streamType = 0x1B, .newPid = 0x132, .channel = 1, .key = 0x102, .loop = {0x52, 1, 1},
         .loopLength = 3},
        {.type = 4, .newPid = 0x610, .channel = 1, .key = 0x600},
        {.type = 5, .newPid = 0x134, .channel = 1, .key = 0x104, .casId = 0x0B00},
        {.type = 6, .newPid = 0x135, .channel = 1, .key = 0x103, .casId = 0x0B01},
        {.type = 7, .newPid = 0x13, .channel = 1, .key = 0x12},
    };
    for (const MonitorChange& change : changes) {
        Write(folder, "monitor_type" + std::to_string(change.type) + "_" + std::to_string(change.newPid),
              WithMessage(base, IPCOMM_MONITOR_PID, InputCard_EncodeMonitor(change)));
    }

    Passthrough_TSStream bypass{};
    bypass.u8SourceSlotID = 5;
    bypass.u16SourceChannelID = 2;
    bypass.aru32BypassDestChannel[0] = 0x6;
    std::vector<U8> passThrough = WithMessage({0}, fuzz::kAddBypass, InputCard_EncodePassthrough(std::vector{bypass}));
    bypass.aru32BypassDestChannel[0] = 0x2;
    Write(folder, "pass_through",
          WithMessage(passThrough, fuzz::kDelBypass, InputCard_EncodePassthrough(std::vector{bypass})));
    Write(folder, "unknown_commands", WithMessage(WithMessage(base, 272, {1, 0}), IPCOMM_SEND_UPGRADE, {0}));
    return 0;
}

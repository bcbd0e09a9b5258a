// The configuration entry: dispatch by command code, and the checks every
// counted handler shares. See input_messages.h.
#include "engine/input_messages.h"

#include "engine/input_common.h"
#include "engine/input_records.h"
#include "engine/model_lock.h"
#include "si/nit_storage.h"

namespace hx {

namespace {

enum class Payload : U8 { Counted, Monitor, Ignored };

using CountedHandler = U32 (*)(U8*, U16, U16);

struct Command {
    IPCOMM_CMD code;
    Payload payload;
    std::size_t recordSize;
    const char* kind;
    const char* handlerName;
    CountedHandler handler;
};

#define HX_COUNTED(code, Record, handler) {code, Payload::Counted, sizeof(Record), #Record, #handler, handler}

const Command kCommands[] = {
    HX_COUNTED(IPCOMM_SEND_TS, Output_TSStream, TSP_ConstructOutputTSByAddTS),
    HX_COUNTED(IPCOMM_SEND_PROGRAM, Output_TSProgram, TSP_ConstructOutputTSByAddPrograms),
    HX_COUNTED(IPCOMM_SEND_PID, Output_TSPID, TSP_ConstructOutputTSByAddPIDs),
    HX_COUNTED(IPCOMM_DEL_TS, Delete_TSStream, TSP_ConstructOutputTSByDelTS),
    HX_COUNTED(IPCOMM_DEL_PROGRAM, Delete_TSProgram, TSP_ConstructOutputTSByDelProgram),
    {IPCOMM_CHANGE_PROGRAM, Payload::Ignored, 0, "", "", nullptr},
    HX_COUNTED(IPCOMM_CHANGE_PID, Output_TSPID, TSP_ConstructOutputTSBySetSCRPIDInfo),
    HX_COUNTED(IPCOMM_PROG_SET_DESCRAMBLE, Output_TSProgram, TSP_ConstructOutputTSBySetSCR),
    HX_COUNTED(IPCOMM_DEL_SCR, Output_TSProgram, TSP_ConstructOutputTSByDelSCRInfo),
    HX_COUNTED(IPCOMM_SEND_NIT_TABLE, TSTable, TSP_ConstructOutputTSByAddNITTable),
    HX_COUNTED(IPCOMM_DEL_PID, Delete_TSPID, TSP_ConstructOutputTSByDelPID),
    {IPCOMM_MONITOR_PID, Payload::Monitor, sizeof(MonitorPID_t), "MonitorPID_t", "TSP_ConstructOutputTSByMonitorPID",
     nullptr},
    HX_COUNTED(IPCOMM_SEND_DESCRIPTOR, TSDescriptor, TSP_ConstructOutputTSByAddDescriptors),
    HX_COUNTED(IPCOMM_DEL_DESCRIPTOR, Delete_TSProgramDescriptor, TSP_ConstructOutputTSByDelDescriptors),
};

#undef HX_COUNTED

const Command* FindCommand(IPCOMM_CMD code) {
    for (const Command& command : kCommands) {
        if (command.code == code) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace

U32 Input_CheckCounted(const char* function, const U8* records, U16 number, U32 length, std::size_t recordSize,
                       const char* kind) {
    if (records == nullptr || number == 0) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error u8Buffer[%p],u16Number[%u]\r\n\n",
                  static_cast<const void*>(records), number);
        return kTspErrInput;
    }
    // In 32 bits: a 16-bit product wraps (57 descriptor records "need" 1,040
    // bytes) and would let the handler read past the message.
    const U32 needed = static_cast<U32>(number) * static_cast<U32>(recordSize);
    if (length < needed) {
        HX_LOG_AS(function, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS,
                  "%s data length u16Length[%u] smaller than structure[%u]\r\n\n", kind, length, needed);
        return kTspErrLength;
    }
    return 0;
}

void RecordChecks::AtMost(U16 record, const char* field, U32 value, U32 limit) {
    if (value <= limit) {
        return;
    }
    HX_LOG_AS(function_, LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "record[%u] %s[%u] beyond [%u]\r\n\n", record, field,
              value, limit);
    passed_ = false;
}

U32 TSP_ConstructOutputTS(U8* u8Buffer, IPCOMM_CMD eDataType, U16 u16Length) {
    if (u8Buffer == nullptr || u16Length == 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "Input error u8Buffer[%p],u16Length[%u]\r\n\n",
               static_cast<void*>(u8Buffer), u16Length);
        return kTspErrInput;
    }
    // The whole message under one hold of the lock: readers see the model
    // before it or after it, never between two of its records.
    TSP_ModelLock lock;
    const U16 number = u8Buffer[0];
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_TSPROCESS, "Structure Number[%u]\r\n\n", number);
    const Command* command = FindCommand(eDataType);
    if (command == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "[TSP_ConstructOutputTS]IP data type error,eDataType[%X]\r\n\n",
               static_cast<unsigned>(eDataType));
        return kTspErrCommand;
    }
    U32 result = 0;
    switch (command->payload) {
        case Payload::Ignored:
            return 0;
        case Payload::Monitor:
            result = TSP_ConstructOutputTSByMonitorPID(u8Buffer, u16Length);
            break;
        case Payload::Counted:
            // Checked here as well as in the handler, so no handler (the NIT's
            // included) ever sees records that are not all there.
            result = Input_CheckCounted(__func__, u8Buffer + 1, number, u16Length - 1u, command->recordSize,
                                        command->kind);
            if (result != 0) {
                return result;
            }
            result = command->handler(u8Buffer + 1, number, static_cast<U16>(u16Length - 1));
            break;
    }
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_TSPROCESS, "%s return error\r\n\n", command->handlerName);
    }
    return result;
}

}  // namespace hx

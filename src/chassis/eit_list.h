// The board's EIT list: one 180-byte `Output_EIT` record per program of the
// multiplexed output streams, at most 500, sent to the EIT board with command
// 278. Built from the live output model under the model lock; the caller sends
// it after the lock is released.
#pragma once

#include <array>
#include <vector>

#include "core/types.h"

namespace hx {

constexpr U32 kEitRecordSize = 180;
constexpr U32 kEitMaxRecords = 500;

struct Output_EIT {
    U8 u8Enable = 1;
    U8 u8ValidFlag = 0;
    U8 u8SourceSlotID = 0;
    U8 u8EitSlotID = 0;
    U8 u8SlotID = 0;
    U8 u8SrcPort = 0;
    U16 u16SourceChannelID = 0;
    U16 u16EitChannelID = 0;
    U16 u16ChannelID = 0;
    U16 u16SrcStreamId = 0;
    U16 u16TSIndex = 0;
    U16 u16Index = 0;
    U16 u16ProgramID = 0;
    U16 u16NextIndex = 0;
    U16 u16OldServiceID = 0;
    U16 u16ServiceID = 0;
    U16 u16TransportStreamID = 0;
    U16 u16OriginalNetworkId = 0;
    U8 u8ServiceNameLen = 0;
    U8 u8ServiceProviderLen = 0;
    std::array<U8, 32> aru8ServiceName{};
    std::array<U8, 32> aru8ServiceProvider{};
    U8 u8EitVersionNumber = 0;
};

std::array<U8, kEitRecordSize> EIT_Serialize(const Output_EIT& record);
Output_EIT EIT_Parse(const U8* bytes);

// The records of the live model, in channel and chain order.
std::vector<Output_EIT> EIT_BuildList();
// The 278 message: U32 count, then the records.
std::vector<U8> EIT_Message(const std::vector<Output_EIT>& records);

}  // namespace hx

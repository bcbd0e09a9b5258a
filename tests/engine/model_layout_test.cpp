// The model records are the payloads of input-card messages and the body of
// the model file: each field must sit at its byte offset, little-endian.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/common_fun.h"
#include "engine/model_records.h"

namespace hx {
namespace {

// Sets a field through its name and records where its bytes must land.
// Every byte of every field gets its own value, so a field at the wrong
// offset, of the wrong width or in the wrong byte order shows.
struct Fixture {
    std::vector<U8> expected;
    U8 next = 1;

    explicit Fixture(std::size_t size) : expected(size, 0) {}

    template <typename Field>
    void Set(Field& field, std::size_t offset, std::size_t width) {
        U32 value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value |= static_cast<U32>(next++) << (8 * i);
        }
        field = static_cast<Field>(value);
        if (width == 1) {
            expected[offset] = static_cast<U8>(value);
        } else if (width == 2) {
            PutLe16(&expected[offset], static_cast<U16>(value));
        } else {
            PutLe32(&expected[offset], value);
        }
    }

    void Bytes(U8* field, std::size_t offset, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            field[i] = static_cast<U8>(0x80 + i);
            expected[offset + i] = field[i];
        }
    }
};

template <typename Record>
std::vector<U8> BytesOf(const Record& record) {
    std::vector<U8> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    return bytes;
}

#define SET(record, field, offset, width) fixture.Set(record.field, offset, width)

TEST(ModelLayoutTest, OutputStreamBytes) {
    Output_TSStream ts{};
    Fixture fixture(448);
    SET(ts, u32StructVersion, 0, 4);
    SET(ts, u32Length, 4, 4);
    SET(ts, u16NetworkID, 8, 2);
    SET(ts, u16TransportStreamID, 10, 2);
    SET(ts, u16OriginalNetworkID, 12, 2);
    SET(ts, u8ValidFlag, 14, 1);
    SET(ts, u8SlotID, 15, 1);
    SET(ts, u16ChannelID, 16, 2);
    SET(ts, u16ProgramNum, 18, 2);
    SET(ts, u16ProgramIndex, 20, 2);
    SET(ts, u16OtherPIDNum, 22, 2);
    SET(ts, u16OtherPIDIndex, 24, 2);
    SET(ts, u16EMMPIDNumber, 26, 2);
    SET(ts, u16EMMPIDIndex, 28, 2);
    SET(ts, u8PATVersionNumber, 30, 1);
    SET(ts, u8PATChangeFlag, 31, 1);
    SET(ts, u8BypassFlag, 32, 1);
    SET(ts, u8SrcSlotID, 33, 1);
    SET(ts, u16SrcChannelID, 34, 2);
    SET(ts, u16NITIndex, 36, 2);
    SET(ts, u16BATIndex, 38, 2);
    SET(ts, u16TDTIndex, 40, 2);
    SET(ts, u16TOTIndex, 42, 2);
    SET(ts, u16OtherNITIndex, 44, 2);
    SET(ts, u16OtherSDTIndex, 46, 2);
    SET(ts, u8SDTVersionNumber, 48, 1);
    SET(ts, u8SDTChangeFlag, 49, 1);
    SET(ts, u8CATVersionNumber, 50, 1);
    SET(ts, u8CATChangeFlag, 51, 1);
    SET(ts, u16SrcStreamID, 52, 2);
    SET(ts, u8SrcPort, 54, 1);
    SET(ts, u8NITVersionNumber, 55, 1);
    SET(ts, u8NITChangeFlag, 56, 1);
    SET(ts, u8ModulationMode, 57, 1);
    SET(ts, u8IsSDTChangedByUser, 58, 1);
    SET(ts, u16DescriptorNum, 60, 2);
    SET(ts, u16DescriptorIndex, 62, 2);
    SET(ts, u8PATGenerate, 64, 1);
    SET(ts, u8PMTGenerate, 65, 1);
    SET(ts, u8CATGenerate, 66, 1);
    SET(ts, u8SDTGenerate, 67, 1);
    SET(ts, u8BATGenerate, 68, 1);
    SET(ts, u8NITGenerate, 69, 1);
    SET(ts, u8TDTGenerate, 70, 1);
    SET(ts, u8TOTGenerate, 71, 1);
    SET(ts, u16TransChannel, 72, 2);
    SET(ts, u8EITGenerate, 74, 1);
    SET(ts, u8BATChangeFlag, 75, 1);
    SET(ts, u8BATVersionNumber, 76, 1);
    SET(ts, u8MGTGenerate, 80, 1);
    SET(ts, u8VCTGenerate, 81, 1);
    SET(ts, u8STTGenerate, 82, 1);
    SET(ts, u8ETTGenerate, 83, 1);
    SET(ts, u32VCTType, 84, 4);
    EXPECT_EQ(fixture.expected, BytesOf(ts));
}

TEST(ModelLayoutTest, ProgramBytes) {
    Output_TSProgram program{};
    Fixture fixture(920);
    SET(program, u32StructVersion, 0, 4);
    SET(program, u32Length, 4, 4);
    SET(program, u8ValidFlag, 8, 1);
    SET(program, u8SourceSlotID, 9, 1);
    SET(program, u16SourceChannelID, 10, 2);
    SET(program, u16ChannelID, 12, 2);
    SET(program, u8SlotID, 14, 1);
    SET(program, u8PMTVersionNumber, 15, 1);
    SET(program, u16TSIndex, 16, 2);
    SET(program, u16ProgramIndex, 18, 2);
    SET(program, u16ProgramID, 20, 2);
    SET(program, u16NextProgramIndex, 22, 2);
    SET(program, u16PSECMPIDNumber, 24, 2);
    SET(program, u16PSECMPIDIndex, 26, 2);
    SET(program, u16OldServiceID, 28, 2);
    SET(program, u16OldPCRPID, 30, 2);
    SET(program, u16OldPMTPID, 32, 2);
    SET(program, u16ServiceID, 34, 2);
    SET(program, u16PCRPID, 36, 2);
    SET(program, u16PMTPID, 38, 2);
    SET(program, u16ESNumber, 40, 2);
    SET(program, u16PCRIndex, 42, 2);
    SET(program, u16PIDIndex, 44, 2);
    SET(program, u8ServiceNameLen, 46, 1);
    SET(program, u8ServiceProviderLen, 47, 1);
    fixture.Bytes(program.aru8ServiceName, 48, 32);
    fixture.Bytes(program.aru8ServiceProvider, 80, 32);
    SET(program, u8ServiceType, 112, 1);
    SET(program, u8RunningStatus, 113, 1);
    SET(program, u8FreeCAMode, 114, 1);
    SET(program, u8EITScheduleFlag, 115, 1);
    SET(program, u8EITPresentFollowingFlag, 116, 1);
    SET(program, u8PMTChangeFlag, 117, 1);
    SET(program, u16ProgramInfoLength, 118, 2);
    fixture.Bytes(program.aru8ProgramInfo, 120, 188);
    SET(program, u16SDTInfoLength, 308, 2);
    SET(program, u8CAMIndex, 310, 1);
    SET(program, u8CIFlag, 311, 1);
    fixture.Bytes(program.aru8SDTInfo, 312, 188);
    SET(program, u16ProgramInfoDescriptorIndex, 500, 2);
    SET(program, u16SDTInfoDescriptorIndex, 502, 2);
    SET(program, u16MajorChannelNum, 504, 2);
    SET(program, u16MinorChannelNum, 506, 2);
    SET(program, u32CarrierFrequency, 508, 4);
    SET(program, u16ChannelTSID, 512, 2);
    SET(program, u16SourceId, 514, 2);
    SET(program, u8ModulationMode, 516, 1);
    SET(program, u8VCTType, 517, 1);
    SET(program, u8SrcPort, 518, 1);
    SET(program, u8OtherInfo, 519, 1);
    SET(program, u16WebChannel, 520, 2);
    SET(program, u8DescrambFlag, 522, 1);
    SET(program, u16SrcStreamId, 524, 2);
    SET(program, u16TransportStreamID, 528, 2);
    SET(program, u16OriginalNetworkID, 530, 2);
    EXPECT_EQ(fixture.expected, BytesOf(program));
}

TEST(ModelLayoutTest, PidBytes) {
    Output_TSPID pid{};
    Fixture fixture(372);
    SET(pid, u32StructVersion, 0, 4);
    SET(pid, u32Length, 4, 4);
    SET(pid, u8ValidFlag, 8, 1);
    SET(pid, u8SourceSlotID, 9, 1);
    SET(pid, u16SourceChannelID, 10, 2);
    SET(pid, u8SlotID, 12, 1);
    SET(pid, u8PIDFilterFlag, 13, 1);
    SET(pid, u16ChannelID, 14, 2);
    SET(pid, u32TSIndex, 16, 4);
    SET(pid, u32ProgramIndex, 20, 4);
    SET(pid, u32PIDIndex, 24, 4);
    SET(pid, u16ProgramID, 28, 2);
    SET(pid, u16PIDID, 30, 2);
    SET(pid, u32NextPIDIndex, 32, 4);
    SET(pid, u16ESECMPIDNumber, 36, 2);
    SET(pid, u16ESECMPIDIndex, 38, 2);
    SET(pid, u8PIDType, 40, 1);
    SET(pid, u8StreamType, 41, 1);
    SET(pid, u16OldPID, 42, 2);
    SET(pid, u16PID, 44, 2);
    SET(pid, u16CASID, 46, 2);
    SET(pid, u16ESInfoLength, 48, 2);
    SET(pid, u16SrcStreamID, 50, 2);
    fixture.Bytes(pid.aru8ESInfo, 52, 188);
    SET(pid, u16ESInfoDescriptorIndex, 240, 2);
    SET(pid, u16CISrcPID, 242, 2);
    SET(pid, u16SrcCIStreamID, 244, 2);
    SET(pid, u16ESPIDIndex, 246, 2);
    EXPECT_EQ(fixture.expected, BytesOf(pid));
}

TEST(ModelLayoutTest, TableBytes) {
    TSTable table{};
    Fixture fixture(1184);
    SET(table, u32StructVersion, 0, 4);
    SET(table, u32Length, 4, 4);
    SET(table, u8ValidFlag, 8, 1);
    SET(table, u8SlotID, 9, 1);
    SET(table, u16ChannelID, 10, 2);
    SET(table, u16Index, 12, 2);
    SET(table, u16NextIndex, 14, 2);
    SET(table, u16TSIndex, 16, 2);
    SET(table, u8TableType, 18, 1);
    SET(table, u8IsChangedByUser, 19, 1);
    SET(table, u16PID, 20, 2);
    SET(table, u16TableID, 22, 2);
    SET(table, u16SectionNumber, 24, 2);
    SET(table, u16LastSectionNumber, 26, 2);
    SET(table, u16TableInfoLen, 28, 2);
    fixture.Bytes(table.aru8TableInfo, 32, 1024);
    EXPECT_EQ(fixture.expected, BytesOf(table));
}

TEST(ModelLayoutTest, DescriptorBytes) {
    TSDescriptor descriptor{};
    Fixture fixture(1168);
    SET(descriptor, u32StructVersion, 0, 4);
    SET(descriptor, u32Length, 4, 4);
    SET(descriptor, u8ValidFlag, 8, 1);
    SET(descriptor, u8SlotID, 9, 1);
    SET(descriptor, u16ChannelID, 10, 2);
    SET(descriptor, u16ProgramIndex, 12, 2);
    SET(descriptor, u16PIDIndex, 14, 2);
    fixture.Bytes(descriptor.u8DescriptorInfo, 16, 1024);
    SET(descriptor, u16DescriptorIndex, 1040, 2);
    SET(descriptor, u16DescriptorID, 1042, 2);
    SET(descriptor, u16NextDescriptorIndex, 1044, 2);
    SET(descriptor, u16TSIndex, 1046, 2);
    SET(descriptor, u16SrcStreamID, 1048, 2);
    SET(descriptor, u16SourceChannelID, 1050, 2);
    SET(descriptor, u8SourceSlotID, 1052, 1);
    EXPECT_EQ(fixture.expected, BytesOf(descriptor));
}

TEST(ModelLayoutTest, PassthroughBytes) {
    Passthrough_TSStream bypass{};
    Fixture fixture(80);
    SET(bypass, u32StructVersion, 0, 4);
    SET(bypass, u8ValidFlag, 4, 1);
    SET(bypass, u8SourceSlotID, 5, 1);
    SET(bypass, u16SourceChannelID, 6, 2);
    for (int i = 0; i < 8; ++i) {
        SET(bypass, aru32BypassDestChannel[i], 8 + 4 * i, 4);
    }
    EXPECT_EQ(fixture.expected, BytesOf(bypass));
}

}  // namespace
}  // namespace hx

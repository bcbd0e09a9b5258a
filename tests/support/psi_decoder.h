// Reads transport-stream packets back with libdvbpsi, a decoder independent of
// ours, for every test that checks sections or packets the card made:
// demultiplexes by PID, decodes PAT, CAT, PMTs (by program), SDT, NIT, TDT,
// TOT, MGT, VCT and STT, and keeps every message libdvbpsi gives
// (continuity errors, duplicates, CRC errors). libdvbpsi reports a table once
// per version, as a receiver reads it, and each report keeps that version;
// repetitions are counted on the raw packets (PacketsOn).
//
// libdvbpsi's own dvbpsi_descriptor_t lives in the global namespace; ours is
// hx::dvbpsi_descriptor_t. This header names neither.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"

struct dvbpsi_s;

namespace hx::test {

struct RawDescriptor {
    U8 tag = 0;
    std::vector<U8> data;
    bool operator==(const RawDescriptor&) const = default;
};

struct DecodedNitEntry {
    U16 transportStreamId = 0;
    U16 originalNetworkId = 0;
    std::vector<RawDescriptor> descriptors;
    bool operator==(const DecodedNitEntry&) const = default;
};

struct DecodedNit {
    U16 networkId = 0;
    U8 version = 0;
    std::vector<RawDescriptor> network;
    std::vector<DecodedNitEntry> entries;
};

struct DecodedTime {
    U8 tableId = 0;
    std::uint64_t utc = 0;  // 40 bits: MJD and BCD time
    std::vector<RawDescriptor> descriptors;
};

struct DecodedStt {
    U32 systemTime = 0;
    U8 gpsUtcOffset = 0;
    U16 daylightSaving = 0;
};

struct DecodedPat {
    U16 transportStreamId = 0;
    U8 version = 0;
    std::vector<std::pair<U16, U16>> programs;  // program number, PMT PID
    bool operator==(const DecodedPat&) const = default;
};
struct DecodedPmt {
    U16 program = 0;
    U16 pcrPid = 0;
    std::vector<std::pair<U8, U16>> streams;  // stream type, PID
    U8 version = 0;
    std::vector<RawDescriptor> programDescriptors;
    std::vector<std::vector<RawDescriptor>> streamDescriptors;  // one list per entry of streams
    bool operator==(const DecodedPmt&) const = default;
};
struct DecodedSdtService {
    U16 serviceId = 0;
    std::vector<RawDescriptor> descriptors;
    bool eitSchedule = false;
    bool eitPresentFollowing = false;
    U8 runningStatus = 0;
    bool freeCa = false;
    bool operator==(const DecodedSdtService&) const = default;
};
struct DecodedSdt {
    U16 transportStreamId = 0;
    U16 originalNetworkId = 0;
    std::vector<DecodedSdtService> services;
    U8 version = 0;
    bool operator==(const DecodedSdt&) const = default;
};
struct DecodedMgtTable {
    U16 type = 0;
    U16 pid = 0;
    U32 bytes = 0;
    U8 version = 0;  // of the table listed
};
struct DecodedVctChannel {
    U16 major = 0;
    U16 minor = 0;
    U16 program = 0;
    U16 sourceId = 0;
    U8 modulation = 0;
    U32 carrierFrequency = 0;
    U8 serviceType = 0;
};
struct DecodedVct {
    U8 tableId = 0;
    std::vector<DecodedVctChannel> channels;
    U8 version = 0;
};

class PsiDecoder {
public:
    PsiDecoder();
    ~PsiDecoder();
    PsiDecoder(const PsiDecoder&) = delete;
    PsiDecoder& operator=(const PsiDecoder&) = delete;

    // PMTs of these programs are decoded on that PID (several may share one).
    void WatchPmt(U16 pid, U16 program);
    // Whole 188-byte packets; a trailing partial packet is ignored.
    void Push(std::span<const U8> stream);

    // Every libdvbpsi message; its warnings and errors; those about
    // continuity or CRC.
    const std::vector<std::string>& Messages() const { return messages_; }
    const std::vector<std::string>& Warnings() const { return warnings_; }
    std::vector<std::string> Problems() const;
    std::size_t PacketsOn(U16 pid) const;
    // Payload-unit starts seen on a PID: one per section sent.
    std::size_t SectionStartsOn(U16 pid) const;

    std::vector<DecodedNit> nits;
    std::vector<DecodedTime> times;
    std::vector<DecodedStt> stts;
    std::vector<DecodedPmt> pmts;
    std::vector<DecodedSdt> sdts;
    std::vector<std::vector<RawDescriptor>> cats;
    std::vector<U8> catVersions;  // beside cats
    std::vector<std::vector<DecodedMgtTable>> mgts;
    std::vector<U8> mgtVersions;  // beside mgts
    std::vector<DecodedVct> vcts;
    int pats = 0;
    std::vector<DecodedPat> patTables;

private:
    struct Handle;
    Handle& HandleFor(U16 pid);

    std::map<U16, std::vector<std::unique_ptr<Handle>>> handles_;
    std::map<U16, std::vector<U16>> pmtPrograms_;
    std::map<U16, std::size_t> packets_;
    std::map<U16, std::size_t> starts_;
    std::vector<std::string> messages_;
    std::vector<std::string> warnings_;
};

// A channel's packets decoded with the PMTs its last PAT lists: a first
// reading finds the PMT PIDs in the PAT, the second decodes them all.
std::unique_ptr<PsiDecoder> DecodeWithPmts(std::span<const U8> stream);

// Provider and name of a service's service descriptor (0x48: type, provider
// length and text, name length and text); both empty when it has none.
std::pair<std::string, std::string> ServiceDescriptorNames(const DecodedSdtService& service);

// Cuts sections into packets the plain way (each section starts a packet with
// pointer_field 0, the rest filled with 0xFF), counters running from `cc`.
std::vector<U8> Packetize(U16 pid, std::span<const U8> sections, U8 cc = 0);

}  // namespace hx::test

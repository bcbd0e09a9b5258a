#include "support/psi_generators.h"

extern "C" {
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/sdt.h>
}

#include <cstdio>
#include <string>

namespace hx::test {

namespace {

constexpr U16 kOriginalNetworkId = 0x2000;
constexpr U8 kVersion = 3;
constexpr U8 kLanguageDescriptorTag = 0x0A;
constexpr int kPatProgramsPerSection = 253;  // (1,024 - 12) / 4

std::vector<U8> LanguageDescriptor(const char* language) {
    return {kLanguageDescriptorTag, 4, static_cast<U8>(language[0]), static_cast<U8>(language[1]),
            static_cast<U8>(language[2]), 0};
}

std::vector<U8> ServiceDescriptor(const std::string& provider, const std::string& name) {
    std::vector<U8> descriptor{kServiceDescriptorTag, static_cast<U8>(3 + provider.size() + name.size()), 0x01,
                               static_cast<U8>(provider.size())};
    descriptor.insert(descriptor.end(), provider.begin(), provider.end());
    descriptor.push_back(static_cast<U8>(name.size()));
    descriptor.insert(descriptor.end(), name.begin(), name.end());
    return descriptor;
}

// Calls add(tag, length, data) for each descriptor of a loop.
template <typename Add>
void EachDescriptor(const std::vector<U8>& loop, Add add) {
    for (std::size_t at = 0; at + 2 <= loop.size() && at + 2 + loop[at + 1] <= loop.size(); at += 2 + loop[at + 1]) {
        add(loop[at], loop[at + 1], const_cast<U8*>(loop.data() + at + 2));
    }
}

void Quiet(dvbpsi_t*, const dvbpsi_msg_level_t, const char*) {}

}  // namespace

std::vector<PsiStreamTables> MakePsiModel(U16 streams, U16 programs) {
    std::vector<PsiStreamTables> model(streams);
    for (U16 s = 0; s < streams; ++s) {
        PsiStreamTables& tables = model[s];
        const U16 tsid = static_cast<U16>(s + 1);
        tables.pat.u16TransportStreamID = tsid;
        tables.pat.u8VersionNumber = kVersion;
        tables.sdt.u16TransportStreamID = tsid;
        tables.sdt.u16OriginalNetworkID = kOriginalNetworkId;
        tables.sdt.u8VersionNumber = kVersion;
        for (U16 p = 0; p < programs; ++p) {
            const U16 number = static_cast<U16>(100 * s + p + 1);
            const U16 video = static_cast<U16>(0x200 + 2 * p);
            tables.pat.vecPrograms.push_back({number, static_cast<U16>(0x100 + p)});
            PMTTable_t pmt;
            pmt.u16ProgramNumber = number;
            pmt.u8VersionNumber = kVersion;
            pmt.u16PCRPID = video;
            pmt.vecStreams.push_back({0x02, video, LanguageDescriptor("eng")});
            pmt.vecStreams.push_back({0x04, static_cast<U16>(video + 1), LanguageDescriptor("fre")});
            tables.pmts.push_back(std::move(pmt));
            char name[16];
            std::snprintf(name, sizeof name, "Program %04u", static_cast<unsigned>(number));
            tables.sdt.vecServices.push_back({number, 0, 1, 4, 0, ServiceDescriptor("HX Headend", name)});
        }
    }
    return model;
}

bool BuildOwnPsi(std::span<const PsiStreamTables> model, std::span<U8> buffer, const PsiTableSink& sink) {
    const U32 capacity = static_cast<U32>(buffer.size());
    U32 length = 0;
    auto deliver = [&](U16 pid) {
        if (sink) {
            sink(pid, buffer.first(length));
        }
    };
    for (const PsiStreamTables& tables : model) {
        if (SIP_ConstructPATSections(&tables.pat, buffer.data(), capacity, &length) != 0) {
            return false;
        }
        deliver(0);
        for (std::size_t i = 0; i < tables.pmts.size(); ++i) {
            if (SIP_ConstructPMTSections(&tables.pmts[i], buffer.data(), capacity, &length) != 0) {
                return false;
            }
            deliver(tables.pat.vecPrograms[i].u16PMTPID);
        }
        if (SIP_ConstructSDTSections(&tables.sdt, buffer.data(), capacity, &length) != 0) {
            return false;
        }
        deliver(kSdtPid);
    }
    return true;
}

struct LibdvbpsiPsi::Tables {
    struct Stream {
        dvbpsi_pat_t* pat = nullptr;
        std::vector<std::pair<dvbpsi_pmt_t*, U16>> pmts;  // with their PIDs
        dvbpsi_sdt_t* sdt = nullptr;
    };
    dvbpsi_t* handle = nullptr;
    std::vector<Stream> streams;

    ~Tables() {
        for (Stream& stream : streams) {
            dvbpsi_pat_delete(stream.pat);
            for (auto& pmt : stream.pmts) {
                dvbpsi_pmt_delete(pmt.first);
            }
            dvbpsi_sdt_delete(stream.sdt);
        }
        if (handle != nullptr) {
            dvbpsi_delete(handle);
        }
    }
};

LibdvbpsiPsi::LibdvbpsiPsi(std::span<const PsiStreamTables> model) : tables_(std::make_unique<Tables>()) {
    tables_->handle = dvbpsi_new(Quiet, DVBPSI_MSG_NONE);
    for (const PsiStreamTables& tables : model) {
        Tables::Stream stream;
        stream.pat = dvbpsi_pat_new(tables.pat.u16TransportStreamID, tables.pat.u8VersionNumber, true);
        for (const PATProgram_t& program : tables.pat.vecPrograms) {
            dvbpsi_pat_program_add(stream.pat, program.u16ProgramNumber, program.u16PMTPID);
        }
        for (std::size_t i = 0; i < tables.pmts.size(); ++i) {
            const PMTTable_t& table = tables.pmts[i];
            dvbpsi_pmt_t* pmt =
                dvbpsi_pmt_new(table.u16ProgramNumber, table.u8VersionNumber, true, table.u16PCRPID);
            EachDescriptor(table.vecProgramInfo,
                           [&](U8 tag, U8 length, U8* data) { dvbpsi_pmt_descriptor_add(pmt, tag, length, data); });
            for (const PMTStream_t& es : table.vecStreams) {
                dvbpsi_pmt_es_t* added = dvbpsi_pmt_es_add(pmt, es.u8StreamType, es.u16PID);
                EachDescriptor(es.vecESInfo, [&](U8 tag, U8 length, U8* data) {
                    dvbpsi_pmt_es_descriptor_add(added, tag, length, data);
                });
            }
            stream.pmts.emplace_back(pmt, tables.pat.vecPrograms[i].u16PMTPID);
        }
        const SDTTable_t& sdt = tables.sdt;
        stream.sdt = dvbpsi_sdt_new(kSdtActualTableId, sdt.u16TransportStreamID, sdt.u8VersionNumber, true,
                                    sdt.u16OriginalNetworkID);
        for (const SDTService_t& service : sdt.vecServices) {
            dvbpsi_sdt_service_t* added =
                dvbpsi_sdt_service_add(stream.sdt, service.u16ServiceID, service.u8EITScheduleFlag != 0,
                                       service.u8EITPresentFollowingFlag != 0, service.u8RunningStatus,
                                       service.u8FreeCAMode != 0);
            EachDescriptor(service.vecDescriptors, [&](U8 tag, U8 length, U8* data) {
                dvbpsi_sdt_service_descriptor_add(added, tag, length, data);
            });
        }
        tables_->streams.push_back(std::move(stream));
    }
}

LibdvbpsiPsi::~LibdvbpsiPsi() = default;

bool LibdvbpsiPsi::Generate(const PsiTableSink& sink) {
    auto deliver = [&](dvbpsi_psi_section_t* sections, U16 pid) {
        if (sections == nullptr) {
            return false;
        }
        for (const dvbpsi_psi_section_t* s = sections; sink && s != nullptr; s = s->p_next) {
            sink(pid, std::span<const U8>(s->p_data, static_cast<std::size_t>(s->i_length) + 3));
        }
        dvbpsi_DeletePSISections(sections);
        return true;
    };
    dvbpsi_t* handle = tables_->handle;
    for (Tables::Stream& stream : tables_->streams) {
        if (!deliver(dvbpsi_pat_sections_generate(handle, stream.pat, kPatProgramsPerSection), 0)) {
            return false;
        }
        for (auto& [pmt, pid] : stream.pmts) {
            if (!deliver(dvbpsi_pmt_sections_generate(handle, pmt), pid)) {
                return false;
            }
        }
        if (!deliver(dvbpsi_sdt_sections_generate(handle, stream.sdt), kSdtPid)) {
            return false;
        }
    }
    return true;
}

std::size_t CountSections(std::span<const U8> sections) {
    std::size_t count = 0;
    for (std::size_t at = 0; at + 3 <= sections.size(); at += 3 + (((sections[at + 1] & 0x0F) << 8) | sections[at + 2])) {
        ++count;
    }
    return count;
}

}  // namespace hx::test

#include "support/psi_decoder.h"

extern "C" {
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/atsc_mgt.h>
#include <dvbpsi/atsc_stt.h>
#include <dvbpsi/atsc_vct.h>
#include <dvbpsi/cat.h>
#include <dvbpsi/sdt.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/nit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/tot.h>
}

#include <algorithm>
#include <utility>

namespace hx::test {

namespace {

constexpr std::size_t kPacket = 188;

std::vector<RawDescriptor> Descriptors(const dvbpsi_descriptor_t* first) {
    std::vector<RawDescriptor> out;
    for (const dvbpsi_descriptor_t* d = first; d != nullptr; d = d->p_next) {
        out.push_back({d->i_tag, std::vector<U8>(d->p_data, d->p_data + d->i_length)});
    }
    return out;
}

}  // namespace

struct PsiDecoder::Handle {
    PsiDecoder* owner = nullptr;
    dvbpsi_t* dvbpsi = nullptr;
    enum class Kind { Pat, Pmt, Cat, Demux } kind = Kind::Demux;
    U16 pid = 0;

    ~Handle() {
        if (dvbpsi == nullptr) {
            return;
        }
        switch (kind) {
            case Kind::Pat: dvbpsi_pat_detach(dvbpsi); break;
            case Kind::Pmt: dvbpsi_pmt_detach(dvbpsi); break;
            case Kind::Cat: dvbpsi_cat_detach(dvbpsi); break;
            case Kind::Demux: dvbpsi_DetachDemux(dvbpsi); break;
        }
        dvbpsi_delete(dvbpsi);
    }

    static void OnMessage(dvbpsi_t* handle, const dvbpsi_msg_level_t level, const char* text) {
        auto* self = static_cast<Handle*>(handle->p_sys);
        std::string message = "PID " + std::to_string(self->pid) + ": " + text;
        if (level <= DVBPSI_MSG_WARN) {
            self->owner->warnings_.push_back(message);
        }
        self->owner->messages_.push_back(std::move(message));
    }

    static void OnPat(void* data, dvbpsi_pat_t* pat) {
        PsiDecoder* owner = static_cast<Handle*>(data)->owner;
        ++owner->pats;
        DecodedPat decoded{pat->i_ts_id, pat->i_version, {}};
        for (const dvbpsi_pat_program_t* p = pat->p_first_program; p != nullptr; p = p->p_next) {
            decoded.programs.emplace_back(p->i_number, p->i_pid);
        }
        owner->patTables.push_back(std::move(decoded));
        dvbpsi_pat_delete(pat);
    }

    static void OnPmt(void* data, dvbpsi_pmt_t* pmt) {
        DecodedPmt decoded{pmt->i_program_number, pmt->i_pcr_pid, {}, pmt->i_version,
                           Descriptors(pmt->p_first_descriptor), {}};
        for (const dvbpsi_pmt_es_t* es = pmt->p_first_es; es != nullptr; es = es->p_next) {
            decoded.streams.emplace_back(es->i_type, es->i_pid);
            decoded.streamDescriptors.push_back(Descriptors(es->p_first_descriptor));
        }
        static_cast<Handle*>(data)->owner->pmts.push_back(std::move(decoded));
        dvbpsi_pmt_delete(pmt);
    }

    static void OnCat(void* data, dvbpsi_cat_t* cat) {
        static_cast<Handle*>(data)->owner->cats.push_back(Descriptors(cat->p_first_descriptor));
        static_cast<Handle*>(data)->owner->catVersions.push_back(cat->i_version);
        dvbpsi_cat_delete(cat);
    }

    static void OnSdt(void* data, dvbpsi_sdt_t* sdt) {
        DecodedSdt decoded{sdt->i_extension, sdt->i_network_id, {}, sdt->i_version};
        for (const dvbpsi_sdt_service_t* s = sdt->p_first_service; s != nullptr; s = s->p_next) {
            decoded.services.push_back({s->i_service_id, Descriptors(s->p_first_descriptor), s->b_eit_schedule,
                                        s->b_eit_present, s->i_running_status, s->b_free_ca});
        }
        static_cast<Handle*>(data)->owner->sdts.push_back(std::move(decoded));
        dvbpsi_sdt_delete(sdt);
    }

    static void OnMgt(void* data, dvbpsi_atsc_mgt_t* mgt) {
        std::vector<DecodedMgtTable> tables;
        for (const dvbpsi_atsc_mgt_table_t* t = mgt->p_first_table; t != nullptr; t = t->p_next) {
            tables.push_back({t->i_table_type, t->i_table_type_pid, t->i_number_bytes, t->i_table_type_version});
        }
        static_cast<Handle*>(data)->owner->mgts.push_back(std::move(tables));
        static_cast<Handle*>(data)->owner->mgtVersions.push_back(mgt->i_version);
        dvbpsi_atsc_DeleteMGT(mgt);
    }

    static void OnVct(void* data, dvbpsi_atsc_vct_t* vct) {
        DecodedVct decoded{vct->b_cable_vct ? U8{0xC9} : U8{0xC8}, {}, vct->i_version};
        for (const dvbpsi_atsc_vct_channel_t* c = vct->p_first_channel; c != nullptr; c = c->p_next) {
            decoded.channels.push_back({c->i_major_number, c->i_minor_number, c->i_program_number, c->i_source_id,
                                        c->i_modulation, c->i_carrier_freq, c->i_service_type});
        }
        static_cast<Handle*>(data)->owner->vcts.push_back(std::move(decoded));
        dvbpsi_atsc_DeleteVCT(vct);
    }

    static void OnNit(void* data, dvbpsi_nit_t* nit) {
        DecodedNit decoded;
        decoded.networkId = nit->i_network_id;
        decoded.version = nit->i_version;
        decoded.network = Descriptors(nit->p_first_descriptor);
        for (const dvbpsi_nit_ts_t* ts = nit->p_first_ts; ts != nullptr; ts = ts->p_next) {
            decoded.entries.push_back({ts->i_ts_id, ts->i_orig_network_id, Descriptors(ts->p_first_descriptor)});
        }
        static_cast<Handle*>(data)->owner->nits.push_back(std::move(decoded));
        dvbpsi_nit_delete(nit);
    }

    static void OnTime(void* data, dvbpsi_tot_t* tot) {
        static_cast<Handle*>(data)->owner->times.push_back(
            {tot->i_table_id, tot->i_utc_time, Descriptors(tot->p_first_descriptor)});
        dvbpsi_tot_delete(tot);
    }

    static void OnStt(void* data, dvbpsi_atsc_stt_t* stt) {
        static_cast<Handle*>(data)->owner->stts.push_back(
            {stt->i_system_time, stt->i_gps_utc_offset, stt->i_daylight_savings});
        dvbpsi_atsc_DeleteSTT(stt);
    }

    static void OnNewSubtable(dvbpsi_t* handle, uint8_t tableId, uint16_t extension, void* data) {
        switch (tableId) {
            case 0x40: dvbpsi_nit_attach(handle, tableId, extension, OnNit, data); break;
            case 0x70:
            case 0x73: dvbpsi_tot_attach(handle, tableId, extension, OnTime, data); break;
            case 0xCD: dvbpsi_atsc_AttachSTT(handle, tableId, extension, OnStt, data); break;
            case 0x42: dvbpsi_sdt_attach(handle, tableId, extension, OnSdt, data); break;
            case 0xC7: dvbpsi_atsc_AttachMGT(handle, tableId, extension, OnMgt, data); break;
            case 0xC8:
            case 0xC9: dvbpsi_atsc_AttachVCT(handle, tableId, extension, OnVct, data); break;
            default: break;
        }
    }
};

PsiDecoder::PsiDecoder() = default;
PsiDecoder::~PsiDecoder() = default;

void PsiDecoder::WatchPmt(U16 pid, U16 program) { pmtPrograms_[pid].push_back(program); }

PsiDecoder::Handle& PsiDecoder::HandleFor(U16 pid) {
    auto& list = handles_[pid];
    if (!list.empty()) {
        return *list.front();
    }
    auto make = [&](Handle::Kind kind) {
        auto handle = std::make_unique<Handle>();
        handle->owner = this;
        handle->kind = kind;
        handle->pid = pid;
        handle->dvbpsi = dvbpsi_new(Handle::OnMessage, DVBPSI_MSG_DEBUG);
        handle->dvbpsi->p_sys = handle.get();
        return handle;
    };
    if (pid == 0) {
        auto handle = make(Handle::Kind::Pat);
        dvbpsi_pat_attach(handle->dvbpsi, Handle::OnPat, handle.get());
        list.push_back(std::move(handle));
    } else if (pid == 1) {
        auto handle = make(Handle::Kind::Cat);
        dvbpsi_cat_attach(handle->dvbpsi, Handle::OnCat, handle.get());
        list.push_back(std::move(handle));
    } else if (auto programs = pmtPrograms_.find(pid); programs != pmtPrograms_.end()) {
        for (U16 program : programs->second) {
            auto handle = make(Handle::Kind::Pmt);
            dvbpsi_pmt_attach(handle->dvbpsi, program, Handle::OnPmt, handle.get());
            list.push_back(std::move(handle));
        }
    } else {
        auto handle = make(Handle::Kind::Demux);
        dvbpsi_AttachDemux(handle->dvbpsi, Handle::OnNewSubtable, handle.get());
        list.push_back(std::move(handle));
    }
    return *list.front();
}

void PsiDecoder::Push(std::span<const U8> stream) {
    for (std::size_t at = 0; at + kPacket <= stream.size(); at += kPacket) {
        const U8* packet = stream.data() + at;
        const U16 pid = static_cast<U16>(((packet[1] & 0x1F) << 8) | packet[2]);
        ++packets_[pid];
        if ((packet[1] & 0x40) != 0) {
            ++starts_[pid];
        }
        HandleFor(pid);
        for (auto& handle : handles_[pid]) {
            dvbpsi_packet_push(handle->dvbpsi, const_cast<U8*>(packet));
        }
    }
}

std::vector<std::string> PsiDecoder::Problems() const {
    std::vector<std::string> problems;
    for (const std::string& message : messages_) {
        std::string lower = message;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower.find("discontinuity") != std::string::npos || lower.find("duplicate") != std::string::npos ||
            lower.find("crc") != std::string::npos) {
            problems.push_back(message);
        }
    }
    return problems;
}

std::size_t PsiDecoder::PacketsOn(U16 pid) const {
    const auto found = packets_.find(pid);
    return found == packets_.end() ? 0 : found->second;
}

std::size_t PsiDecoder::SectionStartsOn(U16 pid) const {
    const auto found = starts_.find(pid);
    return found == starts_.end() ? 0 : found->second;
}

std::unique_ptr<PsiDecoder> DecodeWithPmts(std::span<const U8> stream) {
    PsiDecoder patReader;
    patReader.Push(stream);
    auto decoder = std::make_unique<PsiDecoder>();
    if (!patReader.patTables.empty()) {
        for (const auto& [program, pid] : patReader.patTables.back().programs) {
            decoder->WatchPmt(pid, program);
        }
    }
    decoder->Push(stream);
    return decoder;
}

std::pair<std::string, std::string> ServiceDescriptorNames(const DecodedSdtService& service) {
    for (const RawDescriptor& descriptor : service.descriptors) {
        const std::vector<U8>& bytes = descriptor.data;
        if (descriptor.tag != 0x48 || bytes.size() < 3 || bytes.size() < 3u + bytes[1]) {
            continue;
        }
        const std::size_t providerLength = bytes[1];
        const std::size_t nameLength =
            std::min<std::size_t>(bytes[2 + providerLength], bytes.size() - 3 - providerLength);
        return {std::string(bytes.begin() + 2, bytes.begin() + 2 + static_cast<std::ptrdiff_t>(providerLength)),
                std::string(bytes.begin() + 3 + static_cast<std::ptrdiff_t>(providerLength),
                            bytes.begin() + 3 + static_cast<std::ptrdiff_t>(providerLength + nameLength))};
    }
    return {};
}

std::vector<U8> Packetize(U16 pid, std::span<const U8> sections, U8 cc) {
    std::vector<U8> out;
    for (std::size_t offset = 0; offset + 3 <= sections.size();) {
        const std::size_t bytes = (((sections[offset + 1] & 0x0F) << 8) | sections[offset + 2]) + 3;
        for (std::size_t done = 0; done < bytes;) {
            std::vector<U8> packet(kPacket, 0xFF);
            packet[0] = 0x47;
            packet[1] = static_cast<U8>((done == 0 ? 0x40 : 0) | (pid >> 8));
            packet[2] = static_cast<U8>(pid);
            packet[3] = static_cast<U8>(0x10 | (cc++ & 0x0F));
            std::size_t at = 4;
            if (done == 0) {
                packet[at++] = 0;
            }
            const std::size_t take = std::min(kPacket - at, bytes - done);
            std::copy_n(sections.begin() + static_cast<std::ptrdiff_t>(offset + done), take, packet.begin() + at);
            done += take;
            out.insert(out.end(), packet.begin(), packet.end());
        }
        offset += bytes;
    }
    return out;
}

}  // namespace hx::test

#include "snmp/qam_mib.h"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "core/log.h"
#include "platform/qam_apply.h"
#include "platform/z160t_status.h"
#include "snmp/channel_plan.h"
#include "snmp/qam_mib_values.h"
#include "web/web_accessors.h"

namespace hx {

namespace {

// 1.3.6.1.4.1.53117.8
constexpr std::array<oid, 8> kBoardPrefix = {1, 3, 6, 1, 4, 1, 53117, 8};
constexpr oid kStatusBranch = 1;
constexpr oid kConfigBranch = 2;
constexpr oid kTemperatureLeaf = 1;
constexpr oid kBaseInfoTableLeaf = 2;
constexpr oid kRfLevelLeaf = 1;
constexpr oid kPSIIntervalLeaf = 2;
constexpr oid kParamTableLeaf = 3;
constexpr oid kChannelStandardLeaf = 4;
constexpr oid kTableEntry = 1;

std::array<oid, 10> BoardOid(oid branch, oid leaf) {
    std::array<oid, 10> name{};
    std::copy(kBoardPrefix.begin(), kBoardPrefix.end(), name.begin());
    name[8] = branch;
    name[9] = leaf;
    return name;
}

// The state of one SET request, shared by the handlers its varbinds reach and
// kept with the request until the library frees it.
constexpr const char* kSetStateName = "qam:set";

struct PendingSet {
    MibSet set;
    const netsnmp_variable_list* varbind;
};

struct SetState {
    std::vector<PendingSet> pending;
    std::vector<MibSet> sets;
    std::optional<MibSetFailure> refused;
    bool applied = false;
    MibSetOutcome outcome;
};

void FreeSetState(void* state) { delete static_cast<SetState*>(state); }

bool UnderBoard(const netsnmp_variable_list* varbind) {
    return varbind->name_length > kBoardPrefix.size() &&
           std::equal(kBoardPrefix.begin(), kBoardPrefix.end(), varbind->name);
}

long IntegerOf(const netsnmp_variable_list* varbind) {
    return varbind->type == ASN_INTEGER && varbind->val.integer != nullptr ? *varbind->val.integer : 0;
}

// The writable object a varbind of the request names; nullopt for anything
// else (the library has already refused what no handler here registered).
std::optional<MibSet> SetOf(const netsnmp_variable_list* varbind) {
    if (!UnderBoard(varbind)) {
        return std::nullopt;
    }
    const oid* rest = varbind->name + kBoardPrefix.size();
    const std::size_t length = varbind->name_length - kBoardPrefix.size();
    MibSet set;
    set.integer = IntegerOf(varbind);
    if (length == 3 && rest[0] == kConfigBranch && rest[2] == 0) {
        switch (rest[1]) {
            case kRfLevelLeaf:
                set.target = MibTarget::RfLevel;
                return set;
            case kPSIIntervalLeaf:
                set.target = MibTarget::PSIInterval;
                return set;
            case kChannelStandardLeaf:
                set.target = MibTarget::ChannelStandard;
                return set;
            default:
                return std::nullopt;
        }
    }
    if (length == 5 && rest[0] == kConfigBranch && rest[1] == kParamTableLeaf && rest[2] == kTableEntry) {
        set.target = MibTarget::ParamColumn;
        set.column = static_cast<U32>(rest[3]);
        set.row = static_cast<U32>(std::min<oid>(rest[4], 0xFFFFFFFF));
        if (varbind->type == ASN_OCTET_STR && varbind->val.string != nullptr) {
            set.text.assign(reinterpret_cast<const char*>(varbind->val.string), varbind->val_len);
        }
        return set;
    }
    return std::nullopt;
}

// The request's SET state, built at the first handler call after every
// varbind's type was checked: all of this subtree's varbinds, in request
// order, checked together against a copy of the live set.
SetState& RequestSetState(netsnmp_agent_request_info* reqinfo) {
    if (void* found = netsnmp_agent_get_list_data(reqinfo, kSetStateName)) {
        return *static_cast<SetState*>(found);
    }
    auto state = std::make_unique<SetState>();
    for (const netsnmp_variable_list* varbind = reqinfo->asp->pdu->variables; varbind != nullptr;
         varbind = varbind->next_variable) {
        if (std::optional<MibSet> set = SetOf(varbind)) {
            state->pending.push_back({*set, varbind});
            state->sets.push_back(std::move(*set));
        }
    }
    TParameter_QAM trial;
    {
        QamApplyGuard apply(QAM_ApplyLock());
        trial = *GetQAMPara_Handle();
    }
    state->refused = QamMib_CheckSets(trial, state->sets);
    if (state->refused) {
        DEBUGMSGTL(("qam:handler", "SET refused at varbind %zu: error %d\n", state->refused->position,
                    static_cast<int>(state->refused->error)));
    }
    SetState* raw = state.release();
    netsnmp_agent_add_list_data(reqinfo, netsnmp_create_data_list(kSetStateName, raw, FreeSetState));
    return *raw;
}

// The position of a handler's request among the request's SETs.
std::optional<std::size_t> PositionOf(const SetState& state, const netsnmp_request_info* request) {
    for (std::size_t position = 0; position < state.pending.size(); ++position) {
        if (state.pending[position].varbind == request->requestvb) {
            return position;
        }
    }
    return std::nullopt;
}

// Marks this handler's varbinds with what the whole-request check found.
void MarkCheck(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    const SetState& state = RequestSetState(reqinfo);
    if (!state.refused) {
        return;
    }
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        if (PositionOf(state, request) == state.refused->position) {
            netsnmp_set_request_error(reqinfo, request, static_cast<int>(state.refused->error));
        }
    }
}

// Applies the whole request once (the first handler of the request to get
// here does it) and marks this handler's varbinds with the outcome.
void ApplyAndMark(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    SetState& state = RequestSetState(reqinfo);
    if (!state.applied) {
        state.applied = true;
        state.outcome = QamMib_ApplySets(state.sets);
    }
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        const std::optional<std::size_t> position = PositionOf(state, request);
        if (!position) {
            continue;
        }
        if (state.outcome.refused && state.outcome.refused->position == *position) {
            netsnmp_set_request_error(reqinfo, request, static_cast<int>(state.outcome.refused->error));
        } else if (std::find(state.outcome.failedApplies.begin(), state.outcome.failedApplies.end(), *position) !=
                   state.outcome.failedApplies.end()) {
            netsnmp_set_request_error(reqinfo, request, SNMP_ERR_GENERR);
        }
    }
}

bool Applied(netsnmp_agent_request_info* reqinfo) {
    const SetState& state = RequestSetState(reqinfo);
    return state.applied && !state.outcome.refused;
}

TParameter_QAM LiveSnapshot() {
    QamApplyGuard apply(QAM_ApplyLock());
    return *GetQAMPara_Handle();
}

void SetInteger(netsnmp_request_info* request, long value) {
    snmp_set_var_typed_integer(request->requestvb, ASN_INTEGER, value);
}

void SetText(netsnmp_request_info* request, const char* text, std::size_t length) {
    snmp_set_var_typed_value(request->requestvb, ASN_OCTET_STR, text, length);
}

// The scalar SET modes that share one shape: INTEGER only, the request checked
// whole, then applied whole.
int ScalarSet(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    switch (reqinfo->mode) {
        case MODE_SET_RESERVE1:
            for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
                if (const int status = netsnmp_check_vb_type(request->requestvb, ASN_INTEGER);
                    status != SNMP_ERR_NOERROR) {
                    netsnmp_set_request_error(reqinfo, request, status);
                }
            }
            return SNMP_ERR_NOERROR;
        case MODE_SET_RESERVE2:
            MarkCheck(reqinfo, requests);
            return SNMP_ERR_NOERROR;
        case MODE_SET_ACTION:
            ApplyAndMark(reqinfo, requests);
            return SNMP_ERR_NOERROR;
        default:
            return SNMP_ERR_NOERROR;
    }
}

bool IsSetMode(int mode) {
    return mode == MODE_SET_RESERVE1 || mode == MODE_SET_RESERVE2 || mode == MODE_SET_ACTION ||
           mode == MODE_SET_COMMIT || mode == MODE_SET_FREE || mode == MODE_SET_UNDO;
}

// A read-only object refuses every SET in its first pass.
void RefuseSet(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    if (reqinfo->mode != MODE_SET_RESERVE1) {
        return;
    }
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        netsnmp_set_request_error(reqinfo, request, SNMP_ERR_NOTWRITABLE);
    }
}

}  // namespace

// ---- Rows -------------------------------------------------------------------

struct baseInfoTable_entry {
    long index = 0;
    std::array<char, 128> status{};
    std::size_t status_len = 0;
    std::unique_ptr<baseInfoTable_entry> next;
};

// Columns 2 to 7 as last read or set, and the name of column 8.
struct paramTable_entry {
    struct Cached {
        long current = 0;
        long previous = 0;
    };
    long index = 0;
    std::array<Cached, 6> columns{};
    std::array<char, kChannelNameSize> name{};
    std::size_t name_len = 0;
    std::array<char, kChannelNameSize> old_name{};
    std::size_t old_name_len = 0;
    std::unique_ptr<paramTable_entry> next;
};

namespace {

std::unique_ptr<baseInfoTable_entry> baseInfoTable_head;
std::unique_ptr<paramTable_entry> paramTable_head;

// Pushes a row at the head of a list; the lists are built from the last row
// down, so they run in ascending index order.
template <typename Row>
Row* PushRow(std::unique_ptr<Row>& head, long index) {
    auto row = std::make_unique<Row>();
    row->index = index;
    row->next = std::move(head);
    head = std::move(row);
    return head.get();
}

template <typename Row>
void UnlinkRow(std::unique_ptr<Row>& head, Row* row) {
    for (std::unique_ptr<Row>* link = &head; *link; link = &(*link)->next) {
        if (link->get() == row) {
            *link = std::move(row->next);
            return;
        }
    }
}

template <typename Row>
netsnmp_variable_list* NextRow(void** loop_context, void** data_context, netsnmp_variable_list* put_index_data) {
    auto* row = static_cast<Row*>(*loop_context);
    if (row == nullptr) {
        return nullptr;
    }
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, row->index);
    *data_context = row;
    *loop_context = row->next.get();
    return put_index_data;
}

}  // namespace

baseInfoTable_entry* baseInfoTable_createEntry(long index) { return PushRow(baseInfoTable_head, index); }
void baseInfoTable_removeEntry(baseInfoTable_entry* row) { UnlinkRow(baseInfoTable_head, row); }
paramTable_entry* paramTable_createEntry(long index) { return PushRow(paramTable_head, index); }
void paramTable_removeEntry(paramTable_entry* row) { UnlinkRow(paramTable_head, row); }

netsnmp_variable_list* baseInfoTable_get_next_data_point(void** loop_context, void** data_context,
                                                          netsnmp_variable_list* put_index_data,
                                                          netsnmp_iterator_info*) {
    return NextRow<baseInfoTable_entry>(loop_context, data_context, put_index_data);
}

netsnmp_variable_list* baseInfoTable_get_first_data_point(void** loop_context, void** data_context,
                                                           netsnmp_variable_list* put_index_data,
                                                           netsnmp_iterator_info* mydata) {
    *loop_context = baseInfoTable_head.get();
    return baseInfoTable_get_next_data_point(loop_context, data_context, put_index_data, mydata);
}

netsnmp_variable_list* paramTable_get_next_data_point(void** loop_context, void** data_context,
                                                       netsnmp_variable_list* put_index_data, netsnmp_iterator_info*) {
    return NextRow<paramTable_entry>(loop_context, data_context, put_index_data);
}

netsnmp_variable_list* paramTable_get_first_data_point(void** loop_context, void** data_context,
                                                        netsnmp_variable_list* put_index_data,
                                                        netsnmp_iterator_info* mydata) {
    *loop_context = paramTable_head.get();
    return paramTable_get_next_data_point(loop_context, data_context, put_index_data, mydata);
}

// ---- Scalar handlers ----------------------------------------------------------

int handle_temperature(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                       netsnmp_request_info* requests) {
    if (reqinfo->mode == MODE_GET) {
        SetInteger(requests, static_cast<long>(Web_GetStatus()->u32Temperature.load()));
        return SNMP_ERR_NOERROR;
    }
    if (IsSetMode(reqinfo->mode)) {
        RefuseSet(reqinfo, requests);
        return SNMP_ERR_NOERROR;
    }
    snmp_log(LOG_ERR, "unknown mode (%d) in handle_temperature\n", reqinfo->mode);
    return SNMP_ERR_GENERR;
}

namespace {

// The read-write scalars differ only in what a GET reads: a value, or none
// when this annex mode does not serve the object.
int ReadWriteScalar(const char* handler, netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests,
                    std::optional<long> (*read)()) {
    if (reqinfo->mode == MODE_GET) {
        if (const std::optional<long> value = read()) {
            SetInteger(requests, *value);
        } else {
            netsnmp_set_request_error(reqinfo, requests, SNMP_NOSUCHINSTANCE);
        }
        return SNMP_ERR_NOERROR;
    }
    if (IsSetMode(reqinfo->mode)) {
        return ScalarSet(reqinfo, requests);
    }
    snmp_log(LOG_ERR, "unknown mode (%d) in %s\n", reqinfo->mode, handler);
    return SNMP_ERR_GENERR;
}

}  // namespace

int handle_rfLevel(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                   netsnmp_request_info* requests) {
    return ReadWriteScalar(__func__, reqinfo, requests,
                           [] { return std::optional<long>(QamMib_RfLevel(LiveSnapshot())); });
}

int handle_PSIInterval(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                       netsnmp_request_info* requests) {
    return ReadWriteScalar(__func__, reqinfo, requests, [] {
        U16 interval = 0;
        Web_GetPSIInterval(&interval);
        return std::optional<long>(interval);
    });
}

int handle_channelStandard(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                           netsnmp_request_info* requests) {
    return ReadWriteScalar(__func__, reqinfo, requests, [] { return QamMib_ChannelStandard(LiveSnapshot()); });
}

// ---- Table handlers -----------------------------------------------------------

int baseInfoTable_handler(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                          netsnmp_request_info* requests) {
    if (IsSetMode(reqinfo->mode)) {
        RefuseSet(reqinfo, requests);
        return SNMP_ERR_NOERROR;
    }
    if (reqinfo->mode != MODE_GET) {
        return SNMP_ERR_NOERROR;
    }
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        auto* row = static_cast<baseInfoTable_entry*>(netsnmp_extract_iterator_context(request));
        const netsnmp_table_request_info* table_info = netsnmp_extract_table_info(request);
        if (row == nullptr || table_info == nullptr) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            continue;
        }
        switch (table_info->colnum) {
            case 1:
                SetInteger(request, row->index);
                break;
            case 2: {
                const std::string text = QamMib_BaseInfoText(static_cast<U32>(row->index));
                row->status_len = std::min(text.size(), row->status.size() - 1);
                std::memcpy(row->status.data(), text.data(), row->status_len);
                row->status[row->status_len] = '\0';
                SetText(request, row->status.data(), row->status_len);
                break;
            }
            default:
                netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
                break;
        }
    }
    return SNMP_ERR_NOERROR;
}

namespace {

// The type a paramTable column takes in a SET; notWritable for the index and
// columns that do not exist.
int CheckParamType(const netsnmp_variable_list* varbind, U32 column) {
    if (column == kParamChannelName) {
        return netsnmp_check_vb_type_and_max_size(varbind, ASN_OCTET_STR, kChannelNameSize);
    }
    if (column >= kParamEnable && column <= kParamAnnexBConstellation) {
        return netsnmp_check_vb_type(varbind, ASN_INTEGER);
    }
    return SNMP_ERR_NOTWRITABLE;
}

// The row cache after an applied SET: the value set becomes current, the one
// before it previous.
void CacheSet(paramTable_entry& row, U32 column, const netsnmp_variable_list* varbind) {
    if (column == kParamChannelName) {
        row.old_name = row.name;
        row.old_name_len = row.name_len;
        row.name_len = std::min<std::size_t>(varbind->val_len, row.name.size());
        std::memcpy(row.name.data(), varbind->val.string, row.name_len);
        return;
    }
    paramTable_entry::Cached& cached = row.columns[column - kParamEnable];
    cached.previous = cached.current;
    cached.current = IntegerOf(varbind);
}

void CacheUndo(paramTable_entry& row, U32 column) {
    if (column == kParamChannelName) {
        row.name = row.old_name;
        row.name_len = row.old_name_len;
        row.old_name = {};
        row.old_name_len = 0;
        return;
    }
    paramTable_entry::Cached& cached = row.columns[column - kParamEnable];
    cached.current = cached.previous;
    cached.previous = 0;
}

void ParamGet(netsnmp_agent_request_info* reqinfo, netsnmp_request_info* requests) {
    const TParameter_QAM table = LiveSnapshot();
    for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
        auto* row = static_cast<paramTable_entry*>(netsnmp_extract_iterator_context(request));
        const netsnmp_table_request_info* table_info = netsnmp_extract_table_info(request);
        if (row == nullptr || table_info == nullptr) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            continue;
        }
        const U32 column = table_info->colnum;
        if (column < kParamIndex || column > kParamColumns) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
            continue;
        }
        const std::optional<MibCell> cell = QamMib_ParamCell(table, static_cast<U32>(row->index), column);
        if (!cell) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
        } else if (cell->text) {
            row->name_len = std::min(cell->text->size(), row->name.size());
            std::memcpy(row->name.data(), cell->text->data(), row->name_len);
            SetText(request, row->name.data(), row->name_len);
        } else {
            if (column >= kParamEnable) {
                row->columns[column - kParamEnable].current = cell->integer;
            }
            SetInteger(request, cell->integer);
        }
    }
}

}  // namespace

int paramTable_handler(netsnmp_mib_handler*, netsnmp_handler_registration*, netsnmp_agent_request_info* reqinfo,
                       netsnmp_request_info* requests) {
    switch (reqinfo->mode) {
        case MODE_GET:
            ParamGet(reqinfo, requests);
            return SNMP_ERR_NOERROR;
        case MODE_SET_RESERVE1:
            for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
                const netsnmp_table_request_info* table_info = netsnmp_extract_table_info(request);
                if (table_info == nullptr) {
                    netsnmp_set_request_error(reqinfo, request, SNMP_ERR_NOCREATION);
                    return SNMP_ERR_NOERROR;
                }
                const int status = CheckParamType(request->requestvb, table_info->colnum);
                if (status != SNMP_ERR_NOERROR) {
                    netsnmp_set_request_error(reqinfo, request, status);
                    return SNMP_ERR_NOERROR;
                }
                if (netsnmp_extract_iterator_context(request) == nullptr) {
                    netsnmp_set_request_error(reqinfo, request, SNMP_ERR_NOCREATION);
                    return SNMP_ERR_NOERROR;
                }
            }
            return SNMP_ERR_NOERROR;
        case MODE_SET_RESERVE2:
            MarkCheck(reqinfo, requests);
            return SNMP_ERR_NOERROR;
        case MODE_SET_ACTION:
            ApplyAndMark(reqinfo, requests);
            if (Applied(reqinfo)) {
                for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
                    auto* row = static_cast<paramTable_entry*>(netsnmp_extract_iterator_context(request));
                    if (row != nullptr) {
                        CacheSet(*row, netsnmp_extract_table_info(request)->colnum, request->requestvb);
                    }
                }
            }
            return SNMP_ERR_NOERROR;
        case MODE_SET_UNDO:
            // Only the caches go back: what ACTION applied stays in the live set and the modulator.
            if (Applied(reqinfo)) {
                for (netsnmp_request_info* request = requests; request != nullptr; request = request->next) {
                    auto* row = static_cast<paramTable_entry*>(netsnmp_extract_iterator_context(request));
                    if (row != nullptr) {
                        CacheUndo(*row, netsnmp_extract_table_info(request)->colnum);
                    }
                }
            }
            return SNMP_ERR_NOERROR;
        default:
            return SNMP_ERR_NOERROR;
    }
}

// ---- Registration -------------------------------------------------------------

namespace {

template <typename Row>
void RegisterTable(const char* name, oid leaf, Netsnmp_Node_Handler* handler, int modes, unsigned maxColumn,
                   Netsnmp_First_Data_Point* first, Netsnmp_Next_Data_Point* next, std::unique_ptr<Row>& head,
                   Row* (*createEntry)(long)) {
    const std::array<oid, 10> tableOid = BoardOid(leaf == kBaseInfoTableLeaf ? kStatusBranch : kConfigBranch, leaf);
    netsnmp_handler_registration* registration =
        netsnmp_create_handler_registration(name, handler, tableOid.data(), tableOid.size(), modes);
    auto* table_info = SNMP_MALLOC_TYPEDEF(netsnmp_table_registration_info);
    netsnmp_table_helper_add_indexes(table_info, ASN_INTEGER, 0);
    table_info->min_column = 1;
    table_info->max_column = maxColumn;
    auto* iinfo = SNMP_MALLOC_TYPEDEF(netsnmp_iterator_info);
    iinfo->get_first_data_point = first;
    iinfo->get_next_data_point = next;
    iinfo->table_reginfo = table_info;
    netsnmp_register_table_iterator(registration, iinfo);
    // The iterator's handler frees the iterator and table information when the agent shuts down.
    if (netsnmp_mib_handler* iterator = netsnmp_find_handler_by_name(registration, "table_iterator")) {
        netsnmp_handler_owns_iterator_info(iterator);
    }
    head.reset();
    for (long index = static_cast<long>(QamMib_Rows()); index >= 1; --index) {
        createEntry(index);
    }
    DEBUGMSGTL(("qam:init", "%s registered with %u rows\n", name, QamMib_Rows()));
}

void RegisterScalar(const char* name, oid branch, oid leaf, Netsnmp_Node_Handler* handler, int modes) {
    const std::array<oid, 10> scalarOid = BoardOid(branch, leaf);
    netsnmp_register_scalar(netsnmp_create_handler_registration(name, handler, scalarOid.data(), scalarOid.size(), modes));
}

}  // namespace

void initialize_table_baseInfoTable() {
    RegisterTable<baseInfoTable_entry>("baseInfoTable", kBaseInfoTableLeaf, baseInfoTable_handler, HANDLER_CAN_RONLY, 2,
                                       baseInfoTable_get_first_data_point, baseInfoTable_get_next_data_point,
                                       baseInfoTable_head, baseInfoTable_createEntry);
}

void initialize_table_paramTable() {
    RegisterTable<paramTable_entry>("paramTable", kParamTableLeaf, paramTable_handler, HANDLER_CAN_RWRITE,
                                    kParamColumns, paramTable_get_first_data_point, paramTable_get_next_data_point,
                                    paramTable_head, paramTable_createEntry);
}

void init_qam() {
    DEBUGMSGTL(("qam", "Initializing\n"));
    RegisterScalar("temperature", kStatusBranch, kTemperatureLeaf, handle_temperature, HANDLER_CAN_RONLY);
    RegisterScalar("rfLevel", kConfigBranch, kRfLevelLeaf, handle_rfLevel, HANDLER_CAN_RWRITE);
    RegisterScalar("PSIInterval", kConfigBranch, kPSIIntervalLeaf, handle_PSIInterval, HANDLER_CAN_RWRITE);
    RegisterScalar("channelStandard", kConfigBranch, kChannelStandardLeaf, handle_channelStandard, HANDLER_CAN_RWRITE);
    initialize_table_baseInfoTable();
    initialize_table_paramTable();
}

}  // namespace hx

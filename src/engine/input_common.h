// Helpers the input-message handlers share: the entry checks of a counted
// handler, copying a record out of a message, the field checks that refuse a
// message before anything changes, and finding where an append goes. Private
// to the engine; every caller holds the model lock.
#pragma once

#include <cstddef>
#include <cstring>

#include "core/log.h"
#include "engine/model_records.h"

namespace hx {

// Highest values the routing words and tables hold.
constexpr U32 kMaxSourceStream = 1023;
constexpr U32 kMaxInputPid = 0x1FFF;
constexpr U32 kMaxNameLength = 32;

// Null records, N = 0 (0xC0000) or fewer bytes than N records (0xC0006), the
// product taken in 32 bits. 0 when the records are there.
U32 Input_CheckCounted(const char* function, const U8* records, U16 number, U32 length, std::size_t recordSize,
                       const char* kind);

// Record `index` of a message, copied into a zeroed local record: after the
// count byte records are unaligned, so the buffer is never cast.
template <typename Record>
Record Input_Read(const U8* records, U16 index) {
    Record record{};
    std::memcpy(&record, records + static_cast<std::size_t>(index) * sizeof(Record), sizeof(Record));
    return record;
}

// Collects the field checks of one message; every failed check logs the
// record and the field, so one message can report several.
class RecordChecks {
public:
    explicit RecordChecks(const char* function) : function_(function) {}

    void AtMost(U16 record, const char* field, U32 value, U32 limit);
    bool Passed() const { return passed_; }

private:
    const char* function_;
    bool passed_ = true;
};

// The checks a counted handler makes before it changes anything: the entry
// checks, then `check(checks, index, record)` on every record. 0 when the
// message may be applied; the entry check's code or 0xC0000.
template <typename Record, typename Check>
U32 Input_CheckMessage(const char* function, const U8* records, U16 number, U32 length, const char* kind,
                       Check check) {
    if (const U32 result = Input_CheckCounted(function, records, number, length, sizeof(Record), kind); result != 0) {
        return result;
    }
    RecordChecks checks(function);
    for (U16 i = 0; i < number; ++i) {
        check(checks, i, Input_Read<Record>(records, i));
    }
    return checks.Passed() ? 0 : kTspErrInput;
}

// The chains input messages append to, by owner.
enum class InputChain : U8 {
    Programs,          // of a stream
    Descriptors,       // of a stream
    ElementaryStreams, // of a program
    ProgramEcms,       // of a program
    EsEcms,            // of an ES
    Emms,              // of a stream
    Others,            // of a stream
};

// Where a record appended to the chain of `owner` goes: the chain's last
// member, or 0xFFFF when the chain is empty. A walker failure passes up
// (logged with the walker's name); a chain already as long as its walkers
// accept (300 programs or PIDs; 299 descriptors or ES-level ECMs, where the
// descriptor walker and the delete orders' ECM walker stop) gives 0xC0008,
// since one more would make every later walk of it fail.
//
// The tail the last append left is taken without a walk when that record
// still says it is the tail (in use, naming the owner, no next link): in a
// model whose links agree both ways, as the invariant checker holds them,
// that is the record a walk would end at, and the owner's count the walk's
// length. The sanitizer builds walk all the same and abort on a difference.
U32 Input_AppendPoint(const char* function, InputChain chain, U16 owner, Output_TSInfo* model, U16* last);
// Records the member just linked at the end of the owner's chain.
void Input_Appended(InputChain chain, U16 owner, U16 index);

}  // namespace hx
